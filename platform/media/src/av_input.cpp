#include "convert.h"

#include <kelvra/media/av_input.h>

extern "C" {
#include <libavcodec/avcodec.h>
#include <libavformat/avformat.h>
}

#include <cerrno>

namespace kelvra::media {

AvInput::~AvInput()
{
    av_frame_free(&frame);
    av_packet_free(&packet);
    avcodec_free_context(&decoder);
    avformat_close_input(&format);
}

Status AvInput::open(const std::string& path, const AvInputOptions& options)
{
    const std::string quoted = "'" + path + "'";
    const std::string named = options.fileWords + quoted;
    int ret = avformat_open_input(&format, path.c_str(), nullptr, nullptr);
    if (ret < 0)
        return Status::error(ret, "Cannot open " + named + ": " +
                                      (options.openSaysNotVideo
                                           ? "not a video file that can be read (" + avErrorText(ret) + ")"
                                           : avErrorText(ret)));
    if (options.findStreamInfo && (ret = avformat_find_stream_info(format, nullptr)) < 0)
        return Status::error(ret, "Cannot read " + named + ": " + avErrorText(ret));
    ret = av_find_best_stream(format, AVMEDIA_TYPE_VIDEO, -1, -1, nullptr, 0);
    if (ret < 0)
        return Status::error(ret, "The file " + quoted + " holds no video");
    stream = format->streams[ret];
    const AVCodecParameters* par = stream->codecpar;
    if (par->width <= 0 || par->height <= 0 || int64_t(par->width) * par->height > kMaxVideoPixels)
        return Status::error(EINVAL, "The video in " + quoted + " has no usable picture size");
    const AVCodec* codec = avcodec_find_decoder(par->codec_id);
    if (!codec)
        return Status::error(ENOSYS, "The video in " + quoted +
                                         (options.namesCodec ? std::string(" is compressed with ") +
                                                                   avcodec_get_name(par->codec_id) + ", which"
                                                             : std::string()) +
                                         " cannot be decoded here");
    decoder = avcodec_alloc_context3(codec);
    packet = av_packet_alloc();
    frame = av_frame_alloc();
    if (!decoder || !packet || !frame)
        return Status::error(ENOMEM, "Out of memory opening " + quoted);
    ret = avcodec_parameters_to_context(decoder, par);
    if (ret >= 0) {
        decoder->thread_count = options.threadCount;
        decoder->thread_type = FF_THREAD_FRAME | FF_THREAD_SLICE;  // libavcodec's default, said here
        decoder->pkt_timebase = stream->time_base;
        ret = avcodec_open2(decoder, codec, nullptr);
    }
    if (ret < 0)
        return Status::error(ret, "Cannot decode the video in " + quoted + ": " + avErrorText(ret));
    return Status::ok();
}

int AvInput::decode(AVFrame* into, const std::function<bool(const AVPacket*)>& endsAt)
{
    for (;;) {
        int ret = avcodec_receive_frame(decoder, into);
        if (ret != AVERROR(EAGAIN))
            return ret;
        if (drained)
            return AVERROR_EOF;
        ret = av_read_frame(format, packet);
        if (ret >= 0 && packet->stream_index != stream->index) {
            av_packet_unref(packet);
            continue;
        }
        if (ret < 0 || (endsAt && endsAt(packet))) {
            // The end of the range, of the file, or of what can be read of it: decode what is in.
            if (ret < 0 && ret != AVERROR_EOF)
                demuxError = ret;
            av_packet_unref(packet);
            avcodec_send_packet(decoder, nullptr);
            drained = true;
            continue;
        }
        // An empty chunk stands for a dropped frame; an empty packet would end the decoder's stream.
        if (packet->size == 0) {
            av_packet_unref(packet);
            continue;
        }
        ret = avcodec_send_packet(decoder, packet);
        av_packet_unref(packet);
        if (ret < 0 && ret != AVERROR(EAGAIN))
            return ret;
    }
}

}  // namespace kelvra::media
