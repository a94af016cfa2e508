// The capture window's messages, one by one and in the sequences the program sends them, with
// and without a connected driver; its settings, file name and preview.
#include "avicap_support.h"

#include <QFile>
#include <QTest>

using namespace avicap_test;

namespace {

constexpr WPARAM kParmsSize = sizeof(CAPTUREPARMS);

struct Expected {
    UINT msg;
    WPARAM wParam;
    LRESULT result;
};

// Sends each row and checks its answer and its log entry. The settings messages get a fresh
// record (one field flipped, so the log must show the record passed), the file name messages a
// buffer holding `file`.
void sendTable(HWND cap, const std::vector<Expected>& table, const std::string& file)
{
    for (const Expected& row : table) {
        SCOPED_TRACE("message WM_USER+" + std::to_string(row.msg - WM_USER));
        CAPTUREPARMS parms = getParms(cap);
        parms.fYield = !parms.fYield;
        char text[MAX_PATH] = {};
        std::strncpy(text, file.c_str(), sizeof text - 1);
        const bool isParms = row.msg == WM_CAP_SET_SEQUENCE_SETUP || row.msg == WM_CAP_GET_SEQUENCE_SETUP;
        const bool isText = row.msg == WM_CAP_FILE_SET_CAPTURE_FILEA || row.msg == WM_CAP_FILE_GET_CAPTURE_FILEA;
        const LPARAM l = isParms ? lp(&parms) : isText ? lp(text) : 0;
        at::clearMessages(cap);
        EXPECT_EQ(send(cap, row.msg, row.wParam, l), row.result);
        const std::vector<at::CapMessage> log = at::messages(cap);
        ASSERT_EQ(log.size(), 1u);
        EXPECT_EQ(std::tuple(log[0].msg, log[0].wParam, log[0].lParam, log[0].result),
                  std::tuple(row.msg, row.wParam, l, row.result));
        if (isText) {
            EXPECT_EQ(log[0].text, file);
        } else if (isParms) {
            ASSERT_TRUE(log[0].parms.has_value());
            EXPECT_EQ(std::memcmp(&*log[0].parms, &parms, sizeof parms), 0);
        }
    }
}

// Waits (the preview runs on its own thread, in real time) for n more pictures.
bool showsMore(HWND cap, uint64_t n)
{
    const uint64_t target = at::picturesShown(cap) + n;
    return QTest::qWaitFor([&] { return at::picturesShown(cap) >= target; }, 5000);
}

// No new picture for a while, once the one that may be on its way has come.
bool standsStill(HWND cap)
{
    QTest::qWait(100);
    const uint64_t shown = at::picturesShown(cap);
    QTest::qWait(200);
    return at::picturesShown(cap) == shown;
}

}  // namespace

