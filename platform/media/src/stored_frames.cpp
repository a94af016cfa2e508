// Frames of an AVI by number: the demuxer's index finds the chunk, the decoder makes one picture.
// AVI timestamps count frames, so frame i is the packet stamped i; a dropped frame has no packet.
#include "convert.h"

#include <kelvra/media/stored_frames.h>

extern "C" {
#include <libavcodec/avcodec.h>
#include <libavformat/avformat.h>
}

#include <algorithm>
#include <cerrno>
#include <cmath>

namespace kelvra::media {

namespace {

constexpr int64_t kMaxPixels = int64_t(8192) * 4320;  // beyond that a header is lying
constexpr double kMicroSecPerSecond = 1e6;
// Packets read past a seek before frame i is given up: a keyframe is never that far back in
// the files this reader is for (every frame is one).
constexpr int kMaxPacketsPerRead = 256;

std::string quoted(const std::string& path)
{
    return "'" + path + "'";
}

// The largest size with w:h's aspect that fits the box and is not larger than w x h.
void fitInto(int w, int h, int boxW, int boxH, int& outW, int& outH)
{
    outW = w;
    outH = h;
    if (boxW <= 0 || boxH <= 0 || (w <= boxW && h <= boxH))
        return;
    const double scale = std::min(double(boxW) / w, double(boxH) / h);
    outW = std::max(1, int(std::lround(w * scale)));
    outH = std::max(1, int(std::lround(h * scale)));
}

class AvStoredFrames final : public StoredFrames {
public:
    ~AvStoredFrames() override
    {
        av_frame_free(&frame_);
        av_packet_free(&packet_);
        avcodec_free_context(&decoder_);
        avformat_close_input(&format_);
    }

    Status open(const std::string& path);
    int64_t count() const override { return count_; }
    int width() const override { return width_; }
    int height() const override { return height_; }
    uint32_t microSecPerFrame() const override { return microSecPerFrame_; }
    Status read(int64_t index, StoredPicture& out, int boxWidth, int boxHeight) override;

private:
    Status decodeAt(int64_t index);
    Status deliver(StoredPicture& out, int boxWidth, int boxHeight);

