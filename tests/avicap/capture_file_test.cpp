// Single-frame capture files, read back with FFmpeg's demuxer: counts, the exact rate, the test
// source's capture numbers in order; reopening, refusals and failures that lose nothing.
#include "avicap_support.h"

#include <kelvra/media/encoder.h>

#include <QComboBox>
#include <QDialog>
#include <QFile>
#include <QFileInfo>

#include <sys/resource.h>

#include <csignal>

using namespace avicap_test;
using media::TestSource;

namespace {

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
    // The camera misbehaving: unplugged, stalled, failing, another format.
    void onTestSource(const std::function<void(TestSource&)>& use)
    {
        ASSERT_TRUE(at::withSource(cap_, [&](media::FrameSource& s) {
            auto* test = dynamic_cast<TestSource*>(&s);
            ASSERT_NE(test, nullptr);
            use(*test);
        }));
    }
};

TEST_F(CaptureFileTest, FramesCountRateAndOrderAsFfmpegReadsThem)
{
    const std::string file = path("five.avi");
    ASSERT_TRUE(open(file, 66666));  // 1,000,000 / 15 with the fraction dropped
    for (int i = 1; i <= 5; ++i) {
        ASSERT_TRUE(send(cap_, WM_CAP_SINGLE_FRAME));
        // Valid and complete after every frame, while still open.
        const ReadBack now = readBack(file, false);
        EXPECT_EQ(now.packets, i);
        EXPECT_EQ(now.headerFrames, i);
        EXPECT_EQ(at::openFileFrames(cap_), uint64_t(i));
    }
    ASSERT_TRUE(close());
    const ReadBack back = readBack(file);
    EXPECT_EQ(back.headerFrames, 5);
    EXPECT_TRUE(rateIs(back, 66666)) << back.timeBaseNum << "/" << back.timeBaseDen;
    EXPECT_EQ(back.codec, "mjpeg");  // the default compressor
    EXPECT_EQ(back.width, 640);
    EXPECT_EQ(back.height, 480);
    EXPECT_EQ(back.stamps, oneTo(5));
    EXPECT_EQ(at::reportedErrors(cap_), 0);
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

// The file's rate follows the last time per frame set, while open too; REC again appends.
TEST_F(CaptureFileTest, ReopenContinuesTheRecordingAtTheLastRateSet)
{
    const std::string file = path("continued.avi");
    ASSERT_TRUE(open(file, 66667));
    EXPECT_EQ(grab(2), 2);
    ASSERT_TRUE(setFrameTime(cap_, 100000));  // 10 fps, set while the file is open
    EXPECT_TRUE(rateIs(readBack(file, false), 100000));
    EXPECT_EQ(grab(1), 1);
    ASSERT_TRUE(close());
    EXPECT_TRUE(rateIs(readBack(file, false), 100000));
    ASSERT_TRUE(open(file, 200000));  // REC again, at 5 fps now
    EXPECT_EQ(at::openFileFrames(cap_), 3u);
    EXPECT_EQ(grab(2), 2);
    ASSERT_TRUE(close());
    const ReadBack back = readBack(file);
    EXPECT_EQ(back.headerFrames, 5);
    EXPECT_EQ(back.stamps, oneTo(5));
    EXPECT_TRUE(rateIs(back, 200000));
}

// Files the window cannot record into are left as they are and reported once each.
TEST_F(CaptureFileTest, RefusedFilesAreLeftAloneAndReportedOnce)
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
    onTestSource([](TestSource& s) { ASSERT_TRUE(s.setFormat({media::PixelFormat::YUYV422, 320, 240, {30, 1}})); });
    ASSERT_TRUE(open(small));
    EXPECT_EQ(grab(2), 2);
    ASSERT_TRUE(close());
    const QByteArray before = contents(small);
    onTestSource([](TestSource& s) { ASSERT_TRUE(s.setFormat({media::PixelFormat::YUYV422, 640, 480, {30, 1}})); });
    EXPECT_FALSE(open(small));
    EXPECT_NE(at::lastError(cap_).find("another frame size"), std::string::npos);
    EXPECT_EQ(contents(small), before);
    EXPECT_EQ(at::reportedErrors(cap_), 2);

    // Choosing a usable file ends the problem.
    EXPECT_TRUE(open(path("fresh.avi")));
    EXPECT_EQ(at::bannerText(cap_), "");

    // Another name while a file is open is refused; once closed it is taken.
    EXPECT_FALSE(setCaptureFile(cap_, path("other.avi")));
    EXPECT_EQ(getCaptureFile(cap_), path("fresh.avi"));
    EXPECT_EQ(at::reportedErrors(cap_), 3);
    EXPECT_NE(at::bannerText(cap_).find("other.avi"), std::string::npos);
    EXPECT_TRUE(at::noticeVisible(cap_));
    ASSERT_TRUE(close());
    EXPECT_TRUE(setCaptureFile(cap_, path("other.avi")));
    EXPECT_EQ(at::bannerText(cap_), "");
}

// With no file set the recording goes into ~/Videos, made for it; a folder missing from a
// chosen name is reported and not made.
TEST_F(CaptureFileTest, DefaultFolderIsMadeAndAMissingOneReported)
{
    const std::string file = std::string(getenv("HOME")) + "/Videos/capture.avi";
    ASSERT_FALSE(QFileInfo::exists(QString::fromStdString(file)));
    ASSERT_TRUE(setFrameTime(cap_, 100000));
    ASSERT_TRUE(send(cap_, WM_CAP_SINGLE_FRAME_OPEN));
    EXPECT_EQ(at::openFilePath(cap_), file);
    EXPECT_EQ(grab(1), 1);
    ASSERT_TRUE(close());
    EXPECT_EQ(readBack(file).stamps, oneTo(1));

    EXPECT_FALSE(open(path("no/such/folder/x.avi")));
    EXPECT_EQ(grab(2), 0);
    EXPECT_EQ(at::reportedErrors(cap_), 1);
    EXPECT_FALSE(QFileInfo::exists(QString::fromStdString(path("no"))));
}

