// The player's decoder: libavformat + libavcodec, frames handed out as BGRA.
#include "convert.h"

#include <kelvra/media/av_input.h>
#include <kelvra/media/video_reader.h>

extern "C" {
#include <libavcodec/avcodec.h>
#include <libavformat/avformat.h>
}

#include <algorithm>
#include <cerrno>
#include <cmath>
#include <sys/stat.h>

namespace kelvra::media {

namespace {

constexpr double kFallbackRate = 25.0;                // a stream that declares no rate at all

// A count or timestamp from floating point, saturated into 64 bits (NaN counts as 0).
int64_t toFrameCount(double value)
{
    constexpr double kLimit = 9.2e18;  // just inside int64_t
    if (!(value == value))
        return 0;
    return std::llround(std::clamp(value, -kLimit, kLimit));
}

std::string quoted(const std::string& path)
{
    return "'" + path + "'";
}

class FfmpegReader final : public VideoReader {
public:
    ~FfmpegReader() override
    {
        av_frame_free(&pending_);
    }

    Status open(const std::string& path);
    int width() const override { return width_; }
    int height() const override { return height_; }
    double framesPerSecond() const override { return fps_; }
    int64_t frameCount() const override { return count_; }
    double durationSeconds() const override { return duration_; }
    Status readNext(Frame& out) override;
    Status seekToFrame(int64_t index) override;

private:
    void measure();
    int64_t indexOf(const AVFrame* frame) const;
    Status deliver(AVFrame* frame, Frame& out);

