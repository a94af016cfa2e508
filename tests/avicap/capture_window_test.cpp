// The capture window's messages, one by one and in the sequences the program sends them, with
// and without a connected driver.
#include "avicap_support.h"

#include <QApplication>
#include <QFile>
#include <QTest>

#include <cstring>

using namespace avicap_test;
namespace at = kelvra::avicap::testing;
namespace pt = kelvra::platform::testing;

namespace {

struct Expected {
    UINT msg;
    WPARAM wParam;
    bool withPointer;
    LRESULT result;
};

// Sends each row (lParam: a fresh buffer when withPointer) and checks answers and the log.
void sendTable(HWND cap, const std::vector<Expected>& table, const std::string& file)
{
    at::clearMessages(cap);
    for (const Expected& row : table) {
        CAPTUREPARMS parms = getParms(cap);
        at::clearMessages(cap);
        char text[MAX_PATH] = {};
        std::strncpy(text, file.c_str(), sizeof text - 1);
        LPARAM l = 0;
        if (row.withPointer)
            l = (row.msg == WM_CAP_SET_SEQUENCE_SETUP || row.msg == WM_CAP_GET_SEQUENCE_SETUP) ? lp(&parms) : lp(text);
        SCOPED_TRACE("message WM_USER+" + std::to_string(row.msg - WM_USER));
        EXPECT_EQ(send(cap, row.msg, row.wParam, l), row.result);
        const std::vector<at::CapMessage> log = at::messages(cap);
        ASSERT_EQ(log.size(), 1u);
        EXPECT_EQ(log[0].msg, row.msg);
        EXPECT_EQ(log[0].wParam, row.wParam);
        EXPECT_EQ(log[0].lParam, l);
        EXPECT_EQ(log[0].result, row.result);
    }
}

}  // namespace

TEST_F(CaptureTest, CreatedAsAChildAtItsPixelRectangle)
{
    HWND cap = createCaptureWindow();
    ASSERT_NE(cap, nullptr);
    EXPECT_TRUE(IsWindow(cap));
    QWidget* w = kelvra::platform::widgetFromHandle(cap);
    ASSERT_NE(w, nullptr);
    EXPECT_EQ(w->parentWidget(), parent_.get());
    EXPECT_EQ(w->geometry(), QRect(22, 30, 200, 168));
    EXPECT_TRUE(w->isVisible());
    char title[64] = {};
    GetWindowTextA(cap, title, sizeof title);
    EXPECT_STREQ(title, "Capture Window");

    // Deleting the parent takes the window and its handle with it.
    parent_.reset();
    EXPECT_FALSE(IsWindow(cap));
}

TEST_F(CaptureTest, NullParentMakesATopLevelWindowAndAStaleParentNone)
{
    HWND top = capCreateCaptureWindowA("Loose", WS_VISIBLE, 0, 0, 160, 120, nullptr, 7);
    ASSERT_NE(top, nullptr);
    std::unique_ptr<QWidget> owner(kelvra::platform::widgetFromHandle(top));
    EXPECT_TRUE(owner->isWindow());
    EXPECT_EQ(GetDlgCtrlID(top), 0);

    HWND stale;
    {
        ParentWindow gone;
        stale = gone.handle();
    }
    EXPECT_EQ(capCreateCaptureWindowA("x", WS_CHILD, 0, 0, 10, 10, stale, 0), nullptr);
}

