// The media window behind MCIWndCreateA: the file's own rate on the virtual clock, seeking and
// stepping by every means the window offers, closing, and files it cannot play.
#include "recording.h"

#include <kelvra/mciwnd/media_window.h>
#include <kelvra/platform/testing.h>

#include <vfw.h>

#include <gtest/gtest.h>

#include <QApplication>
#include <QSlider>
#include <QTemporaryDir>
#include <QTest>
#include <QToolButton>

#include <fstream>
#include <memory>

namespace {

namespace kt = kelvra::platform::testing;
using kelvra::mciwnd::MediaControl;
using kelvra::mciwnd::mediaControl;
using kelvra::platform::widgetFromHandle;
using player_test::Recording;
using player_test::stampOnScreen;

constexpr DWORD kPlayerStyle = WS_POPUP | WS_VISIBLE | WS_CAPTION | WS_SYSMENU | MCIWNDF_NOOPEN;
constexpr int kPictureWaitMs = 5000;

class MediaWindowTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        ASSERT_TRUE(dir_.isValid());
        kt::useVirtualClock();
        owner_ = std::make_unique<player_test::OwnerWindow>();
        owner_->show();
    }
    void TearDown() override
    {
        owner_.reset();
        kt::useRealClock();
    }

    std::string path(const char* name) const { return dir_.filePath(name).toStdString(); }

    std::string recording(const char* name, const Recording& setup = {})
    {
        std::string file = path(name);
        std::string error = player_test::makeRecording(file, setup);
        EXPECT_EQ(error, "");
        return file;
    }

    HWND open(const std::string& file)
    {
        HWND hwnd = MCIWndCreateA(owner_->handle(), nullptr, kPlayerStyle, file.c_str());
        EXPECT_TRUE(IsWindow(hwnd));
        return hwnd;
    }

    QTemporaryDir dir_;
    std::unique_ptr<player_test::OwnerWindow> owner_;
};

TEST_F(MediaWindowTest, OpensARecordingAsAnOwnedPopupAtItsOwnRate)
{
    std::string file = recording("ten.avi");
    HWND hwnd = open(file);
    MediaControl* media = mediaControl(hwnd);
    ASSERT_NE(media, nullptr);
    EXPECT_TRUE(media->isOpen()) << media->errorText();
    EXPECT_EQ(media->length(), 20);
    EXPECT_DOUBLE_EQ(media->framesPerSecond(), 10.0);
    EXPECT_EQ(media->position(), 0);
    EXPECT_FALSE(media->isPlaying());

    QWidget* widget = widgetFromHandle(hwnd);
    EXPECT_TRUE(widget->isWindow());
    EXPECT_TRUE(widget->isVisible()) << "WS_VISIBLE shows it at once";
    EXPECT_EQ(widget->parentWidget(), owner_.get()) << "owned by the parent's window";
    char title[MAX_PATH] = {};
    GetWindowTextA(hwnd, title, sizeof title);
    EXPECT_EQ(std::string(title), file);

    ASSERT_TRUE(media->waitForPicture(kPictureWaitMs));
    EXPECT_EQ(media->shownFrame(), 0);
    EXPECT_EQ(stampOnScreen(hwnd, 320, 240), 1u) << "the first picture of the file is on screen";
}

TEST_F(MediaWindowTest, PlaysTenFramesASecondOnTheClockAndStopsOnTheLastFrame)
{
    HWND hwnd = open(recording("ten.avi"));
    MediaControl* media = mediaControl(hwnd);
    ASSERT_TRUE(media && media->isOpen());
    media->play();
    EXPECT_TRUE(media->isPlaying());
    for (int tenth = 1; tenth <= 10; ++tenth) {
        kt::advanceClock(100);
        EXPECT_EQ(media->position(), tenth) << "after " << tenth * 100 << " ms";
    }
    ASSERT_TRUE(media->waitForPicture(kPictureWaitMs));
    EXPECT_EQ(stampOnScreen(hwnd, 320, 240), 11u);

    kt::advanceClock(999);
    EXPECT_EQ(media->position(), 19);
    EXPECT_TRUE(media->isPlaying()) << "the last frame still has its tenth of a second";
    kt::advanceClock(1);
    EXPECT_FALSE(media->isPlaying()) << "stops at the end of the film";
    EXPECT_EQ(media->position(), 19);
    kt::advanceClock(5000);
    EXPECT_EQ(media->position(), 19);

    media->play();  // at the end, Play starts the film again
    EXPECT_EQ(media->position(), 0);
    kt::advanceClock(350);
    EXPECT_EQ(media->position(), 3);
    media->stop();
    kt::advanceClock(1000);
    EXPECT_EQ(media->position(), 3) << "stopped means stopped";
}

