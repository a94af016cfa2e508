// Reading the recording for an export: every frame in file order, decoded on the decoder's own
// threads. A file still being recorded is read up to the frames it held when it was opened.
#include "film_parts.h"

#include <algorithm>
#include <cerrno>
#include <cmath>
#include <cstring>

namespace kelvra::film {

namespace {

constexpr int64_t kMaxPixels = int64_t(8192) * 4320;  // beyond that a header is lying
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

FilmInput::~FilmInput()
{
    av_packet_free(&packet_);
    avcodec_free_context(&decoder_);
    avformat_close_input(&format_);
}

Status FilmInput::open(const std::string& path)
{
    path_ = path;
    int ret = avformat_open_input(&format_, path.c_str(), nullptr, nullptr);
    if (ret < 0)
        return Status::error(ret, "Cannot open the recording " + quoted(path) + ": " + avErrorText(ret));
    ret = avformat_find_stream_info(format_, nullptr);
    if (ret < 0)
        return Status::error(ret, "Cannot read the recording " + quoted(path) + ": " + avErrorText(ret));
    ret = av_find_best_stream(format_, AVMEDIA_TYPE_VIDEO, -1, -1, nullptr, 0);
    if (ret < 0)
        return Status::error(ret, "The file " + quoted(path) + " holds no video");
    stream_ = format_->streams[ret];
    const AVCodecParameters* par = stream_->codecpar;
    if (par->width <= 0 || par->height <= 0 || int64_t(par->width) * par->height > kMaxPixels)
        return Status::error(EINVAL, "The video in " + quoted(path) + " has no usable picture size");
    const AVCodec* codec = avcodec_find_decoder(par->codec_id);
    if (!codec)
        return Status::error(ENOSYS, "The video in " + quoted(path) + " cannot be decoded here");
    decoder_ = avcodec_alloc_context3(codec);
    packet_ = av_packet_alloc();
    if (!decoder_ || !packet_)
        return Status::error(ENOMEM, "Out of memory opening " + quoted(path));
    ret = avcodec_parameters_to_context(decoder_, par);
    if (ret >= 0) {
        decoder_->thread_count = 0;  // as many as the machine has
        decoder_->thread_type = FF_THREAD_FRAME | FF_THREAD_SLICE;
        decoder_->pkt_timebase = stream_->time_base;
        ret = avcodec_open2(decoder_, codec, nullptr);
    }
    if (ret < 0)
        return Status::error(ret, "Cannot decode the video in " + quoted(path) + ": " + avErrorText(ret));

    rate_ = stream_->r_frame_rate;
    if (rate_.num <= 0 || rate_.den <= 0)
        rate_ = stream_->avg_frame_rate;
    if (rate_.num <= 0 || rate_.den <= 0 || av_q2d(rate_) > 1000)
        rate_ = kFallbackRate;
    startPts_ = stream_->start_time != AV_NOPTS_VALUE ? stream_->start_time : 0;
    // The AVI headers count the frames the file held when it was opened; a recording going on
    // meanwhile adds frames after those, which this export leaves out.
    int64_t count = stream_->nb_frames;
    if (count <= 0)
        count = avformat_index_get_entries_count(stream_);
    info_ = {par->width, par->height, av_q2d(rate_), std::max<int64_t>(count, 0)};
    return Status::ok();
}

int64_t FilmInput::indexOf(int64_t timestamp) const
{
    double frames = (double(timestamp) - double(startPts_)) * av_q2d(stream_->time_base) * av_q2d(rate_);
    return std::isfinite(frames) ? std::llround(std::clamp(frames, -9e18, 9e18)) : 0;
}

Status FilmInput::seekTo(int64_t frame)
{
    packetCount_ = frame;
    if (frame <= 0)
        return Status::ok();
    int64_t target = startPts_ + av_rescale_q(frame, av_inv_q(rate_), stream_->time_base);
    int ret = av_seek_frame(format_, stream_->index, target, AVSEEK_FLAG_BACKWARD);
    if (ret < 0)  // no index to seek with: read from the start and pass over the frames before
        ret = av_seek_frame(format_, stream_->index, startPts_, AVSEEK_FLAG_BACKWARD | AVSEEK_FLAG_ANY);
    if (ret < 0)
        return Status::error(ret, "Cannot find frame " + std::to_string(frame + 1) + " in " + quoted(path_));
    avcodec_flush_buffers(decoder_);
    packetCount_ = 0;
    return Status::ok();
}

int FilmInput::next(AVFrame* frame, int64_t stopAfter)
{
    for (;;) {
        int ret = avcodec_receive_frame(decoder_, frame);
        if (ret != AVERROR(EAGAIN))
            return ret;
        if (drained_)
            return AVERROR_EOF;
        ret = av_read_frame(format_, packet_);
        if (ret >= 0 && packet_->stream_index != stream_->index) {
            av_packet_unref(packet_);
            continue;
        }
        int64_t index = packetCount_;
        if (ret >= 0) {
            int64_t ts = packet_->pts != AV_NOPTS_VALUE ? packet_->pts : packet_->dts;
            index = ts != AV_NOPTS_VALUE ? indexOf(ts) : packetCount_;
            packetCount_ = index + 1;
        }
        if (ret < 0 || index > stopAfter) {
            // The end of the range, of the file, or of what can be read of it: decode what is in.
            if (ret < 0 && ret != AVERROR_EOF)
                demuxError_ = ret;
            av_packet_unref(packet_);
            avcodec_send_packet(decoder_, nullptr);
            drained_ = true;
            continue;
        }
        // An empty chunk stands for a dropped frame; an empty packet would end the decoder's stream.
        if (packet_->size == 0) {
            av_packet_unref(packet_);
            continue;
        }
        ret = avcodec_send_packet(decoder_, packet_);
        av_packet_unref(packet_);
        if (ret < 0 && ret != AVERROR(EAGAIN))
            return ret;
    }
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