    std::string path_;
    AvInput in_;
    AVFrame* pending_ = nullptr;  // the frame a seek found, handed out by the next readNext
    bool hasPending_ = false;
    Scaler scaler_;
    int width_ = 0, height_ = 0;
    double fps_ = 0, duration_ = 0;
    int64_t count_ = 0;
    int64_t startPts_ = 0;
    int64_t nextIndex_ = 0;
};

Status FfmpegReader::open(const std::string& path)
{
    path_ = path;
    struct stat info {};
    if (stat(path.c_str(), &info) != 0)
        return Status::error(errno, "Cannot open " + quoted(path) + ": the file does not exist");
    if (!S_ISREG(info.st_mode))
        return Status::error(EISDIR, "Cannot open " + quoted(path) + ": it is not a file");
    // As many decoder threads as the machine has: playback must keep up.
    Status st =
        in_.open(path, {.threadCount = 0, .findStreamInfo = true, .openSaysNotVideo = true, .namesCodec = true});
    if (!st)
        return st;
    pending_ = av_frame_alloc();
    if (!pending_)
        return Status::error(ENOMEM, "Out of memory opening " + quoted(path));
    width_ = in_.stream->codecpar->width;
    height_ = in_.stream->codecpar->height;
    measure();
    return Status::ok();
}

// Rate, length and where the timestamps start.
void FfmpegReader::measure()
{
    AVRational rate = in_.stream->r_frame_rate;
    if (rate.num <= 0 || rate.den <= 0)
        rate = in_.stream->avg_frame_rate;
    if (rate.num <= 0 || rate.den <= 0)
        rate = av_guess_frame_rate(in_.format, in_.stream, nullptr);
    fps_ = (rate.num > 0 && rate.den > 0) ? av_q2d(rate) : kFallbackRate;
    startPts_ = in_.stream->start_time != AV_NOPTS_VALUE ? in_.stream->start_time : 0;

    if (in_.stream->nb_frames > 0)
        count_ = in_.stream->nb_frames;
    else if (int entries = avformat_index_get_entries_count(in_.stream);
             entries > 0 && std::string(in_.format->iformat->name) == "avi")
        count_ = entries;  // the AVI index lists every frame
    else if (in_.stream->duration != AV_NOPTS_VALUE)
        count_ = toFrameCount(double(in_.stream->duration) * av_q2d(in_.stream->time_base) * fps_);
    else if (in_.format->duration != AV_NOPTS_VALUE)
        count_ = toFrameCount(double(in_.format->duration) / AV_TIME_BASE * fps_);
    duration_ = count_ > 0 ? double(count_) / fps_ : 0.0;
}

int64_t FfmpegReader::indexOf(const AVFrame* frame) const
{
    const int64_t ts = frame->best_effort_timestamp;
    if (ts == AV_NOPTS_VALUE)
        return nextIndex_;
    // In floating point: a damaged file's timestamps may lie anywhere in 64 bits.
    return toFrameCount((double(ts) - double(startPts_)) * av_q2d(in_.stream->time_base) * fps_);
}

Status FfmpegReader::deliver(AVFrame* frame, Frame& out)
{
    const int64_t index = indexOf(frame);
    nextIndex_ = index + 1;
    out.width = width_;
    out.height = height_;
    out.format = PixelFormat::BGRA;
    out.sequence = uint64_t(std::max<int64_t>(index, 0));
    out.captured = {};
    out.data.resize(frameBytes(PixelFormat::BGRA, width_, height_));
    uint8_t* dst[4] = {out.data.data()};
    const int linesize[4] = {width_ * 4};
    const int ret = frame->width > 0 && frame->height > 0
                        ? scaler_.scale(planesOf(frame), dst, linesize, width_, height_, AV_PIX_FMT_BGRA)
                        : AVERROR_INVALIDDATA;
    av_frame_unref(frame);
    if (ret < 0)
        return Status::error(ret, "Frame " + std::to_string(index) + " of " + quoted(path_) +
                                      " cannot be shown: " + avErrorText(ret));
    return Status::ok();
}

Status FfmpegReader::readNext(Frame& out)
{
    if (hasPending_) {
        hasPending_ = false;
        return deliver(pending_, out);
    }
    const int ret = in_.decode(in_.frame);
    if (ret == 0)
        return deliver(in_.frame, out);
    if (ret != AVERROR_EOF) {
        const int64_t index = nextIndex_++;
        return Status::error(ret, "Frame " + std::to_string(index) + " of " + quoted(path_) +
                                      " cannot be decoded: " + avErrorText(ret));
    }
    if (in_.demuxError) {  // reported once
        const int err = in_.demuxError;
        in_.demuxError = 0;
        return Status::error(err, "The file " + quoted(path_) + " is damaged after frame " +
                                      std::to_string(nextIndex_ - 1) + ": " + avErrorText(err));
    }
    return Status::error(kEndOfStream, "End of " + quoted(path_));
}

Status FfmpegReader::seekToFrame(int64_t index)
{
    index = std::max<int64_t>(0, count_ > 0 ? std::min(index, count_ - 1) : index);
    const int64_t target = toFrameCount(double(startPts_) + double(index) / fps_ / av_q2d(in_.stream->time_base));
    int ret = av_seek_frame(in_.format, in_.stream->index, target, AVSEEK_FLAG_BACKWARD);
    if (ret < 0)  // no index to seek with: read from the start
        ret = av_seek_frame(in_.format, in_.stream->index, startPts_, AVSEEK_FLAG_BACKWARD | AVSEEK_FLAG_ANY);
    if (ret < 0)
        ret = avformat_seek_file(in_.format, -1, INT64_MIN, 0, 0, AVSEEK_FLAG_BYTE);
    if (ret < 0)
        return Status::error(ret, "Cannot seek in " + quoted(path_) + ": " + avErrorText(ret));
    avcodec_flush_buffers(in_.decoder);
    in_.drained = false;
    in_.demuxError = 0;
    hasPending_ = false;
    av_frame_unref(pending_);
    nextIndex_ = 0;
    // Decode forward from the keyframe to the frame asked for; past the end, keep the last one.
    for (;;) {
        ret = in_.decode(in_.frame);
        if (ret == AVERROR_EOF)
            break;
        if (ret < 0)
            continue;  // a damaged frame on the way is passed over
        const int64_t at = indexOf(in_.frame);
        nextIndex_ = at + 1;
        av_frame_unref(pending_);
        av_frame_move_ref(pending_, in_.frame);
        hasPending_ = true;
        if (at >= index)
            break;
    }
    if (!hasPending_)
        return Status::error(kEndOfStream, "Frame " + std::to_string(index) + " of " + quoted(path_) +
                                               " cannot be reached");
    return Status::ok();
}

}  // namespace

Status VideoReader::open(const std::string& path, std::unique_ptr<VideoReader>& out)
{
    // A damaged file is answered with a Status; the decoder's own complaints about each broken
    // picture would only fill the terminal.
    av_log_set_level(AV_LOG_FATAL);
    auto reader = std::make_unique<FfmpegReader>();
    Status st = reader->open(path);
    if (!st)
        return st;
    out = std::move(reader);
    return Status::ok();
}

}  // namespace kelvra::media