TEST_F(MediaWindowTest, RepeatLoopsAndAFastFileSkipsWhatTheClockPassed)
{
    HWND hwnd = open(recording("loop.avi", {.frames = 20, .fps = 10}));
    MediaControl* media = mediaControl(hwnd);
    media->setRepeat(true);
    media->play();
    kt::advanceClock(2500);
    EXPECT_TRUE(media->isPlaying());
    EXPECT_EQ(media->position(), 5);
    media->stop();

    HWND fast = open(recording("fast.avi", {.frames = 60, .fps = 50, .width = 160, .height = 120}));
    MediaControl* quick = mediaControl(fast);
    EXPECT_DOUBLE_EQ(quick->framesPerSecond(), 50.0);
    quick->play();
    kt::advanceClock(1000);
    EXPECT_EQ(quick->position(), 50);
}

TEST_F(MediaWindowTest, SeeksAndStepsByCallKeysAndTrackbar)
{
    HWND hwnd = open(recording("seek.avi"));
    MediaControl* media = mediaControl(hwnd);
    QWidget* widget = widgetFromHandle(hwnd);

    media->seek(19);
    EXPECT_EQ(media->position(), 19);
    ASSERT_TRUE(media->waitForPicture(kPictureWaitMs));
    EXPECT_EQ(stampOnScreen(hwnd, 320, 240), 20u) << "the last frame of the file is on screen";
    media->step(-1);
    EXPECT_EQ(media->position(), 18);
    ASSERT_TRUE(media->waitForPicture(kPictureWaitMs));
    EXPECT_EQ(stampOnScreen(hwnd, 320, 240), 19u);
    media->seek(1000);
    EXPECT_EQ(media->position(), 19) << "clamped into the file";
    media->seek(-5);
    EXPECT_EQ(media->position(), 0);

    struct KeyCase {
        Qt::Key key;
        int64_t expected;
    };
    const KeyCase keys[] = {{Qt::Key_End, 19}, {Qt::Key_Left, 18}, {Qt::Key_Home, 0},  {Qt::Key_Right, 1},
                            {Qt::Key_Right, 2}, {Qt::Key_PageDown, 12}, {Qt::Key_PageUp, 2}, {Qt::Key_Left, 1}};
    for (const KeyCase& c : keys) {
        QTest::keyClick(widget, c.key);
        EXPECT_EQ(media->position(), c.expected) << "after key " << c.key;
    }
    QTest::keyClick(widget, Qt::Key_Space);
    EXPECT_TRUE(media->isPlaying());
    kt::advanceClock(200);
    QTest::keyClick(widget, Qt::Key_Right);
    EXPECT_FALSE(media->isPlaying()) << "stepping stops playback";
    EXPECT_EQ(media->position(), 4);

    QSlider* trackbar = widget->findChild<QSlider*>();
    ASSERT_NE(trackbar, nullptr);
    EXPECT_EQ(trackbar->maximum(), 19);
    EXPECT_EQ(trackbar->value(), 4) << "the trackbar follows the position";
    trackbar->setValue(15);
    EXPECT_EQ(media->position(), 15);
    ASSERT_TRUE(media->waitForPicture(kPictureWaitMs));
    EXPECT_EQ(stampOnScreen(hwnd, 320, 240), 16u);
}

TEST_F(MediaWindowTest, EveryCompressorOfTheRecorderPlays)
{
    using kelvra::media::Codec;
    for (Codec codec : {Codec::Uncompressed, Codec::Lossless, Codec::MotionJpeg}) {
        std::string name = "codec" + std::to_string(int(codec)) + ".avi";
        HWND hwnd = open(recording(name.c_str(), {.frames = 8, .fps = 5, .codec = codec}));
        MediaControl* media = mediaControl(hwnd);
        ASSERT_TRUE(media->isOpen()) << media->errorText();
        EXPECT_EQ(media->length(), 8);
        media->seek(5);
        ASSERT_TRUE(media->waitForPicture(kPictureWaitMs));
        EXPECT_EQ(stampOnScreen(hwnd, 320, 240), 6u) << "compressor " << int(codec);
        SendMessageA(hwnd, WM_CLOSE, 0, 0);
    }
}

