// Pixel conversion over libswscale, MJPEG decoding over libavcodec.
#include "convert.h"

extern "C" {
#include <libavcodec/avcodec.h>
#include <libavutil/error.h>
#include <libavutil/imgutils.h>
#include <libavutil/opt.h>
#include <libswscale/swscale.h>
}

#include <cerrno>
#include <cstring>

namespace kelvra::media {

constexpr int kSimdBlock = 32;    // pixels swscale may write at once
constexpr int kPaddedAlign = 64;  // row alignment of our padded buffers, as FFmpeg's frames have

AVPixelFormat toAvPixelFormat(PixelFormat format)
{
    switch (format) {
    case PixelFormat::RGB24: return AV_PIX_FMT_RGB24;
    case PixelFormat::BGR24: return AV_PIX_FMT_BGR24;
    case PixelFormat::BGRA: return AV_PIX_FMT_BGRA;
    case PixelFormat::YUYV422: return AV_PIX_FMT_YUYV422;
    case PixelFormat::YUV420P: return AV_PIX_FMT_YUV420P;
    case PixelFormat::NV12: return AV_PIX_FMT_NV12;
    case PixelFormat::GRAY8: return AV_PIX_FMT_GRAY8;
    case PixelFormat::MJPEG: return AV_PIX_FMT_NONE;
    }
    return AV_PIX_FMT_NONE;
}

std::string avErrorText(int averror)
{
    char text[AV_ERROR_MAX_STRING_SIZE] = {};
    av_strerror(averror, text, sizeof text);
    return text;
}

// The yuvj formats are the plain ones at full range; swscale wants them said that way.
static AVPixelFormat withoutJpegRange(AVPixelFormat format, bool& fullRange)
{
    switch (format) {
    case AV_PIX_FMT_YUVJ420P: fullRange = true; return AV_PIX_FMT_YUV420P;
    case AV_PIX_FMT_YUVJ422P: fullRange = true; return AV_PIX_FMT_YUV422P;
    case AV_PIX_FMT_YUVJ444P: fullRange = true; return AV_PIX_FMT_YUV444P;
    case AV_PIX_FMT_YUVJ440P: fullRange = true; return AV_PIX_FMT_YUV440P;
    case AV_PIX_FMT_YUVJ411P: fullRange = true; return AV_PIX_FMT_YUV411P;
    default: return format;
    }
}

PlaneView planesOf(const AVFrame* frame)
{
    PlaneView view;
    for (int i = 0; i < 4; ++i) {
        view.data[i] = frame->data[i];
        view.linesize[i] = frame->linesize[i];
    }
    view.width = frame->width;
    view.height = frame->height;
    view.format = AVPixelFormat(frame->format);
    view.fullRange = frame->color_range == AVCOL_RANGE_JPEG;
    view.colorspace = frame->colorspace;
    view.padded = true;
    return view;
}

Scaler::~Scaler()
{
    sws_freeContext(ctx_);
}

// A context with the ranges given at creation: swscale picks its shortcut converters then, and
// those that ignore range (packed YUYV to planar, for one) are only taken when no range changes.
static SwsContext* createContext(const PlaneView& src, AVPixelFormat srcFormat, bool srcFull, int dstWidth,
                                 int dstHeight, AVPixelFormat dstFormat, bool dstFull)
{
    SwsContext* ctx = sws_alloc_context();
    if (!ctx)
        return nullptr;
    const int flags = (src.width == dstWidth && src.height == dstHeight) ? SWS_POINT : SWS_BILINEAR;
    av_opt_set_int(ctx, "srcw", src.width, 0);
    av_opt_set_int(ctx, "srch", src.height, 0);
    av_opt_set_int(ctx, "src_format", srcFormat, 0);
    av_opt_set_int(ctx, "dstw", dstWidth, 0);
    av_opt_set_int(ctx, "dsth", dstHeight, 0);
    av_opt_set_int(ctx, "dst_format", dstFormat, 0);
    av_opt_set_int(ctx, "sws_flags", flags, 0);
    av_opt_set_int(ctx, "src_range", srcFull, 0);
    av_opt_set_int(ctx, "dst_range", dstFull, 0);
    if (sws_init_context(ctx, nullptr, nullptr) < 0) {
        sws_freeContext(ctx);
        return nullptr;
    }
    return ctx;
}

PaddedPicture::~PaddedPicture()
{
    av_freep(&data[0]);
}

int PaddedPicture::ensure(int w, int h, AVPixelFormat f)
{
    if (data[0] && w == width && h == height && f == format)
        return 0;
    av_freep(&data[0]);
    const int ret = av_image_alloc(data, linesize, w, h, f, kPaddedAlign);
    if (ret < 0)
        return ret;
    width = w, height = h, format = f;
    return 0;
}

// swscale's SIMD code writes whole blocks of pixels, past the end of a row unless the width is a
// multiple of the block, and its input readers load a few bytes beyond the last pixel at any
// width. Our packed frames have no slack after the last row, so their pixels are read from a
// padded copy, and outputs of other widths are written through a padded buffer.
int Scaler::scale(const PlaneView& src, uint8_t* const dst[4], const int dstLinesize[4], int dstWidth, int dstHeight,
                  AVPixelFormat dstFormat, bool dstPadded)
{
    PlaneView in = src;
    int ret = 0;
    if (!src.padded) {
        if ((ret = srcPad_.ensure(src.width, src.height, src.format)) < 0)
            return ret;
        const uint8_t* planes[4] = {src.data[0], src.data[1], src.data[2], src.data[3]};
        av_image_copy(srcPad_.data, srcPad_.linesize, planes, src.linesize, src.format, src.width, src.height);
        for (int i = 0; i < 4; ++i)
            in.data[i] = srcPad_.data[i], in.linesize[i] = srcPad_.linesize[i];
    }
    if (dstPadded || dstWidth % kSimdBlock == 0)
        return run(in, dst, dstLinesize, dstWidth, dstHeight, dstFormat);
    if ((ret = dstPad_.ensure(dstWidth, dstHeight, dstFormat)) < 0)
        return ret;
    if ((ret = run(in, dstPad_.data, dstPad_.linesize, dstWidth, dstHeight, dstFormat)) < 0)
        return ret;
    uint8_t* out[4] = {dst[0], dst[1], dst[2], dst[3]};
    int outLinesize[4] = {dstLinesize[0], dstLinesize[1], dstLinesize[2], dstLinesize[3]};
    const uint8_t* padded[4] = {dstPad_.data[0], dstPad_.data[1], dstPad_.data[2], dstPad_.data[3]};
    av_image_copy(out, outLinesize, padded, dstPad_.linesize, dstFormat, dstWidth, dstHeight);
    return 0;
}

int Scaler::run(const PlaneView& src, uint8_t* const dst[4], const int dstLinesize[4], int dstWidth, int dstHeight,
                AVPixelFormat dstFormat)
{
    bool fullRange = src.fullRange, dstFullRange = false;
    const AVPixelFormat srcFormat = withoutJpegRange(src.format, fullRange);
    dstFormat = withoutJpegRange(dstFormat, dstFullRange);
    // Grey pictures are full-range luma, as V4L2's GREY and JPEG's grey have it.
    fullRange = fullRange || srcFormat == AV_PIX_FMT_GRAY8;
    dstFullRange = dstFullRange || dstFormat == AV_PIX_FMT_GRAY8;
    const bool rebuild = !ctx_ || srcWidth_ != src.width || srcHeight_ != src.height || srcFormat_ != srcFormat ||
                         dstWidth_ != dstWidth || dstHeight_ != dstHeight || dstFormat_ != dstFormat ||
                         fullRange != fullRange_ || dstFullRange != dstFullRange_;
    if (rebuild) {
        sws_freeContext(ctx_);
        ctx_ = createContext(src, srcFormat, fullRange, dstWidth, dstHeight, dstFormat, dstFullRange);
        if (!ctx_)
            return AVERROR(EINVAL);
        srcWidth_ = src.width, srcHeight_ = src.height, srcFormat_ = srcFormat;
        dstWidth_ = dstWidth, dstHeight_ = dstHeight, dstFormat_ = dstFormat;
        fullRange_ = fullRange;
        dstFullRange_ = dstFullRange;
        colorspace_ = -1;
    }
    if (src.colorspace != colorspace_) {
        const int space = src.colorspace == AVCOL_SPC_UNSPECIFIED ? SWS_CS_DEFAULT : src.colorspace;
        sws_setColorspaceDetails(ctx_, sws_getCoefficients(space), fullRange, sws_getCoefficients(SWS_CS_DEFAULT),
                                 dstFullRange, 0, 1 << 16, 1 << 16);
        colorspace_ = src.colorspace;
    }
    const int rows = sws_scale(ctx_, src.data, src.linesize, 0, src.height, dst, dstLinesize);
    return rows > 0 ? 0 : AVERROR(EINVAL);
}

struct FrameConverter::Impl {
    Scaler scaler;
    AVCodecContext* decoder = nullptr;
    AVPacket* packet = nullptr;
    AVFrame* picture = nullptr;