TEST_F(CaptureTest, EveryMessageWithoutADriver)
{
    setenv("KELVRA_CAPTURE_DRIVERS", "", 1);
    HWND cap = createCaptureWindow();
    const std::string file = path("x.avi");
    // The three dialogs say that no device is connected, in a message box each.
    for (int i = 0; i < 3; ++i)
        pt::scriptModal(pt::answer(IDOK));
    sendTable(cap,
              {{WM_CAP_DRIVER_CONNECT, 0, false, FALSE},
               {WM_CAP_DRIVER_DISCONNECT, 0, false, FALSE},
               {WM_CAP_FILE_SET_CAPTURE_FILEA, 0, true, TRUE},
               {WM_CAP_FILE_GET_CAPTURE_FILEA, MAX_PATH, true, TRUE},
               {WM_CAP_DLG_VIDEOFORMAT, 0, false, FALSE},
               {WM_CAP_DLG_VIDEOSOURCE, 0, false, FALSE},
               {WM_CAP_DLG_VIDEOCOMPRESSION, 0, false, FALSE},
               {WM_CAP_SET_PREVIEW, 30, false, TRUE},
               {WM_CAP_SET_OVERLAY, 1, false, FALSE},
               {WM_CAP_SET_OVERLAY, 0, false, FALSE},
               {WM_CAP_SET_PREVIEWRATE, 5, false, TRUE},
               {WM_CAP_SET_SEQUENCE_SETUP, sizeof(CAPTUREPARMS), true, TRUE},
               {WM_CAP_GET_SEQUENCE_SETUP, sizeof(CAPTUREPARMS), true, TRUE},
               {WM_CAP_ABORT, 0, false, FALSE},
               {WM_CAP_STOP, 0, false, FALSE},
               {WM_CAP_SINGLE_FRAME_OPEN, 0, false, FALSE},
               {WM_CAP_SINGLE_FRAME, 0, false, FALSE},
               {WM_CAP_SINGLE_FRAME_CLOSE, 0, false, FALSE}},
              file);
    const std::vector<kelvra::platform::ModalInfo> shown = pt::modalHistory();
    ASSERT_EQ(shown.size(), 3u);
    EXPECT_EQ(shown[0].caption, "Video Format");
    EXPECT_EQ(shown[1].caption, "Video Source");
    EXPECT_EQ(shown[2].caption, "Video Compression");
    for (const auto& m : shown) {
        EXPECT_EQ(m.kind, kelvra::platform::ModalKind::MessageBox);
        EXPECT_NE(m.text.find("No capture device"), std::string::npos);
    }
    EXPECT_FALSE(QFile::exists(QString::fromStdString(file)));
    EXPECT_EQ(at::reportedErrors(cap), 0);  // none of it is a failure the window must report
}

TEST_F(CaptureTest, EveryMessageWithTheTestDriver)
{
    HWND cap = createCaptureWindow();
    ASSERT_TRUE(connect());
    const std::string file = path("table.avi");
    for (int i = 0; i < 3; ++i)
        pt::scriptModal(pt::cancel());
    sendTable(cap,
              {{WM_CAP_DRIVER_CONNECT, 0, false, TRUE},
               {WM_CAP_FILE_SET_CAPTURE_FILEA, 0, true, TRUE},
               {WM_CAP_FILE_GET_CAPTURE_FILEA, MAX_PATH, true, TRUE},
               {WM_CAP_DLG_VIDEOFORMAT, 0, false, TRUE},
               {WM_CAP_DLG_VIDEOSOURCE, 0, false, TRUE},
               {WM_CAP_DLG_VIDEOCOMPRESSION, 0, false, TRUE},
               {WM_CAP_SET_PREVIEW, 30, false, TRUE},
               {WM_CAP_SET_OVERLAY, 1, false, FALSE},
               {WM_CAP_SET_PREVIEWRATE, 5, false, TRUE},
               {WM_CAP_SET_SEQUENCE_SETUP, sizeof(CAPTUREPARMS), true, TRUE},
               {WM_CAP_GET_SEQUENCE_SETUP, sizeof(CAPTUREPARMS), true, TRUE},
               {WM_CAP_SINGLE_FRAME, 0, false, FALSE},  // no file open yet
               {WM_CAP_SINGLE_FRAME_CLOSE, 0, false, FALSE},
               {WM_CAP_SINGLE_FRAME_OPEN, 0, false, TRUE},
               {WM_CAP_SINGLE_FRAME_OPEN, 0, false, TRUE},  // already open: stays open
               {WM_CAP_SINGLE_FRAME, 0, false, TRUE},
               {WM_CAP_ABORT, 0, false, TRUE},
               {WM_CAP_STOP, 0, false, TRUE},
               {WM_CAP_SINGLE_FRAME, 0, false, TRUE},  // ABORT leaves the single-frame file open
               {WM_CAP_SINGLE_FRAME_CLOSE, 0, false, TRUE},
               {WM_CAP_SINGLE_FRAME_CLOSE, 0, false, FALSE},
               {WM_CAP_DRIVER_DISCONNECT, 0, false, TRUE},
               {WM_CAP_DRIVER_DISCONNECT, 0, false, FALSE}},
              file);
    EXPECT_EQ(pt::modalHistory().size(), 3u);
    const ReadBack back = readBack(file);
    ASSERT_TRUE(back.opened) << back.error;
    EXPECT_EQ(back.stamps, oneTo(2));
}