TEST_F(MediaWindowTest, CloseDestroysAtOnceAndTheOwnerTakesTheRest)
{
    std::string file = recording("close.avi");
    HWND playing = open(file);
    mediaControl(playing)->play();
    kt::advanceClock(300);
    SendMessageA(playing, WM_CLOSE, 0, 0);
    EXPECT_FALSE(IsWindow(playing)) << "WM_CLOSE destroys the window, as DefWindowProc does";
    EXPECT_EQ(mediaControl(playing), nullptr);
    kt::advanceClock(1000);  // its timer went with it

    HWND boxed = open(file);
    widgetFromHandle(boxed)->close();  // the title bar's close box
    EXPECT_FALSE(IsWindow(boxed));

    HWND destroyed = open(file);
    mediaControl(destroyed)->play();
    EXPECT_TRUE(DestroyWindow(destroyed));
    EXPECT_FALSE(IsWindow(destroyed));

    // DestroyWindow of the owner takes its media windows, as Windows does with owned windows.
    auto* dialog = new player_test::OwnerWindow;  // DestroyWindow deletes it
    HWND owned = MCIWndCreateA(dialog->handle(), nullptr, kPlayerStyle, file.c_str());
    mediaControl(owned)->play();
    EXPECT_TRUE(DestroyWindow(dialog->handle()));
    EXPECT_FALSE(IsWindow(owned));
    kt::advanceClock(1000);
    QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);

    HWND first = open(file);
    HWND second = open(file);
    mediaControl(second)->play();
    owner_.reset();
    EXPECT_FALSE(IsWindow(first));
    EXPECT_FALSE(IsWindow(second));
    kt::advanceClock(1000);
    QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
}

TEST_F(MediaWindowTest, AFileItCannotPlayIsReportedInTheWindow)
{
    std::string text = path("notes.avi");
    std::ofstream(text) << "These are notes, not a film.\n";
    std::string empty = path("empty.avi");
    std::ofstream{empty};
    const std::string files[] = {text, empty, path("missing.avi"), dir_.path().toStdString(), ""};
    for (const std::string& file : files) {
        HWND hwnd = MCIWndCreateA(owner_->handle(), nullptr, kPlayerStyle, file.c_str());
        ASSERT_TRUE(IsWindow(hwnd)) << "the window is made even for " << file;
        MediaControl* media = mediaControl(hwnd);
        EXPECT_FALSE(media->isOpen()) << file;
        EXPECT_FALSE(media->errorText().empty()) << file;
        char title[MAX_PATH] = {};
        GetWindowTextA(hwnd, title, sizeof title);
        EXPECT_STREQ(title, "No Device");
        QWidget* widget = widgetFromHandle(hwnd);
        EXPECT_TRUE(widget->isVisible());
        auto* play = widget->findChild<QToolButton*>();
        ASSERT_NE(play, nullptr);
        EXPECT_FALSE(play->isEnabled());
        for (Qt::Key key : {Qt::Key_Space, Qt::Key_End, Qt::Key_Right, Qt::Key_Left, Qt::Key_Home})
            QTest::keyClick(widget, key);
        media->play();
        kt::advanceClock(1000);
        EXPECT_FALSE(media->isPlaying());
        EXPECT_EQ(media->length(), 0);
        SetWindowTextA(hwnd, file.c_str());  // what the player does next
        SendMessageA(hwnd, WM_CLOSE, 0, 0);
        EXPECT_FALSE(IsWindow(hwnd));
    }
}

TEST_F(MediaWindowTest, ARecordingWithoutFramesOpensEmpty)
{
    HWND hwnd = open(recording("none.avi", {.frames = 0}));
    MediaControl* media = mediaControl(hwnd);
    EXPECT_EQ(media->length(), 0);
    media->play();
    EXPECT_FALSE(media->isPlaying());
    media->seek(3);
    EXPECT_EQ(media->position(), 0);
}

}  // namespace