    ~Impl()
    {
        avcodec_free_context(&decoder);
        av_packet_free(&packet);
        av_frame_free(&picture);
    }

    Status decodeJpeg(const Frame& in);
};

// One JPEG picture into `picture`; the decoder is opened once and reused.
Status FrameConverter::Impl::decodeJpeg(const Frame& in)
{
    if (!decoder) {
        const AVCodec* codec = avcodec_find_decoder(AV_CODEC_ID_MJPEG);
        if (!codec)
            return Status::error(ENOSYS, "This FFmpeg has no Motion JPEG decoder");
        decoder = avcodec_alloc_context3(codec);
        packet = av_packet_alloc();
        picture = av_frame_alloc();
        if (!decoder || !packet || !picture)
            return Status::error(ENOMEM, "Out of memory for the Motion JPEG decoder");
        // A damaged camera picture fails here, so the preview keeps its last good picture rather
        // than show the decoder's patched-up one; the failure is ours to report, not its log's.
        decoder->err_recognition = AV_EF_EXPLODE;
        decoder->log_level_offset = AV_LOG_DEBUG;
        const int ret = avcodec_open2(decoder, codec, nullptr);
        if (ret < 0) {
            avcodec_free_context(&decoder);
            return Status::error(ret, "Cannot open the Motion JPEG decoder: " + avErrorText(ret));
        }
    }
    if (in.data.empty())
        return Status::error(EINVAL, "Empty JPEG picture");
    // The packet borrows the caller's bytes; the decoder copies what it keeps.
    packet->data = const_cast<uint8_t*>(in.data.data());
    packet->size = int(in.data.size());
    int ret = avcodec_send_packet(decoder, packet);
    packet->data = nullptr;
    packet->size = 0;
    if (ret >= 0)
        ret = avcodec_receive_frame(decoder, picture);
    if (ret < 0) {
        avcodec_flush_buffers(decoder);
        return Status::error(ret, "Cannot decode the JPEG picture: " + avErrorText(ret));
    }
    return Status::ok();
}

FrameConverter::FrameConverter() : impl_(std::make_unique<Impl>()) {}
FrameConverter::~FrameConverter() = default;

static bool fillPlanes(PixelFormat format, uint8_t* base, int width, int height, uint8_t* data[4], int linesize[4])
{
    return av_image_fill_arrays(data, linesize, base, toAvPixelFormat(format), width, height, 1) >= 0;
}

// Points each plane at its last row with a negative stride, so swscale writes it bottom-up.
static void flipPlanes(AVPixelFormat format, int height, uint8_t* data[4], int linesize[4])
{
    const AVPixFmtDescriptor* desc = av_pix_fmt_desc_get(format);
    for (int i = 0; i < 4 && data[i]; ++i) {
        const int planeHeight = (i == 1 || i == 2) ? AV_CEIL_RSHIFT(height, desc->log2_chroma_h) : height;
        data[i] += ptrdiff_t(linesize[i]) * (planeHeight - 1);
        linesize[i] = -linesize[i];
    }
}

Status FrameConverter::convert(const Frame& in, PixelFormat format, Frame& out, int width, int height, bool bottomUp)
{
    if (format == PixelFormat::MJPEG)
        return Status::error(EINVAL, "Conversion into JPEG is the encoder's work");
    PlaneView src;
    if (in.format == PixelFormat::MJPEG) {
        Status st = impl_->decodeJpeg(in);
        if (!st)
            return st;
        src = planesOf(impl_->picture);
        src.fullRange = true;  // JPEG pictures are full range whatever the decoder says
    } else {
        const size_t need = frameBytes(in.format, in.width, in.height);
        if (need == 0 || in.data.size() < need)
            return Status::error(EINVAL, "Picture data too short for its size and format");
        uint8_t* planes[4];
        if (!fillPlanes(in.format, const_cast<uint8_t*>(in.data.data()), in.width, in.height, planes, src.linesize))
            return Status::error(EINVAL, "Unsupported picture layout");
        for (int i = 0; i < 4; ++i)
            src.data[i] = planes[i];
        src.width = in.width;
        src.height = in.height;
        src.format = toAvPixelFormat(in.format);
    }
    const int outWidth = width > 0 ? width : src.width;
    const int outHeight = height > 0 ? height : src.height;
    const size_t outBytes = frameBytes(format, outWidth, outHeight);
    if (outBytes == 0)
        return Status::error(EINVAL, "Invalid output picture size");

    const bool sameLayout = in.format == format && outWidth == in.width && outHeight == in.height && !bottomUp;
    if (&out != &in) {
        out.data.resize(outBytes);
        if (sameLayout)
            std::memcpy(out.data.data(), in.data.data(), outBytes);
    } else if (!sameLayout) {
        return Status::error(EINVAL, "Converting a picture into itself");
    }
    out.width = outWidth;
    out.height = outHeight;
    out.format = format;
    out.sequence = in.sequence;
    out.captured = in.captured;
    if (sameLayout)
        return Status::ok();

    uint8_t* dst[4] = {};
    int dstLinesize[4] = {};
    fillPlanes(format, out.data.data(), outWidth, outHeight, dst, dstLinesize);
    if (bottomUp)
        flipPlanes(toAvPixelFormat(format), outHeight, dst, dstLinesize);
    const int ret = impl_->scaler.scale(src, dst, dstLinesize, outWidth, outHeight, toAvPixelFormat(format));
    if (ret < 0)
        return Status::error(ret, "Cannot convert the picture: " + avErrorText(ret));
    return Status::ok();
}

}  // namespace kelvra::media