TEST_F(CaptureTest, ConnectAnswersOnlyForADeviceThatOpened)
{
    HWND cap = createCaptureWindow();
    for (const char* drivers : {"", "/dev/nonexistent", "/dev/nonexistent,/dev/video-missing"}) {
        SCOPED_TRACE(drivers);
        setenv("KELVRA_CAPTURE_DRIVERS", drivers, 1);
        EXPECT_FALSE(connect(0));
        EXPECT_FALSE(connect(1));
        EXPECT_FALSE(connect(WPARAM(-1)));
        EXPECT_EQ(at::connectedDriver(cap), "");
        // Nothing else breaks: settings still work, capture steps answer FALSE.
        EXPECT_TRUE(setCaptureFile(cap, path("n.avi")));
        EXPECT_TRUE(setFrameTime(cap, 100000));
        EXPECT_FALSE(send(cap, WM_CAP_SINGLE_FRAME_OPEN));
        EXPECT_FALSE(send(cap, WM_CAP_SINGLE_FRAME));
        EXPECT_FALSE(send(cap, WM_CAP_SINGLE_FRAME_CLOSE));
    }
    setenv("KELVRA_CAPTURE_DRIVERS", "/dev/nonexistent,test", 1);
    EXPECT_FALSE(connect(0));
    EXPECT_TRUE(connect(1));
    EXPECT_EQ(at::connectedDriver(cap), "test");
    // A failed connect to another index leaves the working connection alone.
    EXPECT_FALSE(connect(0));
    EXPECT_EQ(at::connectedDriver(cap), "test");
    EXPECT_TRUE(send(cap, WM_CAP_DRIVER_DISCONNECT));
    EXPECT_EQ(at::connectedDriver(cap), "");
    EXPECT_TRUE(connect(1));  // released, so it opens again
}

TEST_F(CaptureTest, DriverDescriptionsAndNames)
{
    setenv("KELVRA_CAPTURE_DRIVERS", "/dev/nonexistent,test", 1);
    char name[80], version[80];
    ASSERT_TRUE(capGetDriverDescriptionA(0, name, sizeof name, version, sizeof version));
    EXPECT_STREQ(name, "/dev/nonexistent");
    ASSERT_TRUE(capGetDriverDescriptionA(1, name, sizeof name, version, sizeof version));
    EXPECT_STREQ(name, kelvra::media::kTestDriverName);
    char small[6];
    ASSERT_TRUE(capGetDriverDescriptionA(1, small, sizeof small, nullptr, 0));
    EXPECT_STREQ(small, "Kelvr");
    EXPECT_FALSE(capGetDriverDescriptionA(2, name, sizeof name, version, sizeof version));
    setenv("KELVRA_CAPTURE_DRIVERS", "", 1);
    EXPECT_FALSE(capGetDriverDescriptionA(0, name, sizeof name, version, sizeof version));

    setenv("KELVRA_CAPTURE_DRIVERS", "test", 1);
    HWND cap = createCaptureWindow();
    EXPECT_FALSE(send(cap, WM_CAP_DRIVER_GET_NAMEA, sizeof name, lp(name)));
    ASSERT_TRUE(connect());
    ASSERT_TRUE(send(cap, WM_CAP_DRIVER_GET_NAMEA, sizeof name, lp(name)));
    EXPECT_STREQ(name, kelvra::media::kTestDriverName);
}

