// A film made from the file being recorded, from a media window like the player's, while the
// main window's timer goes on adding frames: the film holds the frames the file had when the
// export started, every frame step comes on time, and the recording ends whole.
#include "app_fixture.h"
#include "file_check.h"

#include <kelvra/export/film_export.h>
#include <kelvra/mciwnd/media_window.h>

#include <QTest>

namespace {

constexpr DWORD kPlayerStyle = WS_POPUP | WS_VISIBLE | WS_CAPTION | WS_SYSMENU | MCIWNDF_NOOPEN;
constexpr int kExportWaitMs = 60000;

class ExportWhileRecording : public MainWindowTest {
protected:
    void SetUp() override
    {
        MainWindowTest::SetUp();
        std::string why;
        if (!kelvra::film::h264Available(why))
            GTEST_SKIP() << "no H.264 encoding on this machine: " << why;
        open("test");
        setCaptureFile(capturePath());
    }
};

TEST_F(ExportWhileRecording, TheFilmHoldsTheFramesOfTheStartAndTheRecordingKeepsItsSteps)
{
    timing("10", "1");
    command(IDDREC);
    kt::advanceClock(4000);
    ASSERT_EQ(text(EDIT6), "4");

    HWND media = MCIWndCreateA(hwnd, nullptr, kPlayerStyle, capturePath().c_str());
    kelvra::mciwnd::MediaControl* control = kelvra::mciwnd::mediaControl(media);
    ASSERT_NE(control, nullptr);
    ASSERT_TRUE(control->isOpen()) << control->errorText();
    kt::scriptModal([](QDialog& dialog, const kelvra::platform::ModalInfo&) {
        QTest::keyClick(dialog.focusWidget() ? dialog.focusWidget() : &dialog, Qt::Key_Return);
    });
    control->exportFilm();
    // The steps go on while the film is made: one frame each second, counted at once.
    for (int second = 1; second <= 5; ++second) {
        kt::advanceClock(1000);
        EXPECT_EQ(text(EDIT6), std::to_string(4 + second));
    }
    ASSERT_TRUE(control->waitForExport(kExportWaitMs));
    EXPECT_EQ(control->exportOutcome().rfind("Done: 4 frames in ", 0), 0u) << control->exportOutcome();

    AviCheck film = checkAvi((dir_ / "take.mp4").string());
    EXPECT_EQ(film.frames, 4) << "the frames the recording held when the export started";
    EXPECT_EQ(film.rateNum, 10);
    EXPECT_EQ(film.rateDen, 1);
    kt::advanceClock(1000);
    EXPECT_EQ(text(EDIT6), "10");
    command(IDSTOP);
    AviCheck recording = checkAvi(capturePath());
    EXPECT_EQ(recording.frames, 10);
    EXPECT_EQ(recording.stamps, (std::vector<uint64_t>{1, 2, 3, 4, 5, 6, 7, 8, 9, 10}));
    SendMessageA(media, WM_CLOSE, 0, 0);
}

}  // namespace
