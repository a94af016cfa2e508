// A camera frame made into the picture the capture window paints.
#pragma once

#include <kelvra/media/frame.h>

#include <QImage>
#include <QSize>

namespace kelvra::avicap {

// The largest size with the frame's aspect ratio that fits into `box` (at least 1 x 1).
QSize fittedSize(int frameWidth, int frameHeight, QSize box);

// The frame scaled to fittedSize(frame, box), as 32-bit BGRA (QImage::Format_RGB32). Each
// output pixel averages four samples of its footprint: cheap enough for a 5 ms preview and
// without the shimmer of plain nearest-neighbour. A null image for a frame too short for its
// format or of zero size.
QImage previewImage(const media::Frame& frame, QSize box);

}  // namespace kelvra::avicap
