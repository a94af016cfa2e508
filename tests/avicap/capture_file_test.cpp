// Single-frame capture files, read back with FFmpeg's demuxer: counts, the exact rate, the test
// source's capture numbers in order; reopening, refusals and failures that lose nothing.
#include "avicap_support.h"

#include <kelvra/media/encoder.h>

#include <QComboBox>
#include <QDialog>
#include <QDir>
#include <QFile>
#include <QFileInfo>

#include <sys/resource.h>

#include <csignal>

using namespace avicap_test;
namespace at = kelvra::avicap::testing;
namespace pt = kelvra::platform::testing;
using kelvra::media::FrameSource;
using kelvra::media::TestSource;

namespace {

void onTestSource(HWND cap, const std::function<void(TestSource&)>& use)
{
    ASSERT_TRUE(at::withSource(cap, [&](FrameSource& s) {
        auto* test = dynamic_cast<TestSource*>(&s);
        ASSERT_NE(test, nullptr);
        use(*test);
    }));
}

QByteArray contents(const std::string& path)
{
    QFile f(QString::fromStdString(path));
    return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray();
}

}  // namespace

class CaptureFileTest : public CaptureTest {
protected:
    void SetUp() override
    {
        CaptureTest::SetUp();
        createCaptureWindow();
        ASSERT_TRUE(connect());
        send(cap_, WM_CAP_SET_PREVIEWRATE, 5);
        send(cap_, WM_CAP_SET_PREVIEW, 30);  // the program previews while it records
    }
    // What REC does: the frame time into the settings, then open.
    bool open(const std::string& file, DWORD microSecPerFrame = 1000000 / 15)
    {
        return setCaptureFile(cap_, file) && setFrameTime(cap_, microSecPerFrame) &&
               send(cap_, WM_CAP_SINGLE_FRAME_OPEN) != 0;
    }
    bool close() { return send(cap_, WM_CAP_SINGLE_FRAME_CLOSE) != 0; }
};

TEST_F(CaptureFileTest, FramesCountRateAndOrderAsFfmpegReadsThem)
{
    const std::string file = path("five.avi");
    ASSERT_TRUE(open(file, 66666));  // 1,000,000 / 15 with the fraction dropped
    for (int i = 1; i <= 5; ++i) {
        ASSERT_TRUE(send(cap_, WM_CAP_SINGLE_FRAME));
        // Valid and complete after every frame, while still open.
        const ReadBack now = readBack(file, false);
        ASSERT_TRUE(now.opened) << now.error;
        EXPECT_EQ(now.packets, i);
        EXPECT_EQ(now.headerFrames, i);
        EXPECT_EQ(at::openFileFrames(cap_), uint64_t(i));
    }
    ASSERT_TRUE(close());
    const ReadBack back = readBack(file);
    ASSERT_TRUE(back.opened) << back.error;
    EXPECT_EQ(back.error, "");
    EXPECT_EQ(back.headerFrames, 5);
    EXPECT_TRUE(rateIs(back, 66666)) << back.timeBaseNum << "/" << back.timeBaseDen;
    EXPECT_EQ(back.codec, "mjpeg");  // the default compressor
    EXPECT_EQ(back.width, 640);
    EXPECT_EQ(back.height, 480);
    EXPECT_EQ(back.stamps, oneTo(5));
    EXPECT_EQ(at::reportedErrors(cap_), 0);
}

TEST_F(CaptureFileTest, FrameTimeSetWhileOpenTakesEffect)
{
    const std::string file = path("rate.avi");
    ASSERT_TRUE(open(file, 66667));
    EXPECT_EQ(grab(2), 2);
    ASSERT_TRUE(setFrameTime(cap_, 100000));  // 10 fps, set while the file is open
    EXPECT_TRUE(rateIs(readBack(file, false), 100000));
    EXPECT_EQ(grab(1), 1);
    ASSERT_TRUE(close());
    const ReadBack back = readBack(file);
    EXPECT_TRUE(rateIs(back, 100000));
    EXPECT_EQ(back.stamps, oneTo(3));
    EXPECT_EQ(getParms(cap_).dwRequestMicroSecPerFrame, 100000u);
}

TEST_F(CaptureFileTest, OddFrameTimesAreExact)
{
    for (DWORD us : {1u, 33333u, 1000000u / 7u, 4294967295u}) {
        SCOPED_TRACE(us);
        const std::string file = path("odd" + std::to_string(us) + ".avi");
        ASSERT_TRUE(open(file, us));
        EXPECT_EQ(grab(1), 1);
        ASSERT_TRUE(close());
        EXPECT_TRUE(rateIs(readBack(file, false), us));
    }
}

