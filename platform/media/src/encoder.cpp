// Compressors for the capture file: full frames, Motion JPEG, and FFV1 for lossless.
#include "convert.h"
#include "jpeg_check.h"

#include <kelvra/media/encoder.h>

extern "C" {
#include <libavcodec/avcodec.h>
#include <libavutil/imgutils.h>
#include <libavutil/opt.h>
}

#include <algorithm>
#include <cerrno>
#include <cstring>

namespace kelvra::media {

namespace {

constexpr int kMaxDimension = 16384;
constexpr int kBmpRowAlign = 4;      // BI_RGB rows are padded to whole 32-bit words
constexpr int kBestQscale = 1;       // JPEG quantiser scale at quality 100
constexpr int kWorstQscale = 31;     // ... and at quality 1
constexpr int kMinQuality = 1, kMaxQuality = 100;
constexpr uint16_t kRgbBitCount = 24;

int bmpStride(int width)
{
    return (width * 3 + kBmpRowAlign - 1) / kBmpRowAlign * kBmpRowAlign;
}

// Quality 1..100 onto the quantiser scale 31..1, linearly.
int qscaleFor(int quality)
{
    quality = std::clamp(quality, kMinQuality, kMaxQuality);
    return kWorstQscale - (quality - kMinQuality) * (kWorstQscale - kBestQscale) / (kMaxQuality - kMinQuality);
}

// A camera's JPEG is checked before anything is made of it: a damaged one fails the frame.
Status checkCameraPicture(JpegCheck& check, const Frame& in)
{
    if (in.format != PixelFormat::MJPEG)
        return Status::ok();
    return check.check(in.data.data(), in.data.size(), in.width, in.height);
}

class RawEncoder final : public Encoder {
public:
    RawEncoder(int width, int height)
    {
        format_.width = width;
        format_.height = height;  // positive: bottom-up
        format_.compression = 0;
        format_.handler = 0;
        format_.bitCount = kRgbBitCount;
        format_.sizeImage = uint32_t(bmpStride(width)) * uint32_t(height);
    }

    Status encode(const Frame& in, std::vector<uint8_t>& out, bool& keyframe) override
    {
        keyframe = true;
        const int width = format_.width, height = format_.height;
        const size_t stride = size_t(bmpStride(width)), packed = size_t(width) * 3;
        if (Status st = checkCameraPicture(check_, in); !st)
            return st;
        if (stride == packed) {  // rows already word-aligned: convert straight into place
            Status st = converter_.convert(in, PixelFormat::BGR24, bgr_, width, height, true);
            if (!st)
                return st;
            out.swap(bgr_.data);
            return Status::ok();
        }
        Status st = converter_.convert(in, PixelFormat::BGR24, bgr_, width, height, true);
        if (!st)
            return st;
        out.assign(format_.sizeImage, 0);
        for (int y = 0; y < height; ++y)
            std::memcpy(out.data() + stride * y, bgr_.data.data() + packed * y, packed);
        return Status::ok();
    }

    const AviVideoFormat& format() const override { return format_; }

private:
    AviVideoFormat format_;
    FrameConverter converter_;
    Frame bgr_;
    JpegCheck check_;
};

// An FFmpeg video encoder fed from our converter, one packet per picture, every one a keyframe.
class AvEncoder final : public Encoder {
public:
    ~AvEncoder() override
    {
        avcodec_free_context(&ctx_);
        av_frame_free(&picture_);
        av_packet_free(&packet_);
    }

