// Single-frame capture files, read back with FFmpeg's demuxer: counts, the exact rate, the test
// source's capture numbers in order; reopening, refusals, failures that lose nothing, lifetime.
#include "avicap_support.h"

#include <QComboBox>
#include <QDir>
#include <QFileInfo>
#include <QImage>
#include <QSlider>
#include <QTest>

#include <cstdlib>

using namespace avicap_test;
using media::TestSource;

// One file recorded at each frame time in turn, REC again appending to it: valid and complete
// after every frame while still open, at the last rate set (while open too), exact even where a
// frame time does not divide a second.
TEST_F(CaptureFileTest, FramesCountRateAndOrderAsFfmpegReadsThem)
{
    const std::string file = path("rates.avi");
    // 66666 is 1,000,000 / 15 with the fraction dropped.
    const DWORD rates[] = {66666, 1, 33333, 1000000 / 7, 4294967295};
    for (int64_t row = 0, before = 0; row < int64_t(std::size(rates)); ++row, before += 3) {
        SCOPED_TRACE(rates[row]);
        ASSERT_TRUE(open(file, rates[row]));
        EXPECT_EQ(at::openFileFrames(cap_), uint64_t(before));
        for (int64_t i = before + 1; i <= before + 3; ++i) {
            ASSERT_TRUE(send(cap_, WM_CAP_SINGLE_FRAME));
            const ReadBack now = readBack(file, false);
            EXPECT_EQ(std::pair(now.packets, now.headerFrames), std::pair(i, i));
            EXPECT_EQ(at::openFileFrames(cap_), uint64_t(i));
        }
        ASSERT_TRUE(close());
        const ReadBack back = readBack(file);
        EXPECT_EQ(back.headerFrames, before + 3);
        EXPECT_TRUE(back.rateIs(rates[row])) << back.timeBaseNum << "/" << back.timeBaseDen;
        // The default compressor at the test source's size.
        EXPECT_EQ(std::tuple(back.codec, back.width, back.height), std::tuple("mjpeg", 640, 480));
        EXPECT_EQ(back.stamps, seq(1, before + 3));
    }
    ASSERT_TRUE(open(file, 66667));
    ASSERT_TRUE(setFrameTime(cap_, 100000));
    EXPECT_TRUE(readBack(file, false).rateIs(100000));
    ASSERT_TRUE(close());
    EXPECT_TRUE(readBack(file, false).rateIs(100000));
    EXPECT_EQ(at::reportedErrors(cap_), 0);
}