TEST_F(CaptureTest, SequenceSetupDefaultsAndPartialCopies)
{
    HWND cap = createCaptureWindow();
    const CAPTUREPARMS p = getParms(cap);
    EXPECT_EQ(p.dwRequestMicroSecPerFrame, 66667u);
    EXPECT_EQ(p.fMakeUserHitOKToCapture, FALSE);
    EXPECT_EQ(p.wPercentDropForError, 10u);
    EXPECT_EQ(p.fYield, FALSE);
    EXPECT_EQ(p.dwIndexSize, 0u);
    EXPECT_EQ(p.wChunkGranularity, 0u);
    EXPECT_EQ(p.fCaptureAudio, FALSE);
    EXPECT_EQ(p.vKeyAbort, 0x1Bu);
    EXPECT_EQ(p.fAbortLeftMouse, TRUE);
    EXPECT_EQ(p.fAbortRightMouse, TRUE);
    EXPECT_EQ(p.fLimitEnabled, FALSE);
    EXPECT_EQ(p.wStepCaptureAverageFrames, 5u);
    EXPECT_EQ(p.AVStreamMaster, UINT(AVSTREAMMASTER_AUDIO));

    // GET copies at most wParam bytes; the rest of the caller's record is not touched.
    CAPTUREPARMS q;
    std::memset(&q, 0xAB, sizeof q);
    ASSERT_TRUE(send(cap, WM_CAP_GET_SEQUENCE_SETUP, 8, lp(&q)));
    EXPECT_EQ(q.dwRequestMicroSecPerFrame, 66667u);
    EXPECT_EQ(q.fMakeUserHitOKToCapture, FALSE);
    EXPECT_EQ(q.wPercentDropForError, 0xABABABABu);

    // SET takes wParam bytes, the first fields only.
    DWORD first = 40000;
    ASSERT_TRUE(send(cap, WM_CAP_SET_SEQUENCE_SETUP, sizeof first, lp(&first)));
    EXPECT_EQ(getParms(cap).dwRequestMicroSecPerFrame, 40000u);
    EXPECT_EQ(getParms(cap).wPercentDropForError, 10u);

    // The program's start-up changes: all four survive a round trip.
    CAPTUREPARMS r = getParms(cap);
    r.fYield = 1;
    r.fCaptureAudio = 0;
    r.wStepCaptureAverageFrames = 5;
    r.wChunkGranularity = 0;
    ASSERT_TRUE(send(cap, WM_CAP_SET_SEQUENCE_SETUP, sizeof r, lp(&r)));
    const CAPTUREPARMS back = getParms(cap);
    EXPECT_EQ(std::memcmp(&r, &back, sizeof r), 0);

    EXPECT_FALSE(send(cap, WM_CAP_SET_SEQUENCE_SETUP, sizeof r, 0));
    EXPECT_FALSE(send(cap, WM_CAP_GET_SEQUENCE_SETUP, 0, lp(&r)));
}

TEST_F(CaptureTest, ZeroTimePerFrameIsRefusedOnceAndTheRestTaken)
{
    HWND cap = createCaptureWindow();
    CAPTUREPARMS p = getParms(cap);
    p.dwRequestMicroSecPerFrame = 0;  // what Speed Fps 0 gives
    p.fYield = TRUE;
    EXPECT_FALSE(send(cap, WM_CAP_SET_SEQUENCE_SETUP, sizeof p, lp(&p)));
    EXPECT_EQ(getParms(cap).dwRequestMicroSecPerFrame, 66667u);
    EXPECT_EQ(getParms(cap).fYield, TRUE);
    EXPECT_EQ(at::reportedErrors(cap), 1);
    EXPECT_NE(at::lastError(cap).find("0 microseconds"), std::string::npos);
    EXPECT_FALSE(send(cap, WM_CAP_SET_SEQUENCE_SETUP, sizeof p, lp(&p)));
    EXPECT_EQ(at::reportedErrors(cap), 1);  // the same problem again is not a new report
    EXPECT_TRUE(setFrameTime(cap, 100000));
    EXPECT_EQ(at::bannerText(cap), "");
}

TEST_F(CaptureTest, CaptureFileNameIsTheWindowsOwnCopy)
{
    HWND cap = createCaptureWindow();
    const std::string home = getenv("HOME");
    EXPECT_EQ(getCaptureFile(cap), home + "/Videos/capture.avi");
    EXPECT_EQ(at::defaultCaptureFile(), home + "/Videos/capture.avi");

    char buffer[MAX_PATH];
    std::strcpy(buffer, path("first.avi").c_str());
    ASSERT_TRUE(send(cap, WM_CAP_FILE_SET_CAPTURE_FILEA, 0, lp(buffer)));
    std::strcpy(buffer, "overwritten by the caller");
    EXPECT_EQ(getCaptureFile(cap), path("first.avi"));

    // What a cancelled chooser leaves in the buffer names no file: the name stays.
    EXPECT_FALSE(setCaptureFile(cap, "*.AVI"));
    EXPECT_FALSE(setCaptureFile(cap, ""));
    EXPECT_FALSE(send(cap, WM_CAP_FILE_SET_CAPTURE_FILEA, 0, 0));
    EXPECT_EQ(getCaptureFile(cap), path("first.avi"));

    // A short buffer gets as much as fits, terminated.
    char small[5];
    ASSERT_TRUE(send(cap, WM_CAP_FILE_GET_CAPTURE_FILEA, sizeof small, lp(small)));
    EXPECT_EQ(std::string(small), path("first.avi").substr(0, 4));
    EXPECT_FALSE(send(cap, WM_CAP_FILE_GET_CAPTURE_FILEA, 0, lp(small)));
}

