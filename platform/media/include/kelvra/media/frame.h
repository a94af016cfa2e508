// A picture as the media core passes it around, and conversion between pixel formats.
#pragma once

#include <kelvra/media/status.h>

#include <chrono>
#include <cstdint>
#include <memory>
#include <vector>

namespace kelvra::media {

enum class PixelFormat {
    RGB24,    // packed R, G, B
    BGR24,    // packed B, G, R (what uncompressed AVI stores, bottom-up)
    BGRA,     // packed B, G, R, A: the display format (a 32-bit 0xAARRGGBB word on little-endian)
    YUYV422,  // packed Y0 U Y1 V
    YUV420P,  // three planes
    NV12,     // Y plane, interleaved UV plane
    GRAY8,
    MJPEG,    // data holds one JPEG picture
};

struct Frame {
    int width = 0;
    int height = 0;
    PixelFormat format = PixelFormat::RGB24;
    std::vector<uint8_t> data;  // planes one after another, rows without padding
    uint64_t sequence = 0;      // the source's number for this frame
    std::chrono::steady_clock::time_point captured{};
};

// Bytes of one picture in a raw format (0 for MJPEG, and for sizes that are not positive).
size_t frameBytes(PixelFormat format, int width, int height);

// Converts pictures from any PixelFormat (MJPEG is decoded) into any raw one, scaling when asked.
// The scaler, decoder and their buffers are kept between calls, so a stream of alike frames
// converts without allocating; reuse the output Frame for the same reason. Not thread-safe: one
// converter per thread.
class FrameConverter {
public:
    FrameConverter();
    ~FrameConverter();
    FrameConverter(const FrameConverter&) = delete;
    FrameConverter& operator=(const FrameConverter&) = delete;

    // `out` becomes `format` at width x height (0 = the input's size), with the input's sequence
    // and capture time. bottomUp stores the rows last to first, as BI_RGB bitmaps do.
    Status convert(const Frame& in, PixelFormat format, Frame& out, int width = 0, int height = 0,
                   bool bottomUp = false);

private:
    struct Impl;
    std::unique_ptr<Impl> impl_;
};

}  // namespace kelvra::media
