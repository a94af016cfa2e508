// Whether a camera's JPEG is one whole picture: USB cameras deliver empty, cut or damaged
// pictures now and then, and such a picture must never go into a recording.
#pragma once

#include <kelvra/media/status.h>

#include <cstddef>
#include <cstdint>
#include <vector>

struct AVCodecContext;
struct AVFrame;
struct AVPacket;

namespace kelvra::media {

class JpegCheck {
public:
    JpegCheck() = default;
    ~JpegCheck();
    JpegCheck(const JpegCheck&) = delete;
    JpegCheck& operator=(const JpegCheck&) = delete;

    // OK when `data` starts with SOI, ends with EOI, says it is width x height and decodes
    // without an error; otherwise a sentence saying what is wrong.
    Status check(const uint8_t* data, size_t size, int width, int height);

private:
    Status decode(const uint8_t* data, size_t size);

    AVCodecContext* decoder_ = nullptr;
    AVPacket* packet_ = nullptr;
    AVFrame* picture_ = nullptr;
    std::vector<uint8_t> padded_;  // the decoder may read a little past the end of its input
};

// The picture size a JPEG's frame header gives; false when its markers do not lead to one.
bool jpegSize(const uint8_t* data, size_t size, int& width, int& height);

}  // namespace kelvra::media
