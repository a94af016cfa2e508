// Reading the recording for an export: every frame in file order, decoded on the decoder's own
// threads. A file still being recorded is read up to the frames it held when it was opened.
#include "film_parts.h"

#include <algorithm>
#include <cerrno>
#include <cmath>
#include <cstring>

namespace kelvra::film {

namespace {

constexpr AVRational kFallbackRate{15, 1};            // a file that states no usable rate

}  // namespace

std::string avErrorText(int err)
{
    char text[AV_ERROR_MAX_STRING_SIZE] = {};
    av_strerror(err, text, sizeof text);
    return text;
}

std::string quoted(const std::string& path)
{
    return "'" + path + "'";
}

Status writeError(int err, const std::string& path)
{
    if (err == AVERROR(ENOSPC) || err == AVERROR(EFBIG) || err == AVERROR(EDQUOT))
        return Status::error(err, "The disk is full: " + quoted(path) +
                                      " could not be written. The recording is untouched; make room and export again.");
    return Status::error(err, "Cannot write " + quoted(path) + ": " + avErrorText(err));
}

Status FilmInput::open(const std::string& path)
{
    path_ = path;
    // As many decoder threads as the machine has.
    Status st = in_.open(path, {.threadCount = 0, .findStreamInfo = true, .fileWords = "the recording "});
    if (!st)
        return st;
    const AVCodecParameters* par = in_.stream->codecpar;

    rate_ = in_.stream->r_frame_rate;
    if (rate_.num <= 0 || rate_.den <= 0)
        rate_ = in_.stream->avg_frame_rate;
    if (rate_.num <= 0 || rate_.den <= 0 || av_q2d(rate_) > 1000)
        rate_ = kFallbackRate;
    startPts_ = in_.stream->start_time != AV_NOPTS_VALUE ? in_.stream->start_time : 0;
    // The AVI headers count the frames the file held when it was opened; a recording going on
    // meanwhile adds frames after those, which this export leaves out.
    int64_t count = in_.stream->nb_frames;
    if (count <= 0)
        count = avformat_index_get_entries_count(in_.stream);
    info_ = {par->width, par->height, av_q2d(rate_), std::max<int64_t>(count, 0)};
    return Status::ok();
}

int64_t FilmInput::indexOf(int64_t timestamp) const
{
    double frames = (double(timestamp) - double(startPts_)) * av_q2d(in_.stream->time_base) * av_q2d(rate_);
    return std::isfinite(frames) ? std::llround(std::clamp(frames, -9e18, 9e18)) : 0;
}

Status FilmInput::seekTo(int64_t frame)
{
    packetCount_ = frame;
    if (frame <= 0)
        return Status::ok();
    int64_t target = startPts_ + av_rescale_q(frame, av_inv_q(rate_), in_.stream->time_base);
    int ret = av_seek_frame(in_.format, in_.stream->index, target, AVSEEK_FLAG_BACKWARD);
    if (ret < 0)  // no index to seek with: read from the start and pass over the frames before
        ret = av_seek_frame(in_.format, in_.stream->index, startPts_, AVSEEK_FLAG_BACKWARD | AVSEEK_FLAG_ANY);
    if (ret < 0)
        return Status::error(ret, "Cannot find frame " + std::to_string(frame + 1) + " in " + quoted(path_));
    avcodec_flush_buffers(in_.decoder);
    packetCount_ = 0;
    return Status::ok();
}

int FilmInput::next(AVFrame* frame, int64_t stopAfter)
{
    return in_.decode(frame, [&](const AVPacket* packet) {
        const int64_t ts = packet->pts != AV_NOPTS_VALUE ? packet->pts : packet->dts;
        const int64_t index = ts != AV_NOPTS_VALUE ? indexOf(ts) : packetCount_;
        packetCount_ = index + 1;
        return index > stopAfter;
    });
}

Status probeSource(const std::string& path, SourceInfo& info)
{
    FilmInput input;
    Status st = input.open(path);
    if (st)
        info = input.info();
    return st;
}

}  // namespace kelvra::film