TEST_F(CaptureFileTest, ReopenContinuesTheRecording)
{
    const std::string file = path("continued.avi");
    ASSERT_TRUE(open(file));
    EXPECT_EQ(grab(3), 3);
    EXPECT_TRUE(send(cap_, WM_CAP_SINGLE_FRAME_OPEN));  // already open: nothing changes
    ASSERT_TRUE(close());
    ASSERT_TRUE(open(file, 200000));  // REC again, at 5 fps now
    EXPECT_EQ(at::openFileFrames(cap_), 3u);
    EXPECT_EQ(grab(2), 2);
    ASSERT_TRUE(close());
    const ReadBack back = readBack(file);
    EXPECT_EQ(back.headerFrames, 5);
    EXPECT_EQ(back.stamps, oneTo(5));
    EXPECT_TRUE(rateIs(back, 200000));  // the last time per frame set is the file's
}

TEST_F(CaptureFileTest, ForeignOrIncompatibleFilesAreLeftAloneAndReportedOnce)
{
    const std::string text = path("notes.avi");
    QFile f(QString::fromStdString(text));
    ASSERT_TRUE(f.open(QIODevice::WriteOnly));
    f.write("a shopping list, not a video");
    f.close();
    EXPECT_FALSE(open(text));
    EXPECT_EQ(grab(3), 0);
    EXPECT_FALSE(send(cap_, WM_CAP_SINGLE_FRAME_OPEN));  // REC pressed again
    EXPECT_EQ(contents(text), QByteArray("a shopping list, not a video"));
    EXPECT_EQ(at::reportedErrors(cap_), 1);
    EXPECT_NE(at::bannerText(cap_).find("notes.avi"), std::string::npos);
    EXPECT_TRUE(at::noticeVisible(cap_));

    // A recording of another frame size is kept too.
    const std::string small = path("small.avi");
    onTestSource(cap_, [](TestSource& s) { ASSERT_TRUE(s.setFormat({kelvra::media::PixelFormat::YUYV422, 320, 240, {30, 1}})); });
    ASSERT_TRUE(open(small));
    EXPECT_EQ(grab(2), 2);
    ASSERT_TRUE(close());
    const QByteArray before = contents(small);
    onTestSource(cap_, [](TestSource& s) { ASSERT_TRUE(s.setFormat({kelvra::media::PixelFormat::YUYV422, 640, 480, {30, 1}})); });
    EXPECT_FALSE(open(small));
    EXPECT_NE(at::lastError(cap_).find("another frame size"), std::string::npos);
    EXPECT_EQ(contents(small), before);
    EXPECT_EQ(at::reportedErrors(cap_), 2);

    // Choosing a usable file ends the problem.
    EXPECT_TRUE(open(path("fresh.avi")));
    EXPECT_EQ(at::bannerText(cap_), "");
}

TEST_F(CaptureFileTest, DefaultFileGoesIntoACreatedVideosFolder)
{
    const std::string file = std::string(getenv("HOME")) + "/Videos/capture.avi";
    ASSERT_FALSE(QFileInfo::exists(QString::fromStdString(file)));
    ASSERT_TRUE(setFrameTime(cap_, 100000));
    ASSERT_TRUE(send(cap_, WM_CAP_SINGLE_FRAME_OPEN));
    EXPECT_EQ(at::openFilePath(cap_), file);
    EXPECT_EQ(grab(1), 1);
    ASSERT_TRUE(close());
    EXPECT_EQ(readBack(file).stamps, oneTo(1));
}

TEST_F(CaptureFileTest, MissingFolderIsReportedAndNothingCreated)
{
    const std::string file = path("no/such/folder/x.avi");
    EXPECT_FALSE(open(file));
    EXPECT_EQ(grab(2), 0);
    EXPECT_EQ(at::reportedErrors(cap_), 1);
    EXPECT_FALSE(QFileInfo::exists(QString::fromStdString(path("no"))));
}

TEST_F(CaptureFileTest, UnpluggedDeviceSkipsFramesAndResumesByItself)
{
    const std::string file = path("unplug.avi");
    ASSERT_TRUE(open(file));
    EXPECT_EQ(grab(2), 2);
    onTestSource(cap_, [](TestSource& s) { s.setUnplugged(true); });
    EXPECT_EQ(grab(4), 0);  // frame steps go on without frames, no crash
    EXPECT_EQ(at::reportedErrors(cap_), 1);
    EXPECT_NE(at::bannerText(cap_).find("gone"), std::string::npos);
    const ReadBack during = readBack(file);
    ASSERT_TRUE(during.opened) << during.error;
    EXPECT_EQ(during.stamps, oneTo(2));

    onTestSource(cap_, [](TestSource& s) { s.setUnplugged(false); });
    EXPECT_EQ(grab(2), 2);
    EXPECT_EQ(at::bannerText(cap_), "");
    ASSERT_TRUE(close());
    EXPECT_EQ(readBack(file).stamps, oneTo(4));
    EXPECT_EQ(at::reportedErrors(cap_), 1);
}

