// FFmpeg glue shared by the converter, the encoders and the reader.
#pragma once

#include <kelvra/media/frame.h>

extern "C" {
#include <libavutil/frame.h>
#include <libavutil/pixfmt.h>
}

#include <string>

struct SwsContext;

namespace kelvra::media {

// AV_PIX_FMT_NONE for MJPEG, which is not a pixel layout.
AVPixelFormat toAvPixelFormat(PixelFormat format);
std::string avErrorText(int averror);

// A picture described by plane pointers, as swscale takes it.
struct PlaneView {
    const uint8_t* data[4] = {};
    int linesize[4] = {};
    int width = 0;
    int height = 0;
    AVPixelFormat format = AV_PIX_FMT_NONE;
    bool fullRange = false;  // JPEG-style 0..255 luma, which MJPEG and the yuvj formats use
    int colorspace = AVCOL_SPC_UNSPECIFIED;
    bool padded = false;  // rows have FFmpeg's alignment and slack (true for decoded frames)
};

PlaneView planesOf(const AVFrame* frame);

// A picture buffer with FFmpeg's row alignment, reused while the size stays.
struct PaddedPicture {
    uint8_t* data[4] = {};
    int linesize[4] = {};
    int width = 0, height = 0;
    AVPixelFormat format = AV_PIX_FMT_NONE;

    PaddedPicture() = default;
    PaddedPicture(const PaddedPicture&) = delete;
    PaddedPicture& operator=(const PaddedPicture&) = delete;
    ~PaddedPicture();
    int ensure(int w, int h, AVPixelFormat f);
};

// swscale with its context kept across calls; it is rebuilt only when a parameter changes.
class Scaler {
public:
    Scaler() = default;
    ~Scaler();
    Scaler(const Scaler&) = delete;
    Scaler& operator=(const Scaler&) = delete;

    // dst/dstLinesize describe the output planes (a negative linesize flips the picture);
    // dstPadded says they have FFmpeg's alignment and slack, as an AVFrame's have.
    int scale(const PlaneView& src, uint8_t* const dst[4], const int dstLinesize[4], int dstWidth, int dstHeight,
              AVPixelFormat dstFormat, bool dstPadded = false);

private:
    int run(const PlaneView& src, uint8_t* const dst[4], const int dstLinesize[4], int dstWidth, int dstHeight,
            AVPixelFormat dstFormat);

    PaddedPicture srcPad_, dstPad_;
    SwsContext* ctx_ = nullptr;
    int srcWidth_ = 0, srcHeight_ = 0, dstWidth_ = 0, dstHeight_ = 0;
    AVPixelFormat srcFormat_ = AV_PIX_FMT_NONE, dstFormat_ = AV_PIX_FMT_NONE;
    bool fullRange_ = false, dstFullRange_ = false;
    int colorspace_ = -1;
};

}  // namespace kelvra::media
