#include "avi_maker.h"

#include <kelvra/media/test_source.h>

extern "C" {
#include <libavformat/avformat.h>
}

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <iterator>
#include <vector>

using namespace kelvra::media;

namespace {

// FFmpeg stores raw RGB top-down (negative height); capture files are bottom-up. Turn the
// sign so the file says bottom-up, matching the encoder's row order.
bool markBottomUp(const std::string& path)
{
    std::fstream f(path, std::ios::in | std::ios::out | std::ios::binary);
    std::vector<char> bytes((std::istreambuf_iterator<char>(f)), {});
    const std::string tag = "strf";
    auto at = std::search(bytes.begin(), bytes.end(), tag.begin(), tag.end());
    if (at == bytes.end())
        return false;
    const size_t heightOffset = size_t(at - bytes.begin()) + 8 + 8;
    int32_t height;
    std::memcpy(&height, &bytes[heightOffset], 4);
    height = std::abs(height);
    f.seekp(std::streamoff(heightOffset));
    f.write(reinterpret_cast<const char*>(&height), 4);
    return bool(f);
}

}  // namespace

bool writeTestAvi(const std::string& path, Codec codec, int width, int height, int rateNum, int rateDen, int frames,
                  int quality)
{
    std::unique_ptr<Encoder> encoder;
    if (!Encoder::create(codec, width, height, quality, encoder))
        return false;
    const AviVideoFormat& fmt = encoder->format();
    AVFormatContext* oc = nullptr;
    if (avformat_alloc_output_context2(&oc, nullptr, "avi", path.c_str()) < 0)
        return false;
    AVStream* st = avformat_new_stream(oc, nullptr);
    st->time_base = {rateDen, rateNum};
    st->avg_frame_rate = {rateNum, rateDen};
    AVCodecParameters* par = st->codecpar;
    par->codec_type = AVMEDIA_TYPE_VIDEO;
    par->codec_id = codec == Codec::Uncompressed ? AV_CODEC_ID_RAWVIDEO
                    : codec == Codec::MotionJpeg ? AV_CODEC_ID_MJPEG
                                                 : AV_CODEC_ID_FFV1;
    par->codec_tag = fmt.compression;
    par->width = width;
    par->height = height;
    par->bits_per_coded_sample = fmt.bitCount;
    if (codec == Codec::Uncompressed)
        par->format = AV_PIX_FMT_BGR24;
    if (!fmt.extradata.empty()) {
        par->extradata = static_cast<uint8_t*>(av_mallocz(fmt.extradata.size() + AV_INPUT_BUFFER_PADDING_SIZE));
        std::memcpy(par->extradata, fmt.extradata.data(), fmt.extradata.size());
        par->extradata_size = int(fmt.extradata.size());
    }
    bool ok = avio_open(&oc->pb, path.c_str(), AVIO_FLAG_WRITE) >= 0 && avformat_write_header(oc, nullptr) >= 0;
    TestSource source;
    ok = ok && source.setFormat({PixelFormat::RGB24, width, height, {30, 1}});
    AVPacket* pkt = av_packet_alloc();
    for (int i = 0; ok && i < frames; ++i) {
        Frame picture;
        std::vector<uint8_t> data;
        bool key = false;
        ok = source.grabFresh(picture, std::chrono::milliseconds(100)) && encoder->encode(picture, data, key);
        if (!ok)
            break;
        av_new_packet(pkt, int(data.size()));
        std::memcpy(pkt->data, data.data(), data.size());
        pkt->stream_index = st->index;
        pkt->pts = pkt->dts = i;
        pkt->duration = 1;
        av_packet_rescale_ts(pkt, AVRational{rateDen, rateNum}, st->time_base);
        if (key)
            pkt->flags |= AV_PKT_FLAG_KEY;
        ok = av_interleaved_write_frame(oc, pkt) >= 0;
    }
    av_packet_free(&pkt);
    ok = ok && av_write_trailer(oc) >= 0;
    avio_closep(&oc->pb);
    avformat_free_context(oc);
    return ok && (codec != Codec::Uncompressed || markBottomUp(path));
}
