// A picture as the media core passes it around.
#pragma once

#include <chrono>
#include <cstdint>
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

// Bytes of one picture in a raw format (0 for MJPEG).
size_t frameBytes(PixelFormat format, int width, int height);

}  // namespace kelvra::media
