// Frames of an AVI by number: the demuxer's index finds the chunk, the decoder makes one picture.
// AVI timestamps count frames, so frame i is the packet stamped i; a dropped frame has no packet.
#include "convert.h"

#include <kelvra/media/av_input.h>
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
    AvInput in_;
    Scaler scaler_;
    int width_ = 0, height_ = 0;
    int64_t count_ = 0;
    uint32_t microSecPerFrame_ = 0;
};

Status AvStoredFrames::open(const std::string& path)
{
    path_ = path;
    // The headers of an AVI carry everything needed; probing would decode pictures for nothing.
    // One decoder thread: one picture at a time, which frame threads would only delay.
    Status status = in_.open(path, {.threadCount = 1});
    if (!status)
        return status;
    width_ = in_.stream->codecpar->width;
    height_ = in_.stream->codecpar->height;
    // The time base of an AVI stream is its scale / rate: one tick per frame.
    const AVRational tb = in_.stream->time_base;
    if (tb.num > 0 && tb.den > 0)
        microSecPerFrame_ = uint32_t(std::lround(kMicroSecPerSecond * tb.num / tb.den));
    const int entries = avformat_index_get_entries_count(in_.stream);
    if (entries > 0)
        count_ = avformat_index_get_entry(in_.stream, entries - 1)->timestamp + 1;
    count_ = std::max<int64_t>(count_, in_.stream->nb_frames);
    return Status::ok();
}

Status AvStoredFrames::decodeAt(int64_t index)
{
    if (index < 0 || index >= count_)
        return Status::error(kEndOfStream, "Frame " + std::to_string(index) + " is not in " + quoted(path_));
    const int entry = av_index_search_timestamp(in_.stream, index, AVSEEK_FLAG_ANY);
    if (entry < 0 || avformat_index_get_entry(in_.stream, entry)->timestamp != index)
        return Status::error(ENODATA, "Frame " + std::to_string(index) + " of " + quoted(path_) + " holds no picture");
    int ret = av_seek_frame(in_.format, in_.stream->index, index, AVSEEK_FLAG_BACKWARD);
    if (ret < 0)
        return Status::error(ret, "Cannot find frame " + std::to_string(index) + " in " + quoted(path_));
    avcodec_flush_buffers(in_.decoder);
    for (int packets = 0; packets < kMaxPacketsPerRead; ++packets) {
        ret = av_read_frame(in_.format, in_.packet);
        if (ret < 0)
            break;
        const bool ours = in_.packet->stream_index == in_.stream->index && in_.packet->size > 0;
        const int64_t at = in_.packet->pts != AV_NOPTS_VALUE ? in_.packet->pts : in_.packet->dts;
        if (ours)
            ret = avcodec_send_packet(in_.decoder, in_.packet);
        av_packet_unref(in_.packet);
        if (!ours || ret < 0)
            continue;
        ret = avcodec_receive_frame(in_.decoder, in_.frame);
        if (ret == AVERROR(EAGAIN))
            continue;
        if (ret < 0)
            break;
        if (at == index)
            return Status::ok();
        av_frame_unref(in_.frame);
        if (at > index)
            break;
    }
    return Status::error(ret < 0 ? ret : EIO, "Frame " + std::to_string(index) + " of " + quoted(path_) +
                                                  " cannot be decoded" + (ret < 0 ? ": " + avErrorText(ret) : ""));
}

Status AvStoredFrames::deliver(StoredPicture& out, int boxWidth, int boxHeight)
{
    out.ownWidth = in_.frame->width;
    out.ownHeight = in_.frame->height;
    int w = 0, h = 0;
    fitInto(in_.frame->width, in_.frame->height, boxWidth, boxHeight, w, h);
    Frame& pic = out.picture;
    pic.width = w;
    pic.height = h;
    pic.format = PixelFormat::BGRA;
    pic.data.resize(frameBytes(PixelFormat::BGRA, w, h));
    uint8_t* dst[4] = {pic.data.data()};
    const int linesize[4] = {w * 4};
    PlaneView src = planesOf(in_.frame);
    if (in_.decoder->codec_id == AV_CODEC_ID_MJPEG)
        src.fullRange = true;  // JPEG pictures are full range whatever the decoder says
    const int ret = scaler_.scale(src, dst, linesize, w, h, AV_PIX_FMT_BGRA);
    av_frame_unref(in_.frame);
    if (ret < 0)
        return Status::error(ret, "A frame of " + quoted(path_) + " cannot be shown: " + avErrorText(ret));
    return Status::ok();
}

Status AvStoredFrames::read(int64_t index, StoredPicture& out, int boxWidth, int boxHeight)
{
    Status status = decodeAt(index);
    if (!status)
        return status;
    const AVFrame* picture = in_.frame;
    if (picture->width <= 0 || picture->height <= 0 || int64_t(picture->width) * picture->height > kMaxVideoPixels) {
        av_frame_unref(in_.frame);
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