// A device unplugged, stalled or failing: frame steps go on without frames and without a crash,
// each occurrence is reported once, and recording resumes by itself when the device does.
TEST_F(CaptureFileTest, DeviceTroubleSkipsFramesAndResumesByItself)
{
    const std::string file = path("trouble.avi");
    ASSERT_TRUE(open(file));
    EXPECT_EQ(grab(2), 2);
    onTestSource([](TestSource& s) { s.setUnplugged(true); });
    EXPECT_EQ(grab(4), 0);
    EXPECT_EQ(at::reportedErrors(cap_), 1);
    EXPECT_NE(at::bannerText(cap_).find("gone"), std::string::npos);
    EXPECT_EQ(readBack(file).stamps, oneTo(2));
    onTestSource([](TestSource& s) { s.setUnplugged(false); });
    EXPECT_EQ(grab(2), 2);
    EXPECT_EQ(at::bannerText(cap_), "");
    EXPECT_EQ(at::reportedErrors(cap_), 1);

    at::setGrabTimeout(cap_, std::chrono::milliseconds(30));
    onTestSource([](TestSource& s) { s.setStalled(true); });
    EXPECT_EQ(grab(3), 0);
    EXPECT_EQ(at::reportedErrors(cap_), 2);
    EXPECT_NE(at::lastError(cap_).find("no picture in time"), std::string::npos);
    onTestSource([](TestSource& s) {
        s.setStalled(false);
        s.setFailing(true);
    });
    EXPECT_EQ(grab(2), 0);
    EXPECT_EQ(at::reportedErrors(cap_), 3);  // another problem: a new report
    onTestSource([](TestSource& s) { s.setFailing(false); });
    EXPECT_EQ(grab(1), 1);
    onTestSource([](TestSource& s) { s.setStalled(true); });
    EXPECT_EQ(grab(1), 0);
    EXPECT_EQ(at::reportedErrors(cap_), 4);  // it stopped and began again
    onTestSource([](TestSource& s) { s.setStalled(false); });
    ASSERT_TRUE(close());
    EXPECT_EQ(readBack(file).stamps, oneTo(5));
}

TEST_F(CaptureFileTest, DiskFullKeepsEveryWrittenFrame)
{
    // Full frames, so that the room the file keeps in advance runs out after a few.
    ASSERT_EQ(media::availableCodecs()[0].codec, media::Codec::Uncompressed);
    pt::scriptModal([](QDialog& dialog, const kelvra::platform::ModalInfo&) {
        auto* codec = dialog.findChild<QComboBox*>(QStringLiteral("codec"));
        ASSERT_NE(codec, nullptr);
        codec->setCurrentIndex(codec->findText(QString::fromStdString(media::availableCodecs()[0].name)));
        dialog.accept();
    });
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
    EXPECT_EQ(readBack(file).stamps, oneTo(uint64_t(written)));

    // Room again: recording goes on behind the frames it has (the pictures taken while the
    // disk was full are the ones missing).
    EXPECT_TRUE(send(cap_, WM_CAP_SINGLE_FRAME)) << at::lastError(cap_);
    EXPECT_EQ(at::bannerText(cap_), "");
    EXPECT_TRUE(close());
    std::vector<uint64_t> expected = oneTo(uint64_t(written));
    expected.push_back(uint64_t(written + refused + 1));
    EXPECT_EQ(readBack(file).stamps, expected);
}

// Disconnecting, or destroying the window, finishes the open file with every frame in it.
TEST_F(CaptureFileTest, DisconnectOrDestroyFinishesTheFile)
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

    ASSERT_TRUE(connect(0));
    ASSERT_TRUE(open(path("destroyed.avi")));
    EXPECT_EQ(grab(3), 3);
    parent_.reset();
    EXPECT_FALSE(IsWindow(cap_));
    EXPECT_EQ(readBack(path("destroyed.avi")).stamps, oneTo(3));
}

// Real or virtual V4L2 cameras (vivid, v4l2loopback): runs where the machine has one.
TEST_F(CaptureTest, EveryV4l2DeviceRecordsAValidFile)
{
    unsetenv("KELVRA_CAPTURE_DRIVERS");
    std::vector<media::DriverInfo> devices;
    for (const media::DriverInfo& d : media::installedDrivers())
        if (d.id.rfind("/dev/", 0) == 0)
            devices.push_back(d);
    if (devices.empty())
        GTEST_SKIP() << "no V4L2 capture device on this machine";
    createCaptureWindow();
    for (size_t i = 0; i < devices.size(); ++i) {
        SCOPED_TRACE(devices[i].id);
        if (!connect(i)) {
            ADD_FAILURE() << "cannot connect (busy?)";
            continue;
        }
        send(cap_, WM_CAP_SET_PREVIEW, 1);
        for (UINT dialog : {WM_CAP_DLG_VIDEOSOURCE, WM_CAP_DLG_VIDEOFORMAT}) {
            pt::scriptModal(pt::cancel());
            EXPECT_TRUE(send(cap_, dialog));
        }
        EXPECT_EQ(record("v4l2-" + std::to_string(i) + ".avi", 3).packets, 3);
        EXPECT_TRUE(send(cap_, WM_CAP_DRIVER_DISCONNECT));
    }
}