// With no file set the recording goes into ~/Videos, made for it. Files the window cannot record
// into are left as they are and reported once each, in a banner drawn over the picture
// (KELVRA_SHOTS_DIR=folder keeps a shot of it).
TEST_F(CaptureFileTest, DefaultFolderIsMadeRefusedFilesAreLeftAloneAndReportedOnce)
{
    const std::string home = std::string(getenv("HOME")) + "/Videos/capture.avi";
    ASSERT_FALSE(QFileInfo::exists(QString::fromStdString(home)));
    ASSERT_TRUE(send(cap_, WM_CAP_SINGLE_FRAME_OPEN));
    EXPECT_EQ(at::openFilePath(cap_), home);
    EXPECT_EQ(grab(1), 1);
    ASSERT_TRUE(close());
    EXPECT_EQ(readBack(home).stamps, seq(1, 1));

    const std::string text = path("notes.avi");
    ASSERT_TRUE(writeFile(text, "a shopping list, not a video"));
    EXPECT_FALSE(open(text));
    EXPECT_EQ(grab(3), 0);
    EXPECT_FALSE(send(cap_, WM_CAP_SINGLE_FRAME_OPEN));  // REC pressed again
    EXPECT_EQ(contents(text), QByteArray("a shopping list, not a video"));
    EXPECT_EQ(at::reportedErrors(cap_), 1);
    EXPECT_NE(at::bannerText(cap_).find("notes.avi"), std::string::npos);
    EXPECT_TRUE(at::noticeVisible(cap_));
    EXPECT_EQ(at::noticeTitle(cap_), "Capture File");
    EXPECT_NE(at::statusText(cap_).find("Not recording: 3 frame steps found no open capture file."), std::string::npos);
    const uint64_t shown = at::picturesShown(cap_);
    ASSERT_TRUE(QTest::qWaitFor([&] { return at::picturesShown(cap_) >= shown + 2; }, 5000));
    const QImage shot = kelvra::platform::widgetFromHandle(cap_)->grab().toImage();
    const QColor bottom = shot.pixelColor(shot.width() / 2, shot.height() - 2);
    EXPECT_GT(bottom.red(), 2 * bottom.green());  // dark red across the bottom
    const char* shots = std::getenv("KELVRA_SHOTS_DIR");
    EXPECT_TRUE(!shots || (QDir().mkpath(shots) && shot.save(QDir(shots).filePath("avicap-banner.png"))));

    // A folder missing from a chosen name is not made.
    EXPECT_FALSE(open(path("no/such/folder/x.avi")));
    EXPECT_EQ(grab(2), 0);
    EXPECT_EQ(at::reportedErrors(cap_), 2);
    EXPECT_FALSE(QFileInfo::exists(QString::fromStdString(path("no"))));
    // The system's reason is a sentence of its own, closed before the next one begins.
    EXPECT_NE(at::lastError(cap_).find(". Frame steps are not recorded until it can."), std::string::npos)
        << at::lastError(cap_);
    ASSERT_TRUE(QDir().mkpath(QString::fromStdString(path("a-folder.avi"))));
    EXPECT_FALSE(open(path("a-folder.avi")));
    EXPECT_NE(at::lastError(cap_).find("it is a folder. Frame steps"), std::string::npos) << at::lastError(cap_);
    EXPECT_EQ(at::reportedErrors(cap_), 3);

    // A recording of another frame size is kept too: chosen, it brings the device to its size, but
    // a size changed again before REC cannot go into it.
    const std::string small = path("small.avi");
    onTestSource([](TestSource& s) { ASSERT_TRUE(s.setFormat({media::PixelFormat::YUYV422, 320, 240, {30, 1}})); });
    EXPECT_EQ(record("small.avi", 2).width, 320);
    const QByteArray before = contents(small);
    onTestSource([](TestSource& s) { ASSERT_TRUE(s.setFormat({media::PixelFormat::YUYV422, 640, 480, {30, 1}})); });
    ASSERT_TRUE(setCaptureFile(cap_, small));
    onTestSource([](TestSource& s) { ASSERT_TRUE(s.setFormat({media::PixelFormat::YUYV422, 640, 480, {30, 1}})); });
    EXPECT_FALSE(send(cap_, WM_CAP_SINGLE_FRAME_OPEN));
    // The refusal names what the file holds and what would go in; the box, what to change.
    EXPECT_NE(at::lastError(cap_).find("holds a recording of 320x240, Motion JPEG; this window would write 640x480, "
                                       "Motion JPEG"), std::string::npos) << at::lastError(cap_);
    EXPECT_EQ(at::noticeTitle(cap_), "Video Format");
    EXPECT_EQ(contents(small), before);
    EXPECT_EQ(at::reportedErrors(cap_), 4);

    // Choosing a usable file ends the problem; another name while it is open is refused.
    EXPECT_TRUE(open(path("fresh.avi")));
    EXPECT_EQ(at::bannerText(cap_), "");
    EXPECT_FALSE(setCaptureFile(cap_, path("other.avi")));
    EXPECT_EQ(getCaptureFile(cap_), path("fresh.avi"));
    EXPECT_EQ(at::reportedErrors(cap_), 5);
    EXPECT_NE(at::bannerText(cap_).find("other.avi"), std::string::npos);
    EXPECT_TRUE(at::noticeVisible(cap_));
    ASSERT_TRUE(close());
    EXPECT_TRUE(setCaptureFile(cap_, path("other.avi")));
    EXPECT_EQ(at::bannerText(cap_), "");
    EXPECT_FALSE(at::noticeVisible(cap_));  // the refusal it told of is over
}

