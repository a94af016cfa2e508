// Where an export's pictures go: an MP4 with H.264 (libx264), or one picture file each.
#include "film_parts.h"

extern "C" {
#include <libavutil/opt.h>
}

#include <cerrno>
#include <cstdio>
#include <string>

namespace kelvra::film {

namespace {

constexpr const char* kH264Encoder = "libx264";
constexpr int kJpegQscale = 2;  // the mjpeg encoder's finest usual quantiser: pictures for editing

// One encoder's output loop: every packet it has ready goes to `take`.
template <typename Take>
int drain(AVCodecContext* encoder, AVPacket* packet, Take take)
{
    for (;;) {
        int ret = avcodec_receive_packet(encoder, packet);
        if (ret == AVERROR(EAGAIN) || ret == AVERROR_EOF)
            return 0;
        if (ret < 0)
            return ret;
        ret = take(packet);
        av_packet_unref(packet);
        if (ret < 0)
            return ret;
    }
}

class Mp4Sink final : public FilmSink {
public:
    explicit Mp4Sink(const ExportSettings& settings) : crf_(settings.crf), preset_(settings.preset) {}
    ~Mp4Sink() override
    {
        avcodec_free_context(&encoder_);
        av_packet_free(&packet_);
        if (output_ && output_->pb)
            avio_closep(&output_->pb);
        avformat_free_context(output_);
    }
    AVPixelFormat pixelFormat() const override { return AV_PIX_FMT_YUV420P; }
    Status open(const std::string& path, int width, int height, AVRational rate) override;
    Status write(AVFrame* frame) override;
    Status finish() override;

private:
    Status openEncoder(int width, int height, AVRational rate);
    int mux(AVPacket* packet)
    {
        av_packet_rescale_ts(packet, encoder_->time_base, stream_->time_base);
        packet->stream_index = stream_->index;
        return av_write_frame(output_, packet);
    }

    int crf_;
    std::string preset_;
    std::string path_;
    AVCodecContext* encoder_ = nullptr;
    AVFormatContext* output_ = nullptr;
    AVStream* stream_ = nullptr;
    AVPacket* packet_ = nullptr;
};

Status Mp4Sink::openEncoder(int width, int height, AVRational rate)
{
    const AVCodec* codec = avcodec_find_encoder_by_name(kH264Encoder);
    if (!codec)
        return Status::error(ENOSYS, "This system has no H.264 encoder (libx264)");
    encoder_ = avcodec_alloc_context3(codec);
    packet_ = av_packet_alloc();
    if (!encoder_ || !packet_)
        return Status::error(ENOMEM, "Out of memory for the film's encoder");
    encoder_->width = width;
    encoder_->height = height;
    encoder_->pix_fmt = AV_PIX_FMT_YUV420P;
    encoder_->color_range = AVCOL_RANGE_MPEG;
    encoder_->sample_aspect_ratio = {1, 1};
    encoder_->time_base = av_inv_q(rate);
    encoder_->framerate = rate;
    encoder_->thread_count = 0;  // x264's own choice for the machine, as the command-line tool asks
    if (output_->oformat->flags & AVFMT_GLOBALHEADER)
        encoder_->flags |= AV_CODEC_FLAG_GLOBAL_HEADER;
    AVDictionary* options = nullptr;
    av_dict_set(&options, "preset", preset_.c_str(), 0);
    av_dict_set(&options, "profile", "high", 0);
    av_dict_set_int(&options, "crf", crf_, 0);
    int ret = avcodec_open2(encoder_, codec, &options);
    av_dict_free(&options);
    if (ret < 0)
        return Status::error(ret, "Cannot start the H.264 encoder: " + avErrorText(ret));
    return Status::ok();
}

Status Mp4Sink::open(const std::string& path, int width, int height, AVRational rate)
{
    path_ = path;
    int ret = avformat_alloc_output_context2(&output_, nullptr, "mp4", path.c_str());
    if (ret < 0 || !output_)
        return Status::error(ret, "Cannot make an MP4 file: " + avErrorText(ret));
    Status st = openEncoder(width, height, rate);
    if (!st)
        return st;
    stream_ = avformat_new_stream(output_, nullptr);
    if (!stream_)
        return Status::error(ENOMEM, "Out of memory for the film's file");
    ret = avcodec_parameters_from_context(stream_->codecpar, encoder_);
    stream_->time_base = encoder_->time_base;
    stream_->avg_frame_rate = rate;
    if (ret >= 0)
        ret = avio_open(&output_->pb, path.c_str(), AVIO_FLAG_WRITE);
    if (ret < 0)
        return writeError(ret, path);
    // faststart: the index goes before the pictures once they are written, so the film streams.
    AVDictionary* options = nullptr;
    av_dict_set(&options, "movflags", "+faststart", 0);
    ret = avformat_write_header(output_, &options);
    av_dict_free(&options);
    return ret < 0 ? writeError(ret, path) : Status::ok();
}

Status Mp4Sink::write(AVFrame* frame)
{
    frame->pict_type = AV_PICTURE_TYPE_NONE;
    int ret = avcodec_send_frame(encoder_, frame);
    if (ret >= 0)
        ret = drain(encoder_, packet_, [this](AVPacket* p) { return mux(p); });
    if (ret >= 0 && output_->pb->error < 0)
        ret = output_->pb->error;
    return ret < 0 ? writeError(ret, path_) : Status::ok();
}

Status Mp4Sink::finish()
{
    int ret = avcodec_send_frame(encoder_, nullptr);
    if (ret >= 0)
        ret = drain(encoder_, packet_, [this](AVPacket* p) { return mux(p); });
    if (ret >= 0)
        ret = av_write_trailer(output_);
    if (ret >= 0 && output_->pb->error < 0)
        ret = output_->pb->error;
    int closed = avio_closep(&output_->pb);
    if (ret >= 0)
        ret = closed;
    return ret < 0 ? writeError(ret, path_) : Status::ok();
}

// One file per picture, numbered from 1, in the (temporary) folder.
class PictureSink final : public FilmSink {
public:
    explicit PictureSink(FilmFormat format) : format_(format) {}
    ~PictureSink() override
    {
        avcodec_free_context(&encoder_);
        av_packet_free(&packet_);
    }
    AVPixelFormat pixelFormat() const override
    {
        return format_ == FilmFormat::PngSequence ? AV_PIX_FMT_RGB24 : AV_PIX_FMT_YUVJ420P;
    }
    Status open(const std::string& path, int width, int height, AVRational rate) override;
    Status write(AVFrame* frame) override;
    Status finish() override;

private:
    int save(AVPacket* packet);

