// The video stream format as an AVI file records it (strh handler, strf BITMAPINFOHEADER).
#pragma once

#include <cstdint>
#include <vector>

namespace kelvra::media {

constexpr uint32_t fourcc(char a, char b, char c, char d)
{
    return uint32_t(uint8_t(a)) | uint32_t(uint8_t(b)) << 8 | uint32_t(uint8_t(c)) << 16 | uint32_t(uint8_t(d)) << 24;
}

struct AviVideoFormat {
    int32_t width = 0;
    int32_t height = 0;       // positive: bottom-up rows, as BI_RGB files have them
    uint32_t compression = 0; // biCompression: 0 (BI_RGB) or a fourcc such as 'MJPG'
    uint32_t handler = 0;     // strh fccHandler
    uint16_t bitCount = 24;
    uint32_t sizeImage = 0;
    std::vector<uint8_t> extradata;  // codec data after the BITMAPINFOHEADER

    bool sameStream(const AviVideoFormat& o) const
    {
        return width == o.width && height == o.height && compression == o.compression && bitCount == o.bitCount;
    }
};

}  // namespace kelvra::media
