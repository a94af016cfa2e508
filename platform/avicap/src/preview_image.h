// A camera frame made into the picture the capture window paints.
#pragma once

#include <kelvra/media/frame.h>

#include <QImage>
#include <QSize>

namespace kelvra::avicap {

// The largest size with the frame's aspect ratio that fits into `box` (at least 1 x 1).
QSize fittedSize(int frameWidth, int frameHeight, QSize box);

// The frame scaled to fittedSize(frame, box) in one conversion (the media core's, which decodes
// MJPEG too) as 32-bit BGRA; null when the frame cannot be converted. `scratch` is reused
// between calls so that a stream of frames converts without reallocating.
QImage previewImage(media::FrameConverter& converter, const media::Frame& frame, QSize box, media::Frame& scratch);

}  // namespace kelvra::avicap