// A device unplugged, stalled or failing: frame steps go on without frames and without a crash,
// each occurrence is reported once, and recording resumes by itself when the device does.
TEST_F(CaptureFileTest, DeviceTroubleSkipsFramesAndResumesByItself)
{
    // The device's state; frame steps tried and taken; problems reported so far; what the banner
    // shows ("" = nothing, nullptr = not checked).
    const struct { bool unplugged, stalled, failing; int tries, taken, reports; const char* banner; } steps[] = {
        {false, false, false, 2, 2, 0, ""}, {true, false, false, 4, 0, 1, "gone"}, {false, false, false, 2, 2, 1, ""},
        {false, true, false, 3, 0, 2, "no picture in time"},
        {false, false, true, 2, 0, 3, nullptr},  // another problem: a new report
        {false, false, false, 1, 1, 3, ""},
        {false, true, false, 1, 0, 4, "no picture in time"}};  // it stopped and began again
    const std::string file = path("trouble.avi");
    ASSERT_TRUE(open(file));
    at::setGrabTimeout(cap_, std::chrono::milliseconds(30));
    for (const auto& step : steps) {
        SCOPED_TRACE(std::to_string(&step - steps));
        onTestSource([&](TestSource& s) {
            s.setUnplugged(step.unplugged);
            s.setStalled(step.stalled);
            s.setFailing(step.failing);
        });
        EXPECT_EQ(grab(step.tries), step.taken);
        EXPECT_EQ(at::reportedErrors(cap_), step.reports);
        const std::string shown = at::bannerText(cap_);
        EXPECT_TRUE(!step.banner || (*step.banner ? shown.find(step.banner) != shown.npos : shown.empty())) << shown;
        // The notice is there while the trouble is, and goes once the camera is back.
        EXPECT_EQ(at::noticeVisible(cap_), !shown.empty());
    }
    ASSERT_TRUE(close());
    EXPECT_EQ(readBack(file).stamps, seq(1, 5));
}

// The compressor chosen applies to the next file (a cancelled choice changes nothing). Full
// frames make the room the file keeps in advance run out after a few on a full disk.
TEST_F(CaptureFileTest, CompressionChoiceAndDiskFullKeepingEveryWrittenFrame)
{
    pt::scriptModal([](QDialog& dialog, const ModalInfo&) {
        select(dialog, "codec", codecName(media::Codec::Uncompressed));
        dialog.reject();
    });
    ASSERT_TRUE(send(cap_, WM_CAP_DLG_VIDEOCOMPRESSION));
    EXPECT_EQ(record("still-mjpeg.avi", 1).codec, "mjpeg");
    pt::scriptModal([](QDialog& dialog, const ModalInfo& info) {
        EXPECT_EQ(info.caption, "Video Compression");
        auto* quality = child<QSlider>(dialog, "quality");
        EXPECT_EQ(child<QComboBox>(dialog, "codec")->currentText(), codecName(media::Codec::MotionJpeg));
        EXPECT_TRUE(quality->isEnabled());
        select(dialog, "codec", codecName(media::Codec::Uncompressed));
        EXPECT_FALSE(quality->isEnabled());  // full frames have no quality
        dialog.accept();
    });
    ASSERT_TRUE(send(cap_, WM_CAP_DLG_VIDEOCOMPRESSION));
    const std::string file = path("full.avi");
    ASSERT_TRUE(open(file));
    EXPECT_EQ(grab(1), 1);
    // A file-size limit at the current size stands in for a full disk: frames go on into the
    // room the file already has, until that runs out.
    int written = 1, refused = 0;
    withFullDisk(file, [&] {
        for (int i = 0; i < 100 && refused < 3; ++i)
            send(cap_, WM_CAP_SINGLE_FRAME) ? ++written : ++refused;
    });
    ASSERT_EQ(refused, 3) << "the limit was never reached";
    EXPECT_EQ(at::reportedErrors(cap_), 1);
    EXPECT_NE(at::lastError(cap_).find("File too large. Every frame already in"), std::string::npos)
        << at::lastError(cap_);
    EXPECT_EQ(readBack(file).stamps, seq(2, written + 1));

    // Room again: recording goes on behind the frames it has (the pictures taken while the
    // disk was full are the ones missing).
    EXPECT_TRUE(send(cap_, WM_CAP_SINGLE_FRAME)) << at::lastError(cap_);
    EXPECT_EQ(at::bannerText(cap_), "");
    EXPECT_TRUE(close());
    std::vector<uint64_t> expected = seq(2, written + 1);
    expected.push_back(uint64_t(written + refused + 2));
    const ReadBack back = readBack(file);
    EXPECT_EQ(back.codec, "rawvideo");
    EXPECT_EQ(back.stamps, expected);
}