// Every message of the table in turn, first on a window that has no driver, then on one connected
// to the test driver: answers, log entries, the dialogs shown and what lands in the file.
TEST_F(CaptureTest, EveryMessageWithoutAndWithADriver)
{
    setenv("KELVRA_CAPTURE_DRIVERS", "", 1);
    HWND bare = createCaptureWindow();
    // The three dialogs say that no device is connected, in a message box each.
    for (int i = 0; i < 3; ++i)
        pt::scriptModal(pt::answer(IDOK));
    sendTable(bare,
              {{WM_CAP_DRIVER_CONNECT, 0, FALSE}, {WM_CAP_DRIVER_DISCONNECT, 0, FALSE},
               {WM_CAP_FILE_SET_CAPTURE_FILEA, 0, TRUE}, {WM_CAP_FILE_GET_CAPTURE_FILEA, MAX_PATH, TRUE},
               {WM_CAP_DLG_VIDEOFORMAT, 0, FALSE}, {WM_CAP_DLG_VIDEOSOURCE, 0, FALSE},
               {WM_CAP_DLG_VIDEOCOMPRESSION, 0, FALSE}, {WM_CAP_SET_PREVIEW, 30, TRUE},
               {WM_CAP_SET_OVERLAY, 1, FALSE}, {WM_CAP_SET_OVERLAY, 0, FALSE}, {WM_CAP_SET_PREVIEWRATE, 5, TRUE},
               {WM_CAP_SET_SEQUENCE_SETUP, kParmsSize, TRUE}, {WM_CAP_GET_SEQUENCE_SETUP, kParmsSize, TRUE},
               {WM_CAP_ABORT, 0, FALSE}, {WM_CAP_STOP, 0, FALSE}, {WM_CAP_SINGLE_FRAME_OPEN, 0, FALSE},
               {WM_CAP_SINGLE_FRAME, 0, FALSE}, {WM_CAP_SINGLE_FRAME_CLOSE, 0, FALSE}},
              path("x.avi"));
    std::vector<std::string> captions;
    for (const ModalInfo& shown : pt::modalHistory()) {
        captions.push_back(shown.caption);
        EXPECT_EQ(shown.kind, kelvra::platform::ModalKind::MessageBox);
        EXPECT_NE(shown.text.find("No capture device"), std::string::npos);
    }
    EXPECT_EQ(captions, (std::vector<std::string>{"Video Format", "Video Source", "Video Compression"}));
    EXPECT_FALSE(QFile::exists(QString::fromStdString(path("x.avi"))));
    EXPECT_EQ(at::reportedErrors(bare), 0);  // none of it is a failure the window must report

    setenv("KELVRA_CAPTURE_DRIVERS", "test", 1);
    HWND cap = createCaptureWindow();
    ASSERT_TRUE(connect());
    for (int i = 0; i < 3; ++i)
        pt::scriptModal(pt::cancel());
    sendTable(cap,
              {{WM_CAP_DRIVER_CONNECT, 0, TRUE}, {WM_CAP_FILE_SET_CAPTURE_FILEA, 0, TRUE},
               {WM_CAP_FILE_GET_CAPTURE_FILEA, MAX_PATH, TRUE}, {WM_CAP_DLG_VIDEOFORMAT, 0, TRUE},
               {WM_CAP_DLG_VIDEOSOURCE, 0, TRUE}, {WM_CAP_DLG_VIDEOCOMPRESSION, 0, TRUE},
               {WM_CAP_SET_PREVIEW, 30, TRUE}, {WM_CAP_SET_OVERLAY, 1, FALSE}, {WM_CAP_SET_PREVIEWRATE, 5, TRUE},
               {WM_CAP_SET_SEQUENCE_SETUP, kParmsSize, TRUE}, {WM_CAP_GET_SEQUENCE_SETUP, kParmsSize, TRUE},
               {WM_CAP_SINGLE_FRAME, 0, FALSE},  // no file open yet
               {WM_CAP_SINGLE_FRAME_CLOSE, 0, FALSE}, {WM_CAP_SINGLE_FRAME_OPEN, 0, TRUE},
               {WM_CAP_SINGLE_FRAME_OPEN, 0, TRUE},  // already open: stays open
               {WM_CAP_SINGLE_FRAME, 0, TRUE}, {WM_CAP_ABORT, 0, TRUE}, {WM_CAP_STOP, 0, TRUE},
               {WM_CAP_SINGLE_FRAME, 0, TRUE},  // ABORT leaves the single-frame file open
               {WM_CAP_SINGLE_FRAME_CLOSE, 0, TRUE}, {WM_CAP_SINGLE_FRAME_CLOSE, 0, FALSE},
               {WM_CAP_DRIVER_DISCONNECT, 0, TRUE}, {WM_CAP_DRIVER_DISCONNECT, 0, FALSE}},
              path("table.avi"));
    EXPECT_EQ(pt::modalHistory().size(), 6u);
    EXPECT_EQ(readBack(path("table.avi")).stamps, seq(1, 2));
}