    std::string path_;
    AVFormatContext* format_ = nullptr;
    AVCodecContext* decoder_ = nullptr;
    AVStream* stream_ = nullptr;
    AVPacket* packet_ = nullptr;
    AVFrame* frame_ = nullptr;
    Scaler scaler_;
    int width_ = 0, height_ = 0;
    int64_t count_ = 0;
    uint32_t microSecPerFrame_ = 0;
};

Status AvStoredFrames::open(const std::string& path)
{
    path_ = path;
    // The headers of an AVI carry everything needed; probing would decode pictures for nothing.
    int ret = avformat_open_input(&format_, path.c_str(), nullptr, nullptr);
    if (ret < 0)
        return Status::error(ret, "Cannot open " + quoted(path) + ": " + avErrorText(ret));
    const int index = av_find_best_stream(format_, AVMEDIA_TYPE_VIDEO, -1, -1, nullptr, 0);
    if (index < 0)
        return Status::error(index, "The file " + quoted(path) + " holds no video");
    stream_ = format_->streams[index];
    const AVCodecParameters* par = stream_->codecpar;
    if (par->width <= 0 || par->height <= 0 || int64_t(par->width) * par->height > kMaxPixels)
        return Status::error(EINVAL, "The video in " + quoted(path) + " has no usable picture size");
    const AVCodec* codec = avcodec_find_decoder(par->codec_id);
    if (!codec)
        return Status::error(ENOSYS, "The video in " + quoted(path) + " cannot be decoded here");
    decoder_ = avcodec_alloc_context3(codec);
    packet_ = av_packet_alloc();
    frame_ = av_frame_alloc();
    if (!decoder_ || !packet_ || !frame_)
        return Status::error(ENOMEM, "Out of memory opening " + quoted(path));
    ret = avcodec_parameters_to_context(decoder_, par);
    if (ret >= 0) {
        decoder_->thread_count = 1;  // one picture at a time: frame threads would only delay it
        decoder_->pkt_timebase = stream_->time_base;
        ret = avcodec_open2(decoder_, codec, nullptr);
    }
    if (ret < 0)
        return Status::error(ret, "Cannot decode the video in " + quoted(path) + ": " + avErrorText(ret));
    width_ = par->width;
    height_ = par->height;
    // The time base of an AVI stream is its scale / rate: one tick per frame.
    const AVRational tb = stream_->time_base;
    if (tb.num > 0 && tb.den > 0)
        microSecPerFrame_ = uint32_t(std::lround(kMicroSecPerSecond * tb.num / tb.den));
    const int entries = avformat_index_get_entries_count(stream_);
    if (entries > 0)
        count_ = avformat_index_get_entry(stream_, entries - 1)->timestamp + 1;
    count_ = std::max<int64_t>(count_, stream_->nb_frames);
    return Status::ok();
}

Status AvStoredFrames::decodeAt(int64_t index)
{
    if (index < 0 || index >= count_)
        return Status::error(kEndOfStream, "Frame " + std::to_string(index) + " is not in " + quoted(path_));
    const int entry = av_index_search_timestamp(stream_, index, AVSEEK_FLAG_ANY);
    if (entry < 0 || avformat_index_get_entry(stream_, entry)->timestamp != index)
        return Status::error(ENODATA, "Frame " + std::to_string(index) + " of " + quoted(path_) + " holds no picture");
    int ret = av_seek_frame(format_, stream_->index, index, AVSEEK_FLAG_BACKWARD);
    if (ret < 0)
        return Status::error(ret, "Cannot find frame " + std::to_string(index) + " in " + quoted(path_));
    avcodec_flush_buffers(decoder_);
    for (int packets = 0; packets < kMaxPacketsPerRead; ++packets) {
        ret = av_read_frame(format_, packet_);
        if (ret < 0)
            break;
        const bool ours = packet_->stream_index == stream_->index && packet_->size > 0;
        const int64_t at = packet_->pts != AV_NOPTS_VALUE ? packet_->pts : packet_->dts;
        if (ours)
            ret = avcodec_send_packet(decoder_, packet_);
        av_packet_unref(packet_);
        if (!ours || ret < 0)
            continue;
        ret = avcodec_receive_frame(decoder_, frame_);
        if (ret == AVERROR(EAGAIN))
            continue;
        if (ret < 0)
            break;
        if (at == index)
            return Status::ok();
        av_frame_unref(frame_);
        if (at > index)
            break;
    }
    return Status::error(ret < 0 ? ret : EIO, "Frame " + std::to_string(index) + " of " + quoted(path_) +
                                                  " cannot be decoded" + (ret < 0 ? ": " + avErrorText(ret) : ""));
}

Status AvStoredFrames::deliver(StoredPicture& out, int boxWidth, int boxHeight)
{
    out.ownWidth = frame_->width;
    out.ownHeight = frame_->height;
    int w = 0, h = 0;
    fitInto(frame_->width, frame_->height, boxWidth, boxHeight, w, h);
    Frame& pic = out.picture;
    pic.width = w;
    pic.height = h;
    pic.format = PixelFormat::BGRA;
    pic.data.resize(frameBytes(PixelFormat::BGRA, w, h));
    uint8_t* dst[4] = {pic.data.data()};
    const int linesize[4] = {w * 4};
    PlaneView src = planesOf(frame_);
    if (decoder_->codec_id == AV_CODEC_ID_MJPEG)
        src.fullRange = true;  // JPEG pictures are full range whatever the decoder says
    const int ret = scaler_.scale(src, dst, linesize, w, h, AV_PIX_FMT_BGRA);
    av_frame_unref(frame_);
    if (ret < 0)
        return Status::error(ret, "A frame of " + quoted(path_) + " cannot be shown: " + avErrorText(ret));
    return Status::ok();
}

Status AvStoredFrames::read(int64_t index, StoredPicture& out, int boxWidth, int boxHeight)
{
    Status status = decodeAt(index);
    if (!status)
        return status;
    if (frame_->width <= 0 || frame_->height <= 0 || int64_t(frame_->width) * frame_->height > kMaxPixels) {
        av_frame_unref(frame_);
        return Status::error(EINVAL, "Frame " + std::to_string(index) + " of " + quoted(path_) + " has no usable size");
    }
    status = deliver(out, boxWidth, boxHeight);
    out.picture.sequence = uint64_t(index);
    return status;
}

}  // namespace

Status StoredFrames::open(const std::string& path, std::unique_ptr<StoredFrames>& out)
{
    av_log_set_level(AV_LOG_FATAL);  // a damaged picture is answered with a Status, not a terminal line
    auto reader = std::make_unique<AvStoredFrames>();
    Status status = reader->open(path);
    if (!status)
        return status;
    out = std::move(reader);
    return Status::ok();
}

}  // namespace kelvra::media
