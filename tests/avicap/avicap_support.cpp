#include "avicap_support.h"

extern "C" {
#include <libavcodec/avcodec.h>
#include <libavformat/avformat.h>
}

#include <QDir>

#include <cstdlib>
#include <cstring>

namespace avicap_test {

namespace pt = kelvra::platform::testing;
namespace at = kelvra::avicap::testing;

LRESULT send(HWND hwnd, UINT msg, WPARAM wParam, LPARAM lParam)
{
    return SendMessageA(hwnd, msg, wParam, lParam);
}

CAPTUREPARMS getParms(HWND cap)
{
    CAPTUREPARMS p;
    std::memset(&p, 0, sizeof p);
    EXPECT_TRUE(send(cap, WM_CAP_GET_SEQUENCE_SETUP, sizeof p, lp(&p)));
    return p;
}

bool setFrameTime(HWND cap, DWORD microSecPerFrame)
{
    CAPTUREPARMS p = getParms(cap);
    p.dwRequestMicroSecPerFrame = microSecPerFrame;
    return send(cap, WM_CAP_SET_SEQUENCE_SETUP, sizeof p, lp(&p)) != 0;
}

bool setCaptureFile(HWND cap, const std::string& path)
{
    return send(cap, WM_CAP_FILE_SET_CAPTURE_FILEA, 0, lp(path.c_str())) != 0;
}

std::string getCaptureFile(HWND cap)
{
    char buffer[MAX_PATH] = {};
    EXPECT_TRUE(send(cap, WM_CAP_FILE_GET_CAPTURE_FILEA, sizeof buffer, lp(buffer)));
    return buffer;
}

std::vector<UINT> messageIds(HWND cap)
{
    std::vector<UINT> ids;
    for (const at::CapMessage& m : at::messages(cap))
        ids.push_back(m.msg);
    return ids;
}

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

HWND CaptureTest::createCaptureWindow()
{
    cap_ = capCreateCaptureWindowA("Capture Window", WS_CHILD | WS_VISIBLE, 22, 30, 200, 168, parent_->handle(), 0);
    return cap_;
}

bool CaptureTest::connect(WPARAM index)
{
    return send(cap_, WM_CAP_DRIVER_CONNECT, index) != 0;
}

std::string CaptureTest::path(const std::string& name) const
{
    return QDir(dir_.path()).filePath(QString::fromStdString(name)).toStdString();
}

int CaptureTest::grab(int count)
{
    int ok = 0;
    for (int i = 0; i < count; ++i)
        ok += send(cap_, WM_CAP_SINGLE_FRAME) ? 1 : 0;
    return ok;
}

namespace {

// An uncompressed AVI frame: bottom-up BGR rows padded to 4 bytes; made top-down and unpadded.
kelvra::media::Frame rawFrame(const AVPacket* packet, int width, int height)
{
    kelvra::media::Frame frame;
    frame.width = width;
    frame.height = height;
    frame.format = kelvra::media::PixelFormat::BGR24;
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
    kelvra::media::Frame frame;
    if (par->codec_id == AV_CODEC_ID_MJPEG) {
        frame.width = par->width;
        frame.height = par->height;
        frame.format = kelvra::media::PixelFormat::MJPEG;
        frame.data.assign(packet->data, packet->data + packet->size);
    } else if (par->codec_id == AV_CODEC_ID_RAWVIDEO) {
        frame = rawFrame(packet, par->width, par->height);
    } else {
        return 0;
    }
    kelvra::media::TestStamp stamp;
    return kelvra::media::readTestStamp(frame, stamp) && !stamp.preview ? stamp.sequence : 0;
}

}  // namespace

ReadBack readBack(const std::string& path, bool stamps)
{
    ReadBack out;
    AVFormatContext* ctx = nullptr;
    int err = avformat_open_input(&ctx, path.c_str(), nullptr, nullptr);
    if (err < 0) {
        out.error = "avformat_open_input failed: " + std::to_string(err);
        return out;
    }
    if (avformat_find_stream_info(ctx, nullptr) < 0 || ctx->nb_streams != 1 ||
        ctx->streams[0]->codecpar->codec_type != AVMEDIA_TYPE_VIDEO) {
        out.error = "no single video stream";
        avformat_close_input(&ctx);
        return out;
    }
    const AVStream* stream = ctx->streams[0];
    out.opened = true;
    out.headerFrames = stream->nb_frames;
    out.timeBaseNum = stream->time_base.num;
    out.timeBaseDen = stream->time_base.den;
    out.width = stream->codecpar->width;
    out.height = stream->codecpar->height;
    out.codec = avcodec_get_name(stream->codecpar->codec_id);
    AVPacket* packet = av_packet_alloc();
    while ((err = av_read_frame(ctx, packet)) >= 0) {
        ++out.packets;
        if (stamps)
            out.stamps.push_back(stampOf(packet, stream->codecpar));
        av_packet_unref(packet);
    }
    if (err != AVERROR_EOF)
        out.error = "av_read_frame failed: " + std::to_string(err);
    av_packet_free(&packet);
    avformat_close_input(&ctx);
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
    std::vector<uint64_t> v;
    for (uint64_t i = 1; i <= n; ++i)
        v.push_back(i);
    return v;
}

}  // namespace avicap_test