// A child at its pixel rectangle that goes with its parent. Disconnecting, or destroying the
// window (under one of its own dialogs, its parent closed by a tick, say, or with its parent)
// finishes the open file with every frame in it; the dialog goes with it, nothing is touched
// afterwards. No parent gives a top-level window, a parent already gone gives none.
TEST_F(CaptureFileTest, LifetimeDisconnectOrDestroyFinishesTheFile)
{
    EXPECT_EQ(kelvra::platform::widgetFromHandle(cap_)->parentWidget(), parent_.get());
    EXPECT_EQ(kelvra::platform::widgetFromHandle(cap_)->geometry(), QRect(22, 30, 200, 168));
    setenv("KELVRA_CAPTURE_DRIVERS", "test,/dev/nonexistent", 1);
    ASSERT_TRUE(open(path("disc.avi")));
    EXPECT_EQ(grab(2), 2);
    EXPECT_FALSE(connect(1));  // another device while the file is open
    EXPECT_EQ(at::connectedDriver(cap_), "test");
    ASSERT_TRUE(send(cap_, WM_CAP_DRIVER_DISCONNECT));
    EXPECT_FALSE(at::fileOpen(cap_));
    EXPECT_FALSE(send(cap_, WM_CAP_SINGLE_FRAME));
    EXPECT_EQ(readBack(path("disc.avi")).stamps, seq(1, 2));

    ASSERT_TRUE(connect(0));
    ASSERT_TRUE(open(path("gone.avi")));
    EXPECT_EQ(grab(1), 1);
    for (UINT msg : {WM_CAP_DLG_VIDEOSOURCE, WM_CAP_DLG_VIDEOFORMAT, WM_CAP_DLG_VIDEOCOMPRESSION}) {
        SCOPED_TRACE(msg - WM_USER);
        HWND cap = cap_;
        pt::scriptModal([cap](QDialog&, const ModalInfo&) { EXPECT_TRUE(DestroyWindow(cap)); });
        send(cap, msg);
        EXPECT_FALSE(IsWindow(cap));
        createCaptureWindow();
        ASSERT_TRUE(connect());
    }
    EXPECT_EQ(readBack(path("gone.avi")).stamps, seq(1, 1));

    ASSERT_TRUE(open(path("destroyed.avi")));
    EXPECT_EQ(grab(3), 3);
    const HWND stale = parent_->handle();
    parent_.reset();
    EXPECT_FALSE(IsWindow(cap_));
    EXPECT_EQ(readBack(path("destroyed.avi")).stamps, seq(1, 3));
    EXPECT_EQ(capCreateCaptureWindowA("x", WS_CHILD, 0, 0, 10, 10, stale, 0), nullptr);
    std::unique_ptr<QWidget> top(kelvra::platform::widgetFromHandle(
        capCreateCaptureWindowA("Loose", WS_VISIBLE, 0, 0, 160, 120, nullptr, 7)));
    ASSERT_NE(top, nullptr);
    EXPECT_TRUE(top->isWindow());
}

// Real or virtual V4L2 cameras (vivid, v4l2loopback): runs where the machine has one.
TEST_F(CaptureTest, EveryV4l2DeviceRecordsAValidFile)
{
    unsetenv("KELVRA_CAPTURE_DRIVERS");
    std::vector<media::DriverInfo> devices = media::installedDrivers();
    std::erase_if(devices, [](const media::DriverInfo& d) { return d.id.rfind("/dev/", 0) != 0; });
    if (devices.empty())
        GTEST_SKIP() << "no V4L2 capture device on this machine";
    createCaptureWindow();
    for (size_t i = 0; i < devices.size(); ++i) {
        SCOPED_TRACE(devices[i].id);
        ASSERT_TRUE(connect(i)) << "busy?";
        send(cap_, WM_CAP_SET_PREVIEW, 1);
        for (UINT dialog : {WM_CAP_DLG_VIDEOSOURCE, WM_CAP_DLG_VIDEOFORMAT}) {
            pt::scriptModal(pt::cancel());
            EXPECT_TRUE(send(cap_, dialog));
        }
        EXPECT_EQ(record("v4l2-" + std::to_string(i) + ".avi", 3).packets, 3);
        EXPECT_TRUE(send(cap_, WM_CAP_DRIVER_DISCONNECT));
    }
}
