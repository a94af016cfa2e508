// Compressors for the capture file.
#pragma once

#include <kelvra/media/avi_format.h>
#include <kelvra/media/frame.h>
#include <kelvra/media/status.h>

#include <memory>
#include <string>
#include <vector>

namespace kelvra::media {

enum class Codec {
    Uncompressed,  // BI_RGB, 24-bit bottom-up BGR: what every player reads
    MotionJpeg,    // 'MJPG', quality 1..100
    Lossless,      // 'FFV1'
};

struct CodecInfo {
    Codec codec;
    std::string name;  // "Full Frames (Uncompressed)", "Motion JPEG", ...
    bool hasQuality;
};

std::vector<CodecInfo> availableCodecs();

class Encoder {
public:
    virtual ~Encoder() = default;
    static Status create(Codec codec, int width, int height, int quality, std::unique_ptr<Encoder>& out);

    // Converts as needed and compresses one picture into `out`. A JPEG from a camera is checked
    // first and a damaged one fails; Motion JPEG at the picture's own size stores it as it came.
    virtual Status encode(const Frame& in, std::vector<uint8_t>& out, bool& keyframe) = 0;
    virtual const AviVideoFormat& format() const = 0;  // what the AVI headers must say
};

}  // namespace kelvra::media
