// The recording commands driven through the main window's procedure on the virtual clock, with
// the capture window's messages and the file it writes checked.
#include "app_fixture.h"
#include "cap_log.h"
#include "file_check.h"

#include <QCoreApplication>
#include <QDir>

#include <cstdlib>
#include <fstream>

namespace {

constexpr UINT CONNECT = WM_CAP_DRIVER_CONNECT, GETSETUP = WM_CAP_GET_SEQUENCE_SETUP,
               SETSETUP = WM_CAP_SET_SEQUENCE_SETUP, OPEN = WM_CAP_SINGLE_FRAME_OPEN,
               FRAME = WM_CAP_SINGLE_FRAME, CLOSE = WM_CAP_SINGLE_FRAME_CLOSE, ABORT = WM_CAP_ABORT;

class Recording : public MainWindowTest {
protected:
    void SetUp() override
    {
        MainWindowTest::SetUp();
        open("test");
        setCaptureFile(capturePath());
        clearCapLog(CapWndCC);
    }
};

TEST_F(Recording, StartUpStateAndMessageOrder)
{
    EXPECT_EQ(text(EDIT5), "15");
    EXPECT_EQ(text(EDIT3), "READY");
    EXPECT_EQ(text(EDIT2), "OFF");
    EXPECT_EQ(text(21), "1") << "only the spinner's own starting position: the program writes nothing here";
    EXPECT_EQ(text(EDIT6), "");
    EXPECT_EQ(IsDlgButtonChecked(hwnd, CBSEC), (UINT)BST_CHECKED);
    EXPECT_EQ(timez, 1000);
    EXPECT_EQ(tFlag, 0);
    EXPECT_NE(cDriver, 0);
    EXPECT_EQ(gCapParms.fYield, 1);
    EXPECT_EQ(gCapParms.fCaptureAudio, 0);
    EXPECT_EQ(gCapParms.wStepCaptureAverageFrames, 5u);
    EXPECT_EQ(gCapParms.wChunkGranularity, 0u);

    QWidget* cap = kelvra::platform::widgetFromHandle(CapWndCC);
    ASSERT_NE(cap, nullptr);
    EXPECT_EQ(cap->geometry(), QRect(22, 30, 200, 168));
    EXPECT_EQ(GetParent(CapWndCC), hwnd);
}

TEST_F(Recording, RecAt15FpsEvery5SecondsTakesAFrameEvery5000ms)
{
    timing("15", "5");
    command(IDDREC);
    EXPECT_EQ(text(EDIT6), "0");
    EXPECT_EQ(text(EDIT3), "REC");
    EXPECT_EQ(gCapParms.dwRequestMicroSecPerFrame, 66666u) << "1,000,000 / 15 with the fraction dropped";
    EXPECT_EQ(capCalls(CapWndCC), (std::vector<UINT>{GETSETUP, SETSETUP, OPEN}));
    EXPECT_EQ(capSetupAt(CapWndCC, 1).dwRequestMicroSecPerFrame, 66666u);

    kt::advanceClock(4999);
    EXPECT_EQ(text(EDIT6), "0") << "the first frame comes when the first interval has passed";
    for (int k = 1; k <= 3; ++k) {
        kt::advanceClock(k == 1 ? 1 : 5000);
        EXPECT_EQ(text(EDIT6), std::to_string(k));
    }
    EXPECT_EQ(fcount, 3);
    // The capture window tells what it records where, at the pace the timer gives; the main
    // window is as it was (KELVRA_SHOTS_DIR=folder keeps a picture of both).
    const std::string status = kelvra::avicap::testing::statusText(CapWndCC);
    EXPECT_EQ(status.rfind("REC ", 0), 0u) << status;
    EXPECT_NE(status.find("take.avi\n3 frames, last 0 s ago\nroom for "), std::string::npos) << status;
    if (const char* shots = std::getenv("KELVRA_SHOTS_DIR")) {
        QWidget* main = kelvra::platform::widgetFromHandle(hwnd);
        main->show();
        QCoreApplication::processEvents();
        EXPECT_TRUE(QDir().mkpath(shots) && main->grab().save(QDir(shots).filePath("main-recording.png")));
    }
    command(IDSTOP);
    EXPECT_EQ(kelvra::avicap::testing::statusText(CapWndCC), "");
    std::ifstream journal(capturePath() + ".log");
    std::string line, last;
    while (std::getline(journal, line))
        last = line;
    EXPECT_NE(last.find("Closed with 3 frames in the file."), std::string::npos) << last;
    AviCheck avi = checkAvi(capturePath());
    EXPECT_EQ(avi.frames, 3);
    EXPECT_EQ(avi.rateNum * 66666, avi.rateDen * 1000000) << avi.rateNum << "/" << avi.rateDen;
    EXPECT_EQ(avi.stamps, (std::vector<uint64_t>{1, 2, 3}));
}

TEST_F(Recording, RecTwiceResetsTheFieldKeepsTheCountAndRestartsTheInterval)
{
    timing("10", "5");
    command(IDDREC);
    kt::advanceClock(5000);
    kt::advanceClock(3000);
    EXPECT_EQ(text(EDIT6), "1");
    command(IDDREC);
    EXPECT_EQ(text(EDIT6), "0");
    EXPECT_EQ(fcount, 1);
    kt::advanceClock(2000);
    EXPECT_EQ(text(EDIT6), "0") << "the old period must not fire after the second press";
    kt::advanceClock(3000);
    EXPECT_EQ(text(EDIT6), "2");
}

TEST_F(Recording, UnitChangeWaitsForTheNextRec)
{
    timing("15", "2");
    command(IDDREC);
    command(CBMIN);
    EXPECT_EQ(timez, 60000);
    kt::advanceClock(4000);
    EXPECT_EQ(text(EDIT6), "2") << "the running timer keeps its 2 s interval";
    command(IDRESU);
    kt::advanceClock(119999);
    EXPECT_EQ(text(EDIT6), "0");
    kt::advanceClock(1);
    EXPECT_EQ(text(EDIT6), "3");
}

TEST_F(Recording, LargeCountsAreShownInFull)
{
    timing("15", "1");
    command(IDDREC);
    fcount = 999;
    kt::advanceClock(1000);
    EXPECT_EQ(text(EDIT6), "1000");
    fcount = 1234566;
    kt::advanceClock(1000);
    EXPECT_EQ(text(EDIT6), "1234567");
}

TEST_F(Recording, ResumeAfterPauseContinuesTheCountAfterStopStartsAgain)
{
    timing("15", "1");
    command(IDDREC);
    kt::advanceClock(2000);
    command(IDRP);
    EXPECT_EQ(text(EDIT3), "PAUSED");
    kt::advanceClock(10000);
    EXPECT_EQ(text(EDIT6), "2") << "no frames while paused";
    command(IDRESU);
    EXPECT_EQ(text(EDIT6), "0");
    EXPECT_EQ(text(EDIT3), "REC");
    kt::advanceClock(1000);
    EXPECT_EQ(text(EDIT6), "3");

    command(IDSTOP);
    EXPECT_EQ(fcount, 0);
    EXPECT_EQ(text(EDIT6), "3") << "the field keeps the last number after STOP ALL";
    command(IDRESU);
    kt::advanceClock(1000);
    EXPECT_EQ(text(EDIT6), "1");
    command(IDSTOP);
    EXPECT_EQ(checkAvi(capturePath()).frames, 4) << "RESUME after STOP continues the same recording";
}

TEST_F(Recording, GrabDuringARecordingGoesIntoTheSameFile)
{
    timing("15", "5");
    command(IDDREC);
    kt::advanceClock(5000);
    command(IDMAN);
    EXPECT_EQ(text(EDIT6), "2");
    EXPECT_EQ(text(EDIT3), "REC");
    kt::advanceClock(5000);
    EXPECT_EQ(text(EDIT6), "3") << "the grab does not move the timer";
    command(IDSTOP);
    AviCheck avi = checkAvi(capturePath());
    EXPECT_EQ(avi.frames, 3);
    EXPECT_EQ(avi.stamps, (std::vector<uint64_t>{1, 2, 3}));
}

TEST_F(Recording, GrabWithoutTimerOpensTheFileAndCountsOneFrame)
{
    command(IDMAN);
    EXPECT_EQ(text(EDIT3), "REC");
    EXPECT_EQ(text(EDIT6), "1");
    EXPECT_EQ(capCalls(CapWndCC), (std::vector<UINT>{GETSETUP, SETSETUP, OPEN, FRAME}));
    kt::advanceClock(100000);
    EXPECT_EQ(text(EDIT6), "1") << "GRAB starts no timer";
}

TEST_F(Recording, TicksGoOnWhileTheChooserIsOpenAndACancelChangesNothing)
{
    timing("15", "1");
    command(IDDREC);
    kt::scriptModal([](QDialog& dialog, const kelvra::platform::ModalInfo& info) {
        EXPECT_EQ(info.caption, "Create Capture File");
        kt::advanceClock(3000);
        dialog.reject();
    });
    command(IDFIL);
    EXPECT_EQ(text(EDIT6), "3");
    char current[MAX_PATH] = {};
    SendMessageA(CapWndCC, WM_CAP_FILE_GET_CAPTURE_FILEA, sizeof current, (LPARAM)current);
    EXPECT_EQ(std::string(current), capturePath()) << "a cancelled choice keeps the capture file";
}

TEST_F(Recording, TicksGoOnWhileADeviceDialogIsOpen)
{
    timing("15", "2");
    command(IDDREC);
    kt::scriptModal([](QDialog& dialog, const kelvra::platform::ModalInfo& info) {
        EXPECT_EQ(info.kind, kelvra::platform::ModalKind::DeviceDialog);
        kt::advanceClock(4000);
        dialog.reject();
    });
    command(IDSOURCE);
    EXPECT_EQ(text(EDIT6), "2");
    EXPECT_EQ(text(EDIT3), "REC");
}

TEST_F(Recording, ExitAnsweredNoStopsCaptureAndKeepsTheWindow)
{
    timing("15", "1");
    command(IDDREC);
    kt::advanceClock(2000);
    clearCapLog(CapWndCC);
    kt::scriptModal([](QDialog& dialog, const kelvra::platform::ModalInfo& info) {
        EXPECT_EQ(info.caption, "Exit");
        EXPECT_EQ(info.text, "Are you sure you want to quit ?");
        dialog.done(IDNO);
    });
    EXPECT_EQ(DialogFunc(hwnd, WM_CLOSE, 0, 0), TRUE);
    EXPECT_EQ(capCalls(CapWndCC), (std::vector<UINT>{ABORT, CLOSE}));
    EXPECT_EQ(text(EDIT3), "STOP");
    EXPECT_TRUE(IsWindow(hwnd));
    kt::advanceClock(10000);
    EXPECT_EQ(text(EDIT6), "2") << "the timer is stopped";
    EXPECT_EQ(checkAvi(capturePath()).frames, 2);
}

TEST_F(Recording, ExitAnsweredYesDisconnectsTheDriver)
{
    timing("15", "1");
    command(IDDREC);
    kt::scriptModal(kt::answer(IDYES));
    EXPECT_EQ(command(IDEXIT), TRUE);
    EXPECT_EQ(capCalls(CapWndCC), (std::vector<UINT>{GETSETUP, SETSETUP, OPEN, ABORT, CLOSE, WM_CAP_DRIVER_DISCONNECT}));
}

TEST_F(Recording, WithoutACaptureWindowTheFieldsAndTimerStillWork)
{
    DestroyWindow(CapWndCC);
    ASSERT_FALSE(IsWindow(CapWndCC));
    timing("15", "1");
    command(IDDREC);
    EXPECT_EQ(text(EDIT3), "REC");
    EXPECT_EQ(gCapParms.dwRequestMicroSecPerFrame, 66666u);
    kt::advanceClock(3000);
    EXPECT_EQ(text(EDIT6), "3");
    command(IDMAN);
    EXPECT_EQ(text(EDIT6), "4");
    command(IDDISP);
    EXPECT_EQ(text(EDIT2), "ON");
    command(IDSOURCE);
    command(IDSTOP);
    EXPECT_EQ(text(EDIT3), "STOP");
}

TEST_F(Recording, TwoOverlayTogglesSendTheMessagesInOrder)
{
    command(IDDISP);
    EXPECT_EQ(text(EDIT2), "ON");
    EXPECT_EQ(tFlag, 1);
    command(IDDISP);
    EXPECT_EQ(text(EDIT2), "OFF");
    EXPECT_EQ(tFlag, 0);
    auto calls = capCallArgs(CapWndCC);
    std::vector<std::pair<UINT, WPARAM>> expected{
        {WM_CAP_SET_OVERLAY, 1}, {WM_CAP_SET_OVERLAY, 0}, {WM_CAP_SET_PREVIEW, 1}, {WM_CAP_SET_OVERLAY, 0}};
    EXPECT_EQ(calls, expected);
}

// Identifiers outside 1..19 are left to the platform; inside, the notification code does not
// matter, and PAUSE and STOP ALL act with nothing running.
TEST_F(Recording, DispatchByIdentifierOnly)
{
    for (WORD id : {0, 20, 21, 23, 102, 123, 128, 0xFFFF})
        EXPECT_EQ(command(id), FALSE) << id;
    EXPECT_EQ(DialogFunc(hwnd, WM_TIMER, 1, 0), FALSE);
    EXPECT_EQ(text(EDIT3), "READY");
    EXPECT_TRUE(capCalls(CapWndCC).empty());

    EXPECT_EQ(command(IDRP, 0x1234), TRUE);
    EXPECT_EQ(text(EDIT3), "PAUSED");
    EXPECT_EQ(command(CBHOU, 0xFFFF), TRUE);
    EXPECT_EQ(timez, 3600000);
    EXPECT_EQ(command(IDSTOP, 5), TRUE);
    EXPECT_EQ(text(EDIT3), "STOP");
    EXPECT_EQ(capCalls(CapWndCC), (std::vector<UINT>{ABORT, CLOSE}));
    kt::advanceClock(60000);
    EXPECT_EQ(text(EDIT6), "");
    EXPECT_EQ(fcount, 0);
}

TEST_F(Recording, DaysTimesFortyNinePassesThroughTheUpperHalf)
{
    timing("15", "49", CBDAY);
    command(IDDREC);
    EXPECT_EQ(text(EDIT3), "REC");
    const uint64_t interval = 49ull * 86400000ull;  // 4,233,600,000 ms, above 2^31
    kt::advanceClock(interval - 1);
    EXPECT_EQ(text(EDIT6), "0");
    kt::advanceClock(1);
    EXPECT_EQ(text(EDIT6), "1");
}

}  // namespace
