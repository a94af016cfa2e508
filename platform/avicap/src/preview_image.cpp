#include "preview_image.h"

#include <QBuffer>
#include <QImageReader>

#include <algorithm>
#include <cstdint>

namespace kelvra::avicap {

namespace {

struct Rgb {
    int r, g, b;
};

inline uint8_t clamp8(int v)
{
    return uint8_t(std::clamp(v, 0, 255));
}

// ITU-R BT.601, studio range, as cameras deliver YUV; integer form with 8 fractional bits.
inline Rgb yuvToRgb(int y, int u, int v)
{
    const int c = 298 * (y - 16) + 128, d = u - 128, e = v - 128;
    return {clamp8((c + 409 * e) >> 8), clamp8((c - 100 * d - 208 * e) >> 8), clamp8((c + 516 * d) >> 8)};
}

// Chroma planes of 4:2:0 formats round odd sizes up.
inline int half(int n)
{
    return (n + 1) / 2;
}

size_t requiredBytes(const media::Frame& f)
{
    const size_t w = size_t(f.width), h = size_t(f.height);
    switch (f.format) {
    case media::PixelFormat::RGB24:
    case media::PixelFormat::BGR24: return w * h * 3;
    case media::PixelFormat::BGRA: return w * h * 4;
    case media::PixelFormat::YUYV422: return size_t(half(f.width)) * 4 * h;
    case media::PixelFormat::YUV420P: return w * h + 2 * size_t(half(f.width)) * size_t(half(f.height));
    case media::PixelFormat::NV12: return w * h + 2 * size_t(half(f.width)) * size_t(half(f.height));
    case media::PixelFormat::GRAY8: return w * h;
    case media::PixelFormat::MJPEG: return 1;
    }
    return SIZE_MAX;
}

// One pixel of the frame; x and y are inside it.
Rgb samplePixel(const media::Frame& f, int x, int y)
{
    const uint8_t* d = f.data.data();
    const size_t w = size_t(f.width), h = size_t(f.height);
    switch (f.format) {
    case media::PixelFormat::RGB24: {
        const uint8_t* p = d + (y * w + x) * 3;
        return {p[0], p[1], p[2]};
    }
    case media::PixelFormat::BGR24: {
        const uint8_t* p = d + (y * w + x) * 3;
        return {p[2], p[1], p[0]};
    }
    case media::PixelFormat::BGRA: {
        const uint8_t* p = d + (y * w + x) * 4;
        return {p[2], p[1], p[0]};
    }
    case media::PixelFormat::YUYV422: {
        const uint8_t* pair = d + size_t(y) * size_t(half(f.width)) * 4 + size_t(x / 2) * 4;
        return yuvToRgb(pair[(x & 1) * 2], pair[1], pair[3]);
    }
    case media::PixelFormat::YUV420P: {
        const size_t cw = size_t(half(f.width)), ch = size_t(half(f.height));
        const size_t c = size_t(y / 2) * cw + size_t(x / 2);
        return yuvToRgb(d[y * w + x], d[w * h + c], d[w * h + cw * ch + c]);
    }
    case media::PixelFormat::NV12: {
        const uint8_t* uv = d + w * h + size_t(y / 2) * size_t(half(f.width)) * 2 + size_t(x / 2) * 2;
        return yuvToRgb(d[y * w + x], uv[0], uv[1]);
    }
    case media::PixelFormat::GRAY8: {
        const int g = d[y * w + x];
        return {g, g, g};
    }
    case media::PixelFormat::MJPEG: break;
    }
    return {0, 0, 0};
}

QImage scaleRaw(const media::Frame& f, QSize out)
{
    QImage image(out, QImage::Format_RGB32);
    // Sample positions a quarter and three quarters into each output pixel's footprint.
    std::vector<int> xs0(out.width()), xs1(out.width());
    for (int x = 0; x < out.width(); ++x) {
        xs0[x] = int((int64_t(4 * x + 1) * f.width) / (4 * out.width()));
        xs1[x] = int((int64_t(4 * x + 3) * f.width) / (4 * out.width()));
    }
    for (int y = 0; y < out.height(); ++y) {
        const int y0 = int((int64_t(4 * y + 1) * f.height) / (4 * out.height()));
        const int y1 = int((int64_t(4 * y + 3) * f.height) / (4 * out.height()));
        auto* row = reinterpret_cast<uint32_t*>(image.scanLine(y));
        for (int x = 0; x < out.width(); ++x) {
            const Rgb a = samplePixel(f, xs0[x], y0), b = samplePixel(f, xs1[x], y0);
            const Rgb c = samplePixel(f, xs0[x], y1), e = samplePixel(f, xs1[x], y1);
            const uint32_t r = uint32_t(a.r + b.r + c.r + e.r + 2) / 4;
            const uint32_t g = uint32_t(a.g + b.g + c.g + e.g + 2) / 4;
            const uint32_t bl = uint32_t(a.b + b.b + c.b + e.b + 2) / 4;
            row[x] = 0xFF000000u | r << 16 | g << 8 | bl;
        }
    }
    return image;
}

QImage decodeJpeg(const media::Frame& f, QSize out)
{
    QByteArray bytes = QByteArray::fromRawData(reinterpret_cast<const char*>(f.data.data()), qsizetype(f.data.size()));
    QBuffer buffer(&bytes);
    buffer.open(QIODevice::ReadOnly);
    QImageReader reader(&buffer, "jpeg");
    // The JPEG reader decodes straight to a smaller size, far cheaper than decoding in full.
    reader.setScaledSize(out);
    QImage image = reader.read();
    if (image.isNull())
        return image;
    return image.convertToFormat(QImage::Format_RGB32);
}

}  // namespace

QSize fittedSize(int frameWidth, int frameHeight, QSize box)
{
    if (frameWidth <= 0 || frameHeight <= 0 || box.isEmpty())
        return QSize(1, 1);
    QSize s(frameWidth, frameHeight);
    s.scale(box, Qt::KeepAspectRatio);
    return s.expandedTo(QSize(1, 1));
}

QImage previewImage(const media::Frame& frame, QSize box)
{
    if (frame.width <= 0 || frame.height <= 0 || frame.data.size() < requiredBytes(frame))
        return QImage();
    const QSize out = fittedSize(frame.width, frame.height, box);
    if (frame.format == media::PixelFormat::MJPEG)
        return decodeJpeg(frame, out);
    return scaleRaw(frame, out);
}

}  // namespace kelvra::avicap
