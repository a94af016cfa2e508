#include "preview_image.h"

namespace kelvra::avicap {

namespace {
constexpr int kBgraBytesPerPixel = 4;
}  // namespace

QSize fittedSize(int frameWidth, int frameHeight, QSize box)
{
    if (frameWidth <= 0 || frameHeight <= 0 || box.isEmpty())
        return QSize(1, 1);
    QSize s(frameWidth, frameHeight);
    s.scale(box, Qt::KeepAspectRatio);
    return s.expandedTo(QSize(1, 1));
}

QImage previewImage(media::FrameConverter& converter, const media::Frame& frame, QSize box, media::Frame& scratch)
{
    if (frame.width <= 0 || frame.height <= 0)
        return QImage();
    const QSize out = fittedSize(frame.width, frame.height, box);
    if (!converter.convert(frame, media::PixelFormat::BGRA, scratch, out.width(), out.height()))
        return QImage();
    if (scratch.data.size() < size_t(out.width()) * size_t(out.height()) * kBgraBytesPerPixel)
        return QImage();
    // BGRA bytes are the 0xAARRGGBB words of Format_RGB32 on a little-endian machine; the copy
    // lets the scratch frame be reused while the UI thread paints this one.
    return QImage(scratch.data.data(), out.width(), out.height(), out.width() * kBgraBytesPerPixel,
                  QImage::Format_RGB32)
        .copy();
}

}  // namespace kelvra::avicap