    Status open(Codec codec, int width, int height, int quality);
    Status encode(const Frame& in, std::vector<uint8_t>& out, bool& keyframe) override;
    const AviVideoFormat& format() const override { return format_; }

private:
    AVCodecContext* ctx_ = nullptr;
    AVFrame* picture_ = nullptr;
    AVPacket* packet_ = nullptr;
    PixelFormat inputFormat_ = PixelFormat::YUV420P;
    Frame converted_;
    FrameConverter converter_;
    Scaler scaler_;
    AviVideoFormat format_;
    int64_t pts_ = 0;
    bool jpeg_ = false;
    JpegCheck check_;
};

Status AvEncoder::open(Codec codec, int width, int height, int quality)
{
    const bool jpeg = codec == Codec::MotionJpeg;
    jpeg_ = jpeg;
    const AVCodec* encoder = avcodec_find_encoder(jpeg ? AV_CODEC_ID_MJPEG : AV_CODEC_ID_FFV1);
    if (!encoder)
        return Status::error(ENOSYS, jpeg ? "This FFmpeg has no Motion JPEG encoder" : "This FFmpeg has no FFV1 encoder");
    ctx_ = avcodec_alloc_context3(encoder);
    picture_ = av_frame_alloc();
    packet_ = av_packet_alloc();
    if (!ctx_ || !picture_ || !packet_)
        return Status::error(ENOMEM, "Out of memory for the compressor");
    ctx_->width = width;
    ctx_->height = height;
    ctx_->time_base = {1, 1};
    ctx_->gop_size = 1;  // every frame stands alone, so each append and each seek is independent
    if (jpeg) {
        // Full-range 4:2:0 with the plain JFIF signalling, which AVI players expect.
        ctx_->pix_fmt = AV_PIX_FMT_YUVJ420P;
        ctx_->color_range = AVCOL_RANGE_JPEG;
        ctx_->flags |= AV_CODEC_FLAG_QSCALE;
        ctx_->global_quality = FF_QP2LAMBDA * qscaleFor(quality);
        ctx_->qmin = kBestQscale;
        ctx_->qmax = kWorstQscale;
    } else {
        // FFV1 over 8-bit RGB keeps exactly the pixels that full frames would store.
        ctx_->pix_fmt = AV_PIX_FMT_BGR0;
        ctx_->level = 1;  // version 1 keeps its parameters in each keyframe: no extradata needed
    }
    const int ret = avcodec_open2(ctx_, encoder, nullptr);
    if (ret < 0)
        return Status::error(ret, "Cannot open the compressor: " + avErrorText(ret));
    picture_->format = ctx_->pix_fmt;
    picture_->width = width;
    picture_->height = height;
    if (av_frame_get_buffer(picture_, 0) < 0)
        return Status::error(ENOMEM, "Out of memory for the compressor's picture");

    format_.width = width;
    format_.height = height;
    format_.compression = jpeg ? fourcc('M', 'J', 'P', 'G') : fourcc('F', 'F', 'V', '1');
    format_.handler = format_.compression;
    format_.bitCount = kRgbBitCount;  // what FFmpeg writes for both
    format_.sizeImage = uint32_t(width) * uint32_t(height) * 3u;
    if (ctx_->extradata_size > 0)
        format_.extradata.assign(ctx_->extradata, ctx_->extradata + ctx_->extradata_size);
    return Status::ok();
}

Status AvEncoder::encode(const Frame& in, std::vector<uint8_t>& out, bool& keyframe)
{
    if (Status st = checkCameraPicture(check_, in); !st)
        return st;
    // A camera's JPEG at the file's size is written as it came: no second compression, no loss.
    if (jpeg_ && in.format == PixelFormat::MJPEG && in.width == ctx_->width && in.height == ctx_->height) {
        out.assign(in.data.begin(), in.data.end());
        keyframe = true;
        return Status::ok();
    }
    // MJPEG input is decoded to a raw picture first; raw input goes straight to the scaler.
    const Frame* raw = &in;
    if (in.format == PixelFormat::MJPEG) {
        Status st = converter_.convert(in, PixelFormat::YUV420P, converted_);
        if (!st)
            return st;
        raw = &converted_;
    }
    if (frameBytes(raw->format, raw->width, raw->height) > raw->data.size() || raw->width <= 0)
        return Status::error(EINVAL, "Picture data too short for its size and format");
    int ret = av_frame_make_writable(picture_);
    if (ret < 0)
        return Status::error(ret, "Cannot prepare the compressor's picture: " + avErrorText(ret));
    PlaneView src;
    uint8_t* planes[4];
    av_image_fill_arrays(planes, src.linesize, raw->data.data(), toAvPixelFormat(raw->format), raw->width,
                         raw->height, 1);
    for (int i = 0; i < 4; ++i)
        src.data[i] = planes[i];
    src.width = raw->width;
    src.height = raw->height;
    src.format = toAvPixelFormat(raw->format);
    ret = scaler_.scale(src, picture_->data, picture_->linesize, ctx_->width, ctx_->height,
                        AVPixelFormat(picture_->format), true);
    if (ret < 0)
        return Status::error(ret, "Cannot convert the picture for the compressor: " + avErrorText(ret));
    picture_->pts = pts_++;
    picture_->quality = ctx_->global_quality;  // the JPEG encoder takes its scale per picture
    ret = avcodec_send_frame(ctx_, picture_);
    if (ret >= 0)
        ret = avcodec_receive_packet(ctx_, packet_);
    if (ret < 0)
        return Status::error(ret, "The compressor failed: " + avErrorText(ret));
    out.assign(packet_->data, packet_->data + packet_->size);
    keyframe = packet_->flags & AV_PKT_FLAG_KEY;
    av_packet_unref(packet_);
    return Status::ok();
}

}  // namespace

std::vector<CodecInfo> availableCodecs()
{
    std::vector<CodecInfo> list = {{Codec::Uncompressed, "Full Frames (Uncompressed)", false}};
    if (avcodec_find_encoder(AV_CODEC_ID_MJPEG))
        list.push_back({Codec::MotionJpeg, "Motion JPEG", true});
    if (avcodec_find_encoder(AV_CODEC_ID_FFV1) && avcodec_find_decoder(AV_CODEC_ID_FFV1))
        list.push_back({Codec::Lossless, "Lossless (FFV1)", false});
    return list;
}

Status Encoder::create(Codec codec, int width, int height, int quality, std::unique_ptr<Encoder>& out)
{
    if (width <= 0 || height <= 0 || width > kMaxDimension || height > kMaxDimension)
        return Status::error(EINVAL, "Cannot compress pictures of " + std::to_string(width) + "x" +
                                         std::to_string(height));
    if (codec == Codec::Uncompressed) {
        out = std::make_unique<RawEncoder>(width, height);
        return Status::ok();
    }
    auto encoder = std::make_unique<AvEncoder>();
    Status st = encoder->open(codec, width, height, quality);
    if (!st)
        return st;
    out = std::move(encoder);
    return Status::ok();
}

}  // namespace kelvra::media