TEST_F(CaptureTest, DefaultFileFollowsTheXdgVideosFolder)
{
    const std::string home = getenv("HOME");
    QDir(QString::fromStdString(home)).mkpath(QStringLiteral(".config"));
    QFile dirs(QString::fromStdString(home + "/.config/user-dirs.dirs"));
    ASSERT_TRUE(dirs.open(QIODevice::WriteOnly));
    dirs.write("XDG_VIDEOS_DIR=\"$HOME/Films\"\n");
    dirs.close();
    HWND cap = createCaptureWindow();
    EXPECT_EQ(getCaptureFile(cap), home + "/Films/capture.avi");
}

TEST_F(CaptureTest, FileNameRefusedWhileTheFileIsOpen)
{
    HWND cap = createCaptureWindow();
    ASSERT_TRUE(connect());
    ASSERT_TRUE(setCaptureFile(cap, path("open.avi")));
    ASSERT_TRUE(send(cap, WM_CAP_SINGLE_FRAME_OPEN));
    EXPECT_FALSE(setCaptureFile(cap, path("other.avi")));
    EXPECT_EQ(getCaptureFile(cap), path("open.avi"));
    EXPECT_EQ(at::reportedErrors(cap), 1);
    EXPECT_NE(at::bannerText(cap).find("other.avi"), std::string::npos);
    EXPECT_TRUE(at::noticeVisible(cap));
    ASSERT_TRUE(send(cap, WM_CAP_SINGLE_FRAME_CLOSE));
    EXPECT_TRUE(setCaptureFile(cap, path("other.avi")));
    EXPECT_EQ(at::bannerText(cap), "");
}

TEST_F(CaptureTest, StartUpSequenceIsLoggedWithItsArguments)
{
    HWND cap = createCaptureWindow();
    ASSERT_TRUE(connect());
    CAPTUREPARMS p;
    std::memset(&p, 0, sizeof p);
    send(cap, WM_CAP_GET_SEQUENCE_SETUP, sizeof p, lp(&p));
    p.fYield = 1;
    send(cap, WM_CAP_SET_SEQUENCE_SETUP, sizeof p, lp(&p));
    send(cap, WM_CAP_SET_PREVIEWRATE, 5);
    send(cap, WM_CAP_SET_PREVIEW, 30);
    setCaptureFile(cap, path("logged.avi"));

    const std::vector<at::CapMessage> log = at::messages(cap);
    ASSERT_EQ(log.size(), 6u);
    EXPECT_EQ(messageIds(cap), (std::vector<UINT>{WM_CAP_DRIVER_CONNECT, WM_CAP_GET_SEQUENCE_SETUP,
                                                  WM_CAP_SET_SEQUENCE_SETUP, WM_CAP_SET_PREVIEWRATE,
                                                  WM_CAP_SET_PREVIEW, WM_CAP_FILE_SET_CAPTURE_FILEA}));
    EXPECT_EQ(log[0].result, TRUE);
    ASSERT_TRUE(log[1].parms.has_value());
    EXPECT_EQ(log[1].parms->dwRequestMicroSecPerFrame, 66667u);
    EXPECT_EQ(log[1].parms->fYield, FALSE);
    ASSERT_TRUE(log[2].parms.has_value());
    EXPECT_EQ(log[2].parms->fYield, 1);
    EXPECT_EQ(log[3].wParam, 5u);
    EXPECT_EQ(log[4].wParam, 30u);
    EXPECT_EQ(log[5].text, path("logged.avi"));
}

