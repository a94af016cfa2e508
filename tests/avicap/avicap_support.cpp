#include "avicap_support.h"

extern "C" {
#include <libavcodec/avcodec.h>
#include <libavformat/avformat.h>
}

#include <QDir>

#include <cstdlib>
#include <numeric>

namespace avicap_test {

void CaptureTest::SetUp()
{
    ASSERT_TRUE(dir_.isValid());
    QDir(dir_.path()).mkpath(QStringLiteral("home"));
    setenv("HOME", QDir(dir_.path()).filePath(QStringLiteral("home")).toLocal8Bit().constData(), 1);
    unsetenv("XDG_CONFIG_HOME");
    setenv("KELVRA_CAPTURE_DRIVERS", "test", 1);
    pt::useVirtualClock();
    pt::enableScriptedModals();
    at::recordMessages(true);
    parent_ = std::make_unique<ParentWindow>();
    parent_->show();
}

void CaptureTest::TearDown()
{
    parent_.reset();  // takes the capture window with it
    EXPECT_TRUE(pt::unscriptedModals().empty()) << "a modal window opened without a script";
    EXPECT_TRUE(pt::timedOutModals().empty()) << "a modal window had to be closed by the safety net";
    pt::disableScriptedModals();
    pt::useRealClock();
    at::recordMessages(false);
}

ReadBack CaptureTest::record(const std::string& name, int frames)
{
    EXPECT_TRUE(setCaptureFile(cap_, path(name)));
    EXPECT_TRUE(send(cap_, WM_CAP_SINGLE_FRAME_OPEN)) << at::lastError(cap_);
    EXPECT_EQ(grab(frames), frames) << at::lastError(cap_);
    EXPECT_TRUE(send(cap_, WM_CAP_SINGLE_FRAME_CLOSE));
    return readBack(path(name));
}

namespace {

// An uncompressed AVI frame: bottom-up BGR rows padded to 4 bytes; made top-down and unpadded.
media::Frame rawFrame(const AVPacket* packet, int width, int height)
{
    media::Frame frame;
    frame.width = width;
    frame.height = height;
    frame.format = media::PixelFormat::BGR24;
    const size_t row = size_t(width) * 3, stride = (row + 3) & ~size_t(3);
    if (size_t(packet->size) < stride * size_t(height))
        return frame;
    frame.data.resize(row * size_t(height));
    for (int y = 0; y < height; ++y)
        std::memcpy(frame.data.data() + size_t(y) * row, packet->data + size_t(height - 1 - y) * stride, row);
    return frame;
}

uint64_t stampOf(const AVPacket* packet, const AVCodecParameters* par)
{
    media::Frame frame;
    if (par->codec_id == AV_CODEC_ID_MJPEG) {
        frame.width = par->width;
        frame.height = par->height;
        frame.format = media::PixelFormat::MJPEG;
        frame.data.assign(packet->data, packet->data + packet->size);
    } else if (par->codec_id == AV_CODEC_ID_RAWVIDEO) {
        frame = rawFrame(packet, par->width, par->height);
    } else {
        return 0;
    }
    media::TestStamp stamp;
    return media::readTestStamp(frame, stamp) && !stamp.preview ? stamp.sequence : 0;
}

// The single video stream's parameters and every packet into `out`; an error text on failure.
std::string demux(AVFormatContext* ctx, bool stamps, ReadBack& out)
{
    if (avformat_find_stream_info(ctx, nullptr) < 0 || ctx->nb_streams != 1 ||
        ctx->streams[0]->codecpar->codec_type != AVMEDIA_TYPE_VIDEO)
        return "no single video stream";
    const AVStream* stream = ctx->streams[0];
    out.headerFrames = stream->nb_frames;
    out.timeBaseNum = stream->time_base.num;
    out.timeBaseDen = stream->time_base.den;
    out.width = stream->codecpar->width;
    out.height = stream->codecpar->height;
    out.codec = avcodec_get_name(stream->codecpar->codec_id);
    AVPacket* packet = av_packet_alloc();
    int err;
    while ((err = av_read_frame(ctx, packet)) >= 0) {
        ++out.packets;
        if (stamps)
            out.stamps.push_back(stampOf(packet, stream->codecpar));
        av_packet_unref(packet);
    }
    av_packet_free(&packet);
    return err == AVERROR_EOF ? std::string() : "av_read_frame failed: " + std::to_string(err);
}

}  // namespace

ReadBack readBack(const std::string& path, bool stamps)
{
    ReadBack out;
    AVFormatContext* ctx = nullptr;
    const int err = avformat_open_input(&ctx, path.c_str(), nullptr, nullptr);
    out.error = err < 0 ? "avformat_open_input failed: " + std::to_string(err) : demux(ctx, stamps, out);
    avformat_close_input(&ctx);
    EXPECT_EQ(out.error, "") << path;
    return out;
}

bool rateIs(const ReadBack& file, uint32_t microSecPerFrame)
{
    // time base = microSecPerFrame / 1,000,000 s, compared as exact fractions
    return file.timeBaseDen > 0 &&
           int64_t(file.timeBaseNum) * 1000000 == int64_t(microSecPerFrame) * int64_t(file.timeBaseDen);
}

std::vector<uint64_t> oneTo(uint64_t n)
{
    std::vector<uint64_t> v(n);
    std::iota(v.begin(), v.end(), uint64_t(1));
    return v;
}

}  // namespace avicap_test
