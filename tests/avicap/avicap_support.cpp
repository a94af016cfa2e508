#include "avicap_support.h"

extern "C" {
#include <libavcodec/avcodec.h>
#include <libavformat/avformat.h>
}

#include <QComboBox>
#include <QDir>
#include <QFile>
#include <QFileInfo>

#include <sys/resource.h>

#include <csignal>
#include <cstdlib>

namespace avicap_test {

// Runs `during` with files limited to the size `file` has now, as a full disk would.
void withFullDisk(const std::string& file, const std::function<void()>& during)
{
    struct rlimit saved, limited;
    ASSERT_EQ(getrlimit(RLIMIT_FSIZE, &saved), 0);
    limited = saved;
    limited.rlim_cur = rlim_t(QFileInfo(QString::fromStdString(file)).size());
    std::signal(SIGXFSZ, SIG_IGN);
    ASSERT_EQ(setrlimit(RLIMIT_FSIZE, &limited), 0);
    during();
    ASSERT_EQ(setrlimit(RLIMIT_FSIZE, &saved), 0);
}

bool writeFile(const std::string& path, const QByteArray& bytes)
{
    QFile f(QString::fromStdString(path));
    return f.open(QIODevice::WriteOnly) && f.write(bytes) == bytes.size();
}

QByteArray contents(const std::string& path)
{
    QFile f(QString::fromStdString(path));
    return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray();
}

void select(QDialog& dialog, const char* combo, const QString& text)
{
    QComboBox* box = child<QComboBox>(dialog, QString::fromLatin1(combo));
    ASSERT_NE(box, nullptr);
    const int i = box->findText(text);
    EXPECT_GE(i, 0) << text.toStdString();
    box->setCurrentIndex(i);
}

QString codecName(media::Codec which)
{
    for (const media::CodecInfo& c : media::availableCodecs())
        if (c.codec == which)
            return QString::fromStdString(c.name);
    ADD_FAILURE() << "no such compressor";
    return {};
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
    at::setDiskRoom(kDiskRoomBytes);
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
    at::setDiskRoom(std::nullopt);
    at::setWallClock(std::nullopt);
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

// The test source's stamp in a frame: MJPEG as it is, uncompressed AVI rows (bottom-up BGR
// padded to 4 bytes) made top-down and unpadded first.
uint64_t stampOf(const AVPacket* packet, const AVCodecParameters* par)
{
    media::Frame frame;
    frame.width = par->width;
    frame.height = par->height;
    if (par->codec_id == AV_CODEC_ID_MJPEG) {
        frame.format = media::PixelFormat::MJPEG;
        frame.data.assign(packet->data, packet->data + packet->size);
    } else if (par->codec_id == AV_CODEC_ID_RAWVIDEO) {
        frame.format = media::PixelFormat::BGR24;
        const size_t row = size_t(par->width) * 3, stride = (row + 3) & ~size_t(3), h = size_t(par->height);
        if (size_t(packet->size) < stride * h)
            return 0;
        frame.data.resize(row * h);
        for (size_t y = 0; y < h; ++y)
            std::memcpy(frame.data.data() + y * row, packet->data + (h - 1 - y) * stride, row);
    } else {
        return 0;
    }
    media::TestStamp stamp;
    return media::readTestStamp(frame, stamp) && !stamp.preview ? stamp.sequence : 0;
}

}  // namespace

ReadBack readBack(const std::string& path, bool stamps)
{
    ReadBack out;
    AVFormatContext* ctx = nullptr;
    AVPacket* packet = av_packet_alloc();
    int err = avformat_open_input(&ctx, path.c_str(), nullptr, nullptr);
    if (err >= 0 && (avformat_find_stream_info(ctx, nullptr) < 0 || ctx->nb_streams != 1 ||
                     ctx->streams[0]->codecpar->codec_type != AVMEDIA_TYPE_VIDEO))
        err = AVERROR_INVALIDDATA;  // not the single video stream a capture file has
    if (err >= 0) {
        const AVStream* stream = ctx->streams[0];
        out.headerFrames = stream->nb_frames;
        out.timeBaseNum = stream->time_base.num;
        out.timeBaseDen = stream->time_base.den;
        out.width = stream->codecpar->width;
        out.height = stream->codecpar->height;
        out.codec = avcodec_get_name(stream->codecpar->codec_id);
        while ((err = av_read_frame(ctx, packet)) >= 0) {
            ++out.packets;
            if (stamps)
                out.stamps.push_back(stampOf(packet, stream->codecpar));
            av_packet_unref(packet);
        }
    }
    EXPECT_EQ(err, AVERROR_EOF) << path;  // read to its end
    av_packet_free(&packet);
    avformat_close_input(&ctx);
    return out;
}

}  // namespace avicap_test
