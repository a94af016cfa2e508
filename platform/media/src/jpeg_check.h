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

    // OK when `data` starts with SOI, ends with EOI, says it is width x height and its scan is
    // whole, or else decodes without an error; otherwise a sentence saying what is wrong.
    Status check(const uint8_t* data, size_t size, int width, int height);

    // The decoder's verdict alone (at an eighth of the size): OK when it finds no error.
    Status decode(const uint8_t* data, size_t size);

private:
    AVCodecContext* decoder_ = nullptr;
    AVPacket* packet_ = nullptr;
    AVFrame* picture_ = nullptr;
    std::vector<uint8_t> padded_;  // the decoder's copy of a picture (it reads past the end), or the scan's data
};

// True when `data` is a baseline JPEG whose scan holds exactly the blocks its frame header asks
// for, in codes its tables have, with restart markers in turn and EOI right after; false when it
// is not so, or is of a kind this reading does not cover (the decoder then decides). `scratch`
// holds the scan's data meanwhile.
bool scanIsWhole(const uint8_t* data, size_t size, std::vector<uint8_t>& scratch);

// How long the picture is, up to and with its EOI marker, past the zero bytes some cameras pad
// buffers with; 0 when it does not end with EOI.
size_t jpegLength(const uint8_t* data, size_t size);

// The picture size a JPEG's frame header gives; false when its markers do not lead to one.
bool jpegSize(const uint8_t* data, size_t size, int& width, int& height);

}  // namespace kelvra::media