TEST_F(CaptureTest, PreviewShowsTheLivePictureAtTheSlowerRate)
{
    HWND cap = createCaptureWindow();
    ASSERT_TRUE(connect());
    send(cap, WM_CAP_SET_PREVIEWRATE, 5);
    EXPECT_EQ(at::previewIntervalMs(cap), 33);  // the device's 30 fps is slower than 5 ms
    send(cap, WM_CAP_SET_PREVIEWRATE, 200);
    EXPECT_EQ(at::previewIntervalMs(cap), 200);
    send(cap, WM_CAP_SET_PREVIEWRATE, 5);
    EXPECT_EQ(at::picturesShown(cap), 0u);  // preview not yet on
    send(cap, WM_CAP_SET_PREVIEW, 30);
    ASSERT_TRUE(QTest::qWaitFor([&] { return at::picturesShown(cap) >= 3; }, 5000));

    // The picture is the test source's preview, scaled into 200x168 (200x150 and centred).
    QWidget* w = kelvra::platform::widgetFromHandle(cap);
    auto stampOnScreen = [&] {
        QImage shot = w->grab().toImage().convertToFormat(QImage::Format_RGB32).copy(0, 9, 200, 150);
        kelvra::media::Frame f;
        f.width = shot.width();
        f.height = shot.height();
        f.format = kelvra::media::PixelFormat::BGRA;
        f.data.assign(shot.constBits(), shot.constBits() + shot.sizeInBytes());
        kelvra::media::TestStamp stamp;
        return kelvra::media::readTestStamp(f, stamp) && stamp.preview ? stamp.sequence : 0;
    };
    const uint64_t first = stampOnScreen();
    EXPECT_GT(first, 0u);
    const uint64_t shown = at::picturesShown(cap);
    ASSERT_TRUE(QTest::qWaitFor([&] { return at::picturesShown(cap) >= shown + 2; }, 5000));
    EXPECT_GT(stampOnScreen(), first);  // it moves

    // Overlay is refused and changes nothing: the preview goes on.
    EXPECT_FALSE(send(cap, WM_CAP_SET_OVERLAY, 1));
    const uint64_t before = at::picturesShown(cap);
    ASSERT_TRUE(QTest::qWaitFor([&] { return at::picturesShown(cap) >= before + 2; }, 5000));

    // Preview off: the picture stands still.
    send(cap, WM_CAP_SET_PREVIEW, 0);
    QTest::qWait(100);
    const uint64_t stopped = at::picturesShown(cap);
    QTest::qWait(200);
    EXPECT_EQ(at::picturesShown(cap), stopped);
}

TEST_F(CaptureTest, PreviewWaitsForADriverAndSurvivesDisconnect)
{
    HWND cap = createCaptureWindow();
    send(cap, WM_CAP_SET_PREVIEWRATE, 5);
    EXPECT_TRUE(send(cap, WM_CAP_SET_PREVIEW, 1));  // kept until a driver comes
    ASSERT_TRUE(connect());
    ASSERT_TRUE(QTest::qWaitFor([&] { return at::picturesShown(cap) >= 2; }, 5000));
    ASSERT_TRUE(send(cap, WM_CAP_DRIVER_DISCONNECT));
    QTest::qWait(100);
    const uint64_t after = at::picturesShown(cap);
    QTest::qWait(100);
    EXPECT_EQ(at::picturesShown(cap), after);
    ASSERT_TRUE(connect());
    ASSERT_TRUE(QTest::qWaitFor([&] { return at::picturesShown(cap) >= after + 2; }, 5000));
}

TEST_F(CaptureTest, DestroyingTheWindowFinishesTheOpenFile)
{
    HWND cap = createCaptureWindow();
    ASSERT_TRUE(connect());
    send(cap, WM_CAP_SET_PREVIEW, 1);
    ASSERT_TRUE(setCaptureFile(cap, path("destroyed.avi")));
    ASSERT_TRUE(send(cap, WM_CAP_SINGLE_FRAME_OPEN));
    EXPECT_EQ(grab(3), 3);
    parent_.reset();
    EXPECT_FALSE(IsWindow(cap));
    const ReadBack back = readBack(path("destroyed.avi"));
    ASSERT_TRUE(back.opened) << back.error;
    EXPECT_EQ(back.stamps, oneTo(3));
}