// Without a device that opens nothing connects and nothing else breaks.
TEST_F(CaptureTest, DriversListedAndConnectedOnlyWhenTheirDeviceOpens)
{
    HWND cap = createCaptureWindow();
    char name[80], version[80], small[6];
    for (const char* drivers : {"", "/dev/nonexistent", "/dev/nonexistent,/dev/video-missing"}) {
        SCOPED_TRACE(drivers);
        setenv("KELVRA_CAPTURE_DRIVERS", drivers, 1);
        EXPECT_EQ(capGetDriverDescriptionA(0, name, sizeof name, version, sizeof version), *drivers != 0);
        for (WPARAM index : {WPARAM(0), WPARAM(1), WPARAM(-1)})
            EXPECT_FALSE(connect(index));
        EXPECT_EQ(at::connectedDriver(cap), "");
        EXPECT_FALSE(send(cap, WM_CAP_DRIVER_GET_NAMEA, sizeof name, lp(name)));
        EXPECT_FALSE(send(cap, WM_CAP_SINGLE_FRAME_OPEN));
    }
    setenv("KELVRA_CAPTURE_DRIVERS", "/dev/nonexistent,test", 1);
    ASSERT_TRUE(capGetDriverDescriptionA(0, name, sizeof name, version, sizeof version));
    EXPECT_STREQ(name, "/dev/nonexistent");
    ASSERT_TRUE(capGetDriverDescriptionA(1, name, sizeof name, version, sizeof version));
    EXPECT_STREQ(name, media::kTestDriverName);
    ASSERT_TRUE(capGetDriverDescriptionA(1, small, sizeof small, nullptr, 0));
    EXPECT_STREQ(small, "Kelvr");
    EXPECT_FALSE(capGetDriverDescriptionA(2, name, sizeof name, version, sizeof version));

    EXPECT_FALSE(connect(0));
    EXPECT_TRUE(connect(1));
    ASSERT_TRUE(send(cap, WM_CAP_DRIVER_GET_NAMEA, sizeof name, lp(name)));
    EXPECT_STREQ(name, media::kTestDriverName);
    EXPECT_EQ(at::connectedDriver(cap), "test");
    EXPECT_TRUE(send(cap, WM_CAP_DRIVER_DISCONNECT));
    EXPECT_EQ(at::connectedDriver(cap), "");
    EXPECT_TRUE(connect(1));  // released, so it opens again
}

