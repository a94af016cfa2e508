// Sizes of raw pictures.
#include <kelvra/media/frame.h>

namespace kelvra::media {

size_t frameBytes(PixelFormat format, int width, int height)
{
    if (width <= 0 || height <= 0)
        return 0;
    const size_t w = size_t(width), h = size_t(height);
    const size_t chromaW = (w + 1) / 2, chromaH = (h + 1) / 2;
    switch (format) {
    case PixelFormat::RGB24:
    case PixelFormat::BGR24:
        return w * h * 3;
    case PixelFormat::BGRA:
        return w * h * 4;
    case PixelFormat::YUYV422:
        return chromaW * 4 * h;  // a pixel pair shares one U and one V
    case PixelFormat::YUV420P:
        return w * h + 2 * chromaW * chromaH;
    case PixelFormat::NV12:
        return w * h + 2 * chromaW * chromaH;
    case PixelFormat::GRAY8:
        return w * h;
    case PixelFormat::MJPEG:
        return 0;
    }
    return 0;
}

}  // namespace kelvra::media