TEST_F(CaptureFileTest, StalledOrFailingDeviceIsReportedOncePerOccurrence)
{
    const std::string file = path("stall.avi");
    ASSERT_TRUE(open(file));
    at::setGrabTimeout(cap_, std::chrono::milliseconds(30));
    onTestSource(cap_, [](TestSource& s) { s.setStalled(true); });
    EXPECT_EQ(grab(3), 0);
    EXPECT_EQ(at::reportedErrors(cap_), 1);
    EXPECT_NE(at::lastError(cap_).find("no picture in time"), std::string::npos);
    onTestSource(cap_, [](TestSource& s) {
        s.setStalled(false);
        s.setFailing(true);
    });
    EXPECT_EQ(grab(2), 0);
    EXPECT_EQ(at::reportedErrors(cap_), 2);  // another problem: a new report
    onTestSource(cap_, [](TestSource& s) { s.setFailing(false); });
    EXPECT_EQ(grab(1), 1);
    onTestSource(cap_, [](TestSource& s) { s.setStalled(true); });
    EXPECT_EQ(grab(1), 0);
    EXPECT_EQ(at::reportedErrors(cap_), 3);  // it stopped and began again
    onTestSource(cap_, [](TestSource& s) { s.setStalled(false); });
    ASSERT_TRUE(close());
    EXPECT_EQ(readBack(file).stamps, oneTo(1));
}

TEST_F(CaptureFileTest, DiskFullKeepsEveryWrittenFrame)
{
    // Full frames, so that the room the file keeps in advance runs out after a few.
    pt::scriptModal([](QDialog& dialog, const kelvra::platform::ModalInfo&) {
        auto* codec = dialog.findChild<QComboBox*>(QStringLiteral("codec"));
        ASSERT_NE(codec, nullptr);
        codec->setCurrentIndex(codec->findText(QString::fromStdString(kelvra::media::availableCodecs()[0].name)));
        dialog.accept();
    });
    ASSERT_EQ(kelvra::media::availableCodecs()[0].codec, kelvra::media::Codec::Uncompressed);
    ASSERT_TRUE(send(cap_, WM_CAP_DLG_VIDEOCOMPRESSION));
    const std::string file = path("full.avi");
    ASSERT_TRUE(open(file));
    EXPECT_EQ(grab(1), 1);
    const qint64 size = QFileInfo(QString::fromStdString(file)).size();
    ASSERT_GT(size, 0);
    // A file-size limit at the current size stands in for a full disk: frames go on into the
    // room the file already has, until that runs out.
    struct rlimit saved;
    ASSERT_EQ(getrlimit(RLIMIT_FSIZE, &saved), 0);
    struct rlimit limited = saved;
    limited.rlim_cur = rlim_t(size);
    std::signal(SIGXFSZ, SIG_IGN);
    ASSERT_EQ(setrlimit(RLIMIT_FSIZE, &limited), 0);
    int written = 1, refused = 0;
    for (int i = 0; i < 100 && refused < 3; ++i)
        send(cap_, WM_CAP_SINGLE_FRAME) ? ++written : ++refused;
    ASSERT_EQ(setrlimit(RLIMIT_FSIZE, &saved), 0);
    ASSERT_EQ(refused, 3) << "the limit was never reached";
    EXPECT_EQ(at::reportedErrors(cap_), 1);
    EXPECT_NE(at::lastError(cap_).find("is kept"), std::string::npos);
    const ReadBack full = readBack(file);
    ASSERT_TRUE(full.opened) << full.error;
    EXPECT_EQ(full.stamps, oneTo(uint64_t(written)));

    // Room again: recording goes on behind the frames it has (the pictures taken while the
    // disk was full are the ones missing).
    EXPECT_TRUE(send(cap_, WM_CAP_SINGLE_FRAME)) << at::lastError(cap_);
    EXPECT_EQ(at::bannerText(cap_), "");
    EXPECT_TRUE(close());
    std::vector<uint64_t> expected = oneTo(uint64_t(written));
    expected.push_back(uint64_t(written + refused + 1));
    const ReadBack back = readBack(file);
    ASSERT_TRUE(back.opened) << back.error;
    EXPECT_EQ(back.stamps, expected);
}

TEST_F(CaptureFileTest, DisconnectFinishesTheFileAndRefusesASecondDevice)
{
    setenv("KELVRA_CAPTURE_DRIVERS", "test,/dev/nonexistent", 1);
    const std::string file = path("disc.avi");
    ASSERT_TRUE(open(file));
    EXPECT_EQ(grab(2), 2);
    EXPECT_FALSE(connect(1));  // another device while the file is open
    EXPECT_EQ(at::connectedDriver(cap_), "test");
    ASSERT_TRUE(send(cap_, WM_CAP_DRIVER_DISCONNECT));
    EXPECT_FALSE(at::fileOpen(cap_));
    EXPECT_FALSE(send(cap_, WM_CAP_SINGLE_FRAME));
    EXPECT_EQ(readBack(file).stamps, oneTo(2));
}