// Settings: the defaults, partial copies both ways, and a zero time per frame refused (reported
// once) while the rest of the record is taken. The default file name follows the user's XDG
// videos folder (~/Videos without one: see CaptureFileTest).
TEST_F(CaptureTest, SequenceSetupAndFileNameAreTheWindowsOwnCopies)
{
    const std::string home = getenv("HOME");
    QDir(QString::fromStdString(home)).mkpath(QStringLiteral(".config"));
    ASSERT_TRUE(writeFile(home + "/.config/user-dirs.dirs", "XDG_VIDEOS_DIR=\"$HOME/Films\"\n"));
    HWND cap = createCaptureWindow();
    EXPECT_EQ(getCaptureFile(cap), home + "/Films/capture.avi");
    EXPECT_EQ(at::defaultCaptureFile(), home + "/Films/capture.avi");
    CAPTUREPARMS p{};  // every field not named here is 0 / FALSE
    p.dwRequestMicroSecPerFrame = 66667;
    p.wPercentDropForError = 10;
    p.vKeyAbort = 0x1B;
    p.fAbortLeftMouse = p.fAbortRightMouse = TRUE;
    p.wStepCaptureAverageFrames = 5;
    p.AVStreamMaster = AVSTREAMMASTER_AUDIO;
    CAPTUREPARMS got = getParms(cap);
    EXPECT_EQ(std::memcmp(&got, &p, sizeof p), 0);

    // GET copies at most wParam bytes; the rest of the caller's record is not touched.
    std::memset(&p, 0xAB, sizeof p);
    ASSERT_TRUE(send(cap, WM_CAP_GET_SEQUENCE_SETUP, 8, lp(&p)));
    EXPECT_EQ(p.dwRequestMicroSecPerFrame, 66667u);
    EXPECT_EQ(p.fMakeUserHitOKToCapture, FALSE);
    EXPECT_EQ(p.wPercentDropForError, 0xABABABABu);

    // SET takes wParam bytes, the first fields only.
    DWORD first = 40000;
    ASSERT_TRUE(send(cap, WM_CAP_SET_SEQUENCE_SETUP, sizeof first, lp(&first)));
    EXPECT_EQ(getParms(cap).dwRequestMicroSecPerFrame, 40000u);
    EXPECT_EQ(getParms(cap).wPercentDropForError, 10u);

    p = getParms(cap);
    p.fYield = TRUE;  // as the program sets it at start-up
    ASSERT_TRUE(send(cap, WM_CAP_SET_SEQUENCE_SETUP, sizeof p, lp(&p)));
    got = getParms(cap);
    EXPECT_EQ(std::memcmp(&p, &got, sizeof p), 0);
    EXPECT_FALSE(send(cap, WM_CAP_SET_SEQUENCE_SETUP, sizeof p, 0));
    EXPECT_FALSE(send(cap, WM_CAP_GET_SEQUENCE_SETUP, 0, lp(&p)));

    p.dwRequestMicroSecPerFrame = 0;  // what Speed Fps 0 gives
    p.fYield = FALSE;
    EXPECT_FALSE(send(cap, WM_CAP_SET_SEQUENCE_SETUP, sizeof p, lp(&p)));
    EXPECT_EQ(getParms(cap).dwRequestMicroSecPerFrame, 40000u);
    EXPECT_EQ(getParms(cap).fYield, FALSE);
    EXPECT_EQ(at::reportedErrors(cap), 1);
    EXPECT_NE(at::lastError(cap).find("0 microseconds"), std::string::npos);
    EXPECT_FALSE(send(cap, WM_CAP_SET_SEQUENCE_SETUP, sizeof p, lp(&p)));
    EXPECT_EQ(at::reportedErrors(cap), 1);  // the same problem again is not a new report
    EXPECT_TRUE(setFrameTime(cap, 100000));
    EXPECT_EQ(at::bannerText(cap), "");

    // The capture file name set is the window's own copy.
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

// The live picture at the slower of the rate asked for and the device's. Preview asked for
// without a driver waits for one; it stops on disconnect and comes back with the next connection.
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
    ASSERT_TRUE(send(cap, WM_CAP_DRIVER_DISCONNECT));
    EXPECT_TRUE(send(cap, WM_CAP_SET_PREVIEW, 30));
    ASSERT_TRUE(connect());
    ASSERT_TRUE(showsMore(cap, 3));

    // The picture is the test source's preview, scaled into 200x168 (200x150 and centred).
    QWidget* w = kelvra::platform::widgetFromHandle(cap);
    auto stampOnScreen = [&] {
        const QImage shot = w->grab().toImage().convertToFormat(QImage::Format_RGB32).copy(0, 9, 200, 150);
        const media::Frame f{200, 150, media::PixelFormat::BGRA, {shot.constBits(), shot.constBits() + shot.sizeInBytes()}};
        media::TestStamp stamp;
        return media::readTestStamp(f, stamp) && stamp.preview ? stamp.sequence : 0;
    };
    const uint64_t first = stampOnScreen();
    EXPECT_GT(first, 0u);
    ASSERT_TRUE(showsMore(cap, 2));
    EXPECT_GT(stampOnScreen(), first);  // it moves

    // Overlay is refused and changes nothing: the preview goes on.
    EXPECT_FALSE(send(cap, WM_CAP_SET_OVERLAY, 1));
    ASSERT_TRUE(showsMore(cap, 2));
    ASSERT_TRUE(send(cap, WM_CAP_DRIVER_DISCONNECT));
    EXPECT_TRUE(standsStill(cap));
    ASSERT_TRUE(connect());
    ASSERT_TRUE(showsMore(cap, 2));
    send(cap, WM_CAP_SET_PREVIEW, 0);
    EXPECT_TRUE(standsStill(cap));
}
