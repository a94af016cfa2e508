// The capture file: an AVI that stays valid and fully indexed on disk after every frame.
#pragma once

#include <kelvra/media/avi_format.h>
#include <kelvra/media/status.h>

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

namespace kelvra::media {

struct AviWriterOptions {
    bool syncToDisk = true;                  // fdatasync at each step of an append
    uint64_t riffLimit = uint64_t(1) << 30;  // where an OpenDML 'AVIX' segment begins (tests lower it)
};

class AviWriter {
public:
    virtual ~AviWriter() = default;

    // A missing file is created. An existing AVI whose video format matches is continued; any
    // other existing file is left untouched and the open fails (kNotAvi, kFormatMismatch).
    static Status open(const std::string& path, const AviVideoFormat& format, uint32_t microSecPerFrame,
                       const AviWriterOptions& options, std::unique_ptr<AviWriter>& out);

    // Appends one frame. On return the file holds it, indexed; on failure the file still holds
    // every earlier frame.
    virtual Status append(const uint8_t* data, size_t size, bool keyframe) = 0;
    // Takes the last frame out of the file and hands back its bytes and whether it was a
    // keyframe. At every moment of the removal the file reads as all its frames or all but the
    // last. A file without frames gives kNoFrames and stays as it is.
    virtual Status removeLastFrame(std::vector<uint8_t>& payload, bool& keyframe) = 0;
    virtual Status setMicroSecPerFrame(uint32_t microSecPerFrame) = 0;
    virtual uint32_t microSecPerFrame() const = 0;
    virtual uint64_t frameCount() const = 0;
    virtual const std::string& path() const = 0;
    virtual Status close() = 0;
};

// What an existing file holds, without changing it.
struct AviFileInfo {
    AviVideoFormat format;
    uint64_t frames = 0;
    uint32_t microSecPerFrame = 0;
};
Status probeAvi(const std::string& path, AviFileInfo& info);

}  // namespace kelvra::media
