// Export Film... in the media window: the menu entry and Ctrl+E, the dialog's defaults taken by
// Enter, the checks it makes before any work (frame rate, folder, replacing a film), the save
// chooser, the progress window with Cancel, and the windows staying live during an export. The
// films themselves are checked with FFmpeg's demuxer.
#include "recording.h"

#include "film_test_support.h"

#include <kelvra/export/film_export.h>
#include <kelvra/mciwnd/media_window.h>

#include <QApplication>
#include <QComboBox>
#include <QDialog>
#include <QLabel>
#include <QLineEdit>
#include <QMenu>
#include <QPushButton>
#include <QRadioButton>
#include <QSpinBox>
#include <QTest>
#include <QToolButton>

#include <fstream>
#include <iterator>

namespace {

using namespace player_test;
using kelvra::mciwnd::MediaControl;
using kelvra::mciwnd::mediaControl;
using kelvra::platform::ModalInfo;
using kelvra::platform::ModalKind;
using kelvra::platform::widgetFromHandle;

constexpr int kExportWaitMs = 60000;

// Presses Enter where the keyboard focus is, as a person would.
void pressEnter(QDialog& dialog)
{
    QWidget* focus = dialog.focusWidget() ? dialog.focusWidget() : &dialog;
    QTest::keyClick(focus, Qt::Key_Return);
}

template <typename T>
T* child(QWidget& parent, const char* name)
{
    T* found = parent.findChild<T*>(name);
    EXPECT_NE(found, nullptr) << name;
    return found;
}

QWidget* progressWindowOf(HWND media)
{
    return widgetFromHandle(media)->findChild<QWidget*>("exportProgress");
}

class ExportDialogTest : public PlayerFixture {
protected:
    void SetUp() override
    {
        PlayerFixture::SetUp();
        std::string why;
        if (!kelvra::film::h264Available(why))
            GTEST_SKIP() << "no H.264 encoding on this machine: " << why;
        kt::enableScriptedModals();
    }
    void TearDown() override
    {
        EXPECT_TRUE(kt::unscriptedModals().empty()) << "a modal window had no answer: " << kt::unscriptedModals().front().caption;
        EXPECT_TRUE(kt::timedOutModals().empty());
        kt::disableScriptedModals();
        PlayerFixture::TearDown();
    }
    std::vector<ModalInfo> boxes() const
    {
        std::vector<ModalInfo> found;
        for (const ModalInfo& info : kt::modalHistory())
            if (info.kind == ModalKind::MessageBox)
                found.push_back(info);
        return found;
    }
};

TEST_F(ExportDialogTest, CtrlEOpensTheDialogAndEnterExportsTheDefaultsBesideTheRecording)
{
    const std::string file = recording("walk.avi");
    HWND hwnd = open(file);
    MediaControl* media = mediaControl(hwnd);
    QWidget* window = widgetFromHandle(hwnd);

    QMenu* menu = window->findChild<QMenu*>();
    ASSERT_NE(menu, nullptr);
    QStringList entries;
    for (QAction* action : menu->actions())
        entries << action->text();
    EXPECT_TRUE(entries.contains("Export Film...\tCtrl+E")) << entries.join(" | ").toStdString();

    kt::scriptModal([&](QDialog& dialog, const ModalInfo& info) {
        EXPECT_EQ(info.kind, ModalKind::Dialog);
        EXPECT_EQ(info.caption, "Export Film");
        EXPECT_EQ(child<QComboBox>(dialog, "format")->currentText(), "MP4 film (H.264)");
        EXPECT_EQ(child<QSpinBox>(dialog, "quality")->value(), 20);
        EXPECT_EQ(child<QComboBox>(dialog, "size")->currentText(), "The recording's own (320 x 240)");
        EXPECT_EQ(child<QLineEdit>(dialog, "rate")->text(), "10");
        EXPECT_EQ(child<QComboBox>(dialog, "deflicker")->currentText(), "Off");
        EXPECT_TRUE(child<QRadioButton>(dialog, "allFrames")->isChecked());
        EXPECT_EQ(child<QLineEdit>(dialog, "target")->text().toStdString(), path("walk.mp4"));
        saveShot(dialog.grab().toImage(), "export-dialog.png");
        pressEnter(dialog);
    });
    QTest::keyClick(window, Qt::Key_E, Qt::ControlModifier);
    EXPECT_EQ(kt::pendingModalScripts(), 0u);
    ASSERT_TRUE(media->waitForExport(kExportWaitMs));
    EXPECT_EQ(media->exportOutcome(), "Done: 20 frames in " + path("walk.mp4") + ".");
    film_test::FilmFacts film = film_test::readFilm(path("walk.mp4"));
    EXPECT_EQ(film.codec, "h264");
    EXPECT_EQ(film.pixelFormat, "yuv420p");
    EXPECT_EQ(film.frames, 20);
    EXPECT_DOUBLE_EQ(film.framesPerSecond, 10.0);
    EXPECT_TRUE(film.moovBeforeMdat);
    EXPECT_TRUE(boxes().empty()) << "nothing to ask: " << boxes().front().text;
}

TEST_F(ExportDialogTest, AFrameRateOfZeroOrAbove240IsRefusedInTheDialog)
{
    HWND hwnd = open(recording("rate.avi"));
    for (const char* bad : {"0", "241", "fast", "-5"}) {
        kt::scriptModal([&, bad](QDialog& dialog, const ModalInfo&) {
            auto* rate = child<QLineEdit>(dialog, "rate");
            rate->setFocus();
            rate->setText(bad);
            pressEnter(dialog);  // the message box below answers; the dialog stays
            EXPECT_TRUE(dialog.isVisible()) << bad;
            EXPECT_EQ(dialog.result(), 0) << bad;
            dialog.reject();
        });
        kt::scriptModal(kt::answer(IDOK));
        mediaControl(hwnd)->exportFilm();
        ASSERT_EQ(boxes().size(), 1u) << bad;
        EXPECT_EQ(boxes().back().text, "The frame rate must be a number above 0 and at most 240 frames per second.");
        EXPECT_FALSE(mediaControl(hwnd)->exportRunning());
        kt::enableScriptedModals();  // a fresh history for the next value
    }
    kt::scriptModal([&](QDialog& dialog, const ModalInfo&) {
        child<QLineEdit>(dialog, "rate")->setText("240");
        child<QRadioButton>(dialog, "someFrames")->setChecked(true);
        child<QSpinBox>(dialog, "from")->setValue(3);
        child<QSpinBox>(dialog, "to")->setValue(7);
        pressEnter(dialog);
    });
    mediaControl(hwnd)->exportFilm();
    ASSERT_TRUE(mediaControl(hwnd)->waitForExport(kExportWaitMs));
    film_test::FilmFacts film = film_test::readFilm(path("rate.mp4"));
    EXPECT_DOUBLE_EQ(film.framesPerSecond, 240.0);
    EXPECT_EQ(film.frames, 5);
    EXPECT_EQ(std::filesystem::exists(path("rate.avi")), true);
}

TEST_F(ExportDialogTest, AnExistingFilmIsReplacedOnlyAfterTheUserSaysYes)
{
    HWND hwnd = open(recording("again.avi"));
    std::ofstream(path("again.mp4")) << "an older film";
    auto contents = [this] {
        std::ifstream in(path("again.mp4"));
        return std::string(std::istreambuf_iterator<char>(in), {});
    };
    kt::scriptModal([](QDialog& dialog, const ModalInfo&) {
        pressEnter(dialog);
        EXPECT_TRUE(dialog.isVisible()) << "No keeps the dialog open";
        dialog.reject();
    });
    kt::scriptModal(kt::answer(IDNO));
    mediaControl(hwnd)->exportFilm();
    ASSERT_EQ(boxes().size(), 1u);
    EXPECT_EQ(boxes()[0].text, path("again.mp4") + " already exists.\nDo you want to replace it?");
    EXPECT_EQ(boxes()[0].caption, "Export Film");
    EXPECT_FALSE(mediaControl(hwnd)->exportRunning());
    EXPECT_EQ(contents(), "an older film");

    kt::scriptModal([](QDialog& dialog, const ModalInfo&) { pressEnter(dialog); });
    kt::scriptModal(kt::answer(IDYES));
    mediaControl(hwnd)->exportFilm();
    ASSERT_TRUE(mediaControl(hwnd)->waitForExport(kExportWaitMs));
    EXPECT_EQ(film_test::readFilm(path("again.mp4")).frames, 20);
}

TEST_F(ExportDialogTest, ChooseGivesASaveChooserAndPlacesThatCannotBeWrittenAreRefusedFirst)
{
    HWND hwnd = open(recording("choose.avi"));
    const std::string elsewhere = path("sub/chosen.mp4");
    ASSERT_TRUE(QDir().mkpath(QString::fromStdString(path("sub"))));
    kt::scriptModal([&](QDialog& dialog, const ModalInfo&) {
        auto* target = child<QLineEdit>(dialog, "target");
        target->setText(QString::fromStdString(path("missing/film.mp4")));
        pressEnter(dialog);  // refused: the folder is missing
        EXPECT_TRUE(dialog.isVisible());
        QTest::mouseClick(child<QPushButton>(dialog, "choose"), Qt::LeftButton);
        EXPECT_EQ(target->text().toStdString(), elsewhere);
        pressEnter(dialog);
    });
    kt::scriptModal(kt::answer(IDOK));
    kt::scriptModal([&](QDialog& chooser, const ModalInfo& info) {
        EXPECT_EQ(info.kind, ModalKind::FileChooser);
        EXPECT_EQ(info.caption, "Save Film As");
        kt::chooseFile(elsewhere)(chooser, info);
    });
    mediaControl(hwnd)->exportFilm();
    ASSERT_EQ(boxes().size(), 1u);
    EXPECT_EQ(boxes()[0].text, "The folder '" + path("missing") + "' does not exist.");
    ASSERT_TRUE(mediaControl(hwnd)->waitForExport(kExportWaitMs));
    EXPECT_EQ(film_test::readFilm(elsewhere).frames, 20);
    EXPECT_FALSE(std::filesystem::exists(path("missing")));
}

TEST_F(ExportDialogTest, PicturesGoIntoANewFolderNamedAfterTheRecording)
{
    HWND hwnd = open(recording("pics.avi", {.frames = 4}));
    kt::scriptModal([&](QDialog& dialog, const ModalInfo&) {
        child<QComboBox>(dialog, "format")->setCurrentIndex(2);
        EXPECT_EQ(child<QLineEdit>(dialog, "target")->text().toStdString(), path("pics_frames"));
        EXPECT_FALSE(child<QSpinBox>(dialog, "quality")->isEnabled());
        child<QComboBox>(dialog, "size")->setCurrentIndex(3);
        pressEnter(dialog);
    });
    mediaControl(hwnd)->exportFilm();
    ASSERT_TRUE(mediaControl(hwnd)->waitForExport(kExportWaitMs));
    std::vector<std::string> names = film_test::filesIn(path("pics_frames"));
    ASSERT_EQ(names.size(), 4u);
    film_test::PictureFacts picture = film_test::readPicture(path("pics_frames") + "/" + names[3]);
    EXPECT_EQ(picture.codec, "png");
    EXPECT_EQ(picture.width, 640);
    EXPECT_EQ(picture.height, 480);
}

TEST_F(ExportDialogTest, CancelInTheProgressWindowLeavesNothingAndTheWindowsStayLive)
{
    HWND hwnd = open(recording("long.avi", {.frames = 300}));
    MediaControl* media = mediaControl(hwnd);
    kt::scriptModal([](QDialog& dialog, const ModalInfo&) { pressEnter(dialog); });
    media->exportFilm();
    QWidget* progress = progressWindowOf(hwnd);
    ASSERT_NE(progress, nullptr);
    EXPECT_TRUE(progress->isVisible());
    ASSERT_TRUE(media->exportRunning());

    // While the export runs, the media window's clock-driven playback and its seeking go on.
    media->play();
    kt::advanceClock(1000);
    EXPECT_EQ(media->position(), 10);
    media->seek(42);
    EXPECT_EQ(media->position(), 42);

    QTest::mouseClick(child<QPushButton>(*progress, "cancel"), Qt::LeftButton);
    ASSERT_TRUE(media->waitForExport(kExportWaitMs));
    EXPECT_EQ(media->exportOutcome(), "Cancelled. Nothing was written.");
    EXPECT_EQ(child<QPushButton>(*progress, "cancel")->text(), "Close");
    EXPECT_FALSE(std::filesystem::exists(path("long.mp4")));
    for (const std::string& name : film_test::filesIn(dir_.path().toStdString()))
        EXPECT_EQ(name.find(".partial"), std::string::npos) << name;
}

TEST_F(ExportDialogTest, TheProgressWindowCountsFramesAndClosingTheMediaWindowCancels)
{
    HWND hwnd = open(recording("shot.avi", {.frames = 600}));
    MediaControl* media = mediaControl(hwnd);
    kt::scriptModal([](QDialog& dialog, const ModalInfo&) { pressEnter(dialog); });
    media->exportFilm();
    QWidget* progress = progressWindowOf(hwnd);
    ASSERT_NE(progress, nullptr);
    auto* frames = child<QLabel>(*progress, "frames");
    // Counts appear once a picture is done; the test waits on the export, never on a clock.
    auto* timeLeft = child<QLabel>(*progress, "timeLeft");
    while (media->exportRunning() && timeLeft->text().isEmpty())
        QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents);
    if (media->exportRunning()) {
        EXPECT_TRUE(frames->text().endsWith(" of 600")) << frames->text().toStdString();
        EXPECT_TRUE(child<QLabel>(*progress, "speed")->text().endsWith(" frames per second"));
        EXPECT_TRUE(timeLeft->text().startsWith("About ")) << timeLeft->text().toStdString();
        saveShot(progress->grab().toImage(), "export-progress.png");
    }
    SendMessageA(hwnd, WM_CLOSE, 0, 0);
    QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
    EXPECT_FALSE(IsWindow(hwnd));
    EXPECT_FALSE(std::filesystem::exists(path("shot.mp4")));
    for (const std::string& name : film_test::filesIn(dir_.path().toStdString()))
        EXPECT_EQ(name.find(".partial"), std::string::npos) << name;
}

}  // namespace