    FilmFormat format_;
    std::string folder_;
    std::string current_;
    AVCodecContext* encoder_ = nullptr;
    AVPacket* packet_ = nullptr;
};

Status PictureSink::open(const std::string& path, int width, int height, AVRational rate)
{
    folder_ = path;
    const bool png = format_ == FilmFormat::PngSequence;
    const AVCodec* codec = avcodec_find_encoder(png ? AV_CODEC_ID_PNG : AV_CODEC_ID_MJPEG);
    if (!codec)
        return Status::error(ENOSYS, png ? "This system has no PNG encoder" : "This system has no JPEG encoder");
    encoder_ = avcodec_alloc_context3(codec);
    packet_ = av_packet_alloc();
    if (!encoder_ || !packet_)
        return Status::error(ENOMEM, "Out of memory for the pictures' encoder");
    encoder_->width = width;
    encoder_->height = height;
    encoder_->pix_fmt = pixelFormat();
    encoder_->time_base = av_inv_q(rate);
    encoder_->thread_count = 0;
    if (!png) {
        encoder_->flags |= AV_CODEC_FLAG_QSCALE;
        encoder_->global_quality = FF_QP2LAMBDA * kJpegQscale;
        encoder_->color_range = AVCOL_RANGE_JPEG;
    }
    int ret = avcodec_open2(encoder_, codec, nullptr);
    return ret < 0 ? Status::error(ret, "Cannot start the pictures' encoder: " + avErrorText(ret)) : Status::ok();
}

int PictureSink::save(AVPacket* packet)
{
    current_ = folder_ + "/" + pictureName(format_, packet->pts);
    errno = 0;
    FILE* file = std::fopen(current_.c_str(), "wbe");
    if (!file)
        return AVERROR(errno);
    size_t written = std::fwrite(packet->data, 1, size_t(packet->size), file);
    int err = written == size_t(packet->size) ? 0 : AVERROR(errno ? errno : EIO);
    if (std::fclose(file) != 0 && err == 0)
        err = AVERROR(errno);
    return err;
}

Status PictureSink::write(AVFrame* frame)
{
    int ret = avcodec_send_frame(encoder_, frame);
    if (ret >= 0)
        ret = drain(encoder_, packet_, [this](AVPacket* p) { return save(p); });
    return ret < 0 ? writeError(ret, current_.empty() ? folder_ : current_) : Status::ok();
}

Status PictureSink::finish()
{
    int ret = avcodec_send_frame(encoder_, nullptr);
    if (ret >= 0)
        ret = drain(encoder_, packet_, [this](AVPacket* p) { return save(p); });
    return ret < 0 ? writeError(ret, current_.empty() ? folder_ : current_) : Status::ok();
}

}  // namespace

std::unique_ptr<FilmSink> makeMp4Sink(const ExportSettings& settings)
{
    return std::make_unique<Mp4Sink>(settings);
}

std::unique_ptr<FilmSink> makePictureSink(FilmFormat format)
{
    return std::make_unique<PictureSink>(format);
}

}  // namespace kelvra::film
