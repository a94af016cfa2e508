// Start-up without a device, the keyboard's commands, and the file chooser the program opens.
#include "app_fixture.h"
#include "cap_log.h"

#include <QApplication>
#include <QComboBox>
#include <QDialogButtonBox>
#include <QFileDialog>
#include <QLineEdit>
#include <QPushButton>
#include <QTest>

#include <fstream>

namespace {

using kelvra::platform::ModalInfo;
using kelvra::platform::widgetFromHandle;

const char* const driverError =
    "There was a problem connecting to your capture device.  This could be because the device is not "
    "connected or a program using the device has crashed. You need to restart your computer. Kelvra will "
    "run anyway without capture.";

class StartWithoutDevice : public MainWindowTest {};

TEST_F(StartWithoutDevice, ReportsOnceBeforeTheWindowIsShownAndCarriesOn)
{
    for (const char* drivers : {"", "/dev/kelvra-no-such-camera"}) {
        bool shownWhileAsking = true;
        kt::scriptModal([&](QDialog& dialog, const ModalInfo& info) {
            EXPECT_EQ(info.caption, "Driver Error !");
            EXPECT_EQ(info.text, driverError);
            QWidget* main = dialog.parentWidget();
            EXPECT_NE(main, nullptr) << "the box is owned by the main window";
            shownWhileAsking = main && main->isVisible();
            dialog.done(IDOK);
        });
        open(drivers);
        EXPECT_FALSE(shownWhileAsking) << "the box comes before the main window is first shown";
        EXPECT_EQ(cDriver, 0);
        EXPECT_EQ(kt::modalHistory().size(), 1u);
        EXPECT_EQ(gCapParms.fYield, 1) << "the settings are applied in every case";
        EXPECT_EQ(gCapParms.wStepCaptureAverageFrames, 5u);
        EXPECT_EQ(text(EDIT3), "READY");

        timing("15", "1");
        command(IDDREC);
        kt::advanceClock(3000);
        EXPECT_EQ(text(EDIT6), "3") << "frame steps are counted even without a device";
        command(IDSTOP);
        EXPECT_EQ(text(EDIT3), "STOP");
        KillTimer(hwnd, FRAME_TIMER_ID);
        DestroyWindow(hwnd);
        kt::disableScriptedModals();
        kt::enableScriptedModals();
    }
}

class Keyboard : public MainWindowTest {
protected:
    void SetUp() override
    {
        MainWindowTest::SetUp();
        open("test");
        setCaptureFile(capturePath());
        widgetFromHandle(hwnd)->show();
    }
    QWidget* item(int id) { return widgetFromHandle(GetDlgItem(hwnd, id)); }
};

TEST_F(Keyboard, EnterOnAFieldRecordsEscapePauses)
{
    timing("15", "1");
    QTest::keyClick(item(21), Qt::Key_Return);
    EXPECT_EQ(text(EDIT3), "REC");
    kt::advanceClock(1000);
    EXPECT_EQ(text(EDIT6), "1");
    QTest::keyClick(item(EDIT5), Qt::Key_Escape);
    EXPECT_EQ(text(EDIT3), "PAUSED");
    QTest::keyClick(item(CBMIN), Qt::Key_Enter);
    EXPECT_EQ(text(EDIT3), "REC") << "Enter on a unit button is REC";
    EXPECT_EQ(timez, 1000) << "and does not click the unit button";
    QTest::keyClick(item(IDSTOP), Qt::Key_Return);
    EXPECT_EQ(text(EDIT3), "STOP") << "Enter on a push button clicks that button";
}

// In a home folder of its own, with no videos folder yet, as on a new account.
class Chooser : public MainWindowTest {
protected:
    void SetUp() override
    {
        MainWindowTest::SetUp();
        savedHome_ = getenv("HOME");
        home_ = std::filesystem::temp_directory_path() / ("kelvra-chooser-home-" + std::to_string(getpid()));
        std::filesystem::remove_all(home_);
        std::filesystem::create_directories(home_);
        setenv("HOME", home_.c_str(), 1);
        open("test");
    }
    void TearDown() override
    {
        MainWindowTest::TearDown();
        setenv("HOME", savedHome_.c_str(), 1);
        std::filesystem::remove_all(home_);
    }
    std::string captureFile()
    {
        char current[MAX_PATH] = {};
        SendMessageA(CapWndCC, WM_CAP_FILE_GET_CAPTURE_FILEA, sizeof current, (LPARAM)current);
        return current;
    }
    std::filesystem::path home_;
    std::string savedHome_;
};

TEST_F(Chooser, OpensWithThePatternAndVideoFilesAndAddsTheExtension)
{
    std::string typed = capturePath("holiday");
    kt::scriptModal([&](QDialog& dialog, const ModalInfo& info) {
        auto& chooser = dynamic_cast<QFileDialog&>(dialog);
        EXPECT_EQ(info.kind, kelvra::platform::ModalKind::FileChooser);
        EXPECT_EQ(chooser.windowTitle(), "Create Capture File");
        EXPECT_EQ(chooser.findChild<QLineEdit*>("fileNameEdit")->text(), "*.AVI");
        EXPECT_EQ(chooser.selectedNameFilter(), "Video Files (*.AVI)");
        EXPECT_EQ(chooser.nameFilters(), (QStringList{"All files (*.*)", "Video Files (*.AVI)"}));
        kt::chooseFile(typed)(dialog, info);
    });
    kt::scriptModal([&](QDialog& dialog, const ModalInfo& info) {
        EXPECT_NE(info.text.find("This file does not exist."), std::string::npos) << info.text;
        EXPECT_NE(info.text.find("Do you want to create it?"), std::string::npos);
        dialog.done(IDYES);
    });
    command(IDFIL);
    EXPECT_EQ(captureFile(), typed + ".AVI");
}

TEST_F(Chooser, AnExistingFileIsTakenWithoutAQuestion)
{
    std::string existing = capturePath("old.avi");
    std::ofstream(existing) << "x";
    kt::scriptModal(kt::chooseFile(existing));
    command(IDFIL);
    EXPECT_EQ(captureFile(), existing);
}

// A new name refused at the create question, and a folder that does not exist: the chooser
// stays open and, once cancelled, the capture file is what it was.
TEST_F(Chooser, RefusedNamesKeepTheChooserOpen)
{
    struct Row {
        const char* name;
        const char* question;
        int answer;
    };
    for (const Row& row : {Row{"new.avi", "Do you want to create it?", IDNO},
                           Row{"missing/folder/take.avi", "The path does not exist.", IDOK}}) {
        SCOPED_TRACE(row.name);
        std::string before = captureFile();
        kt::scriptModal([&](QDialog& dialog, const ModalInfo&) {
            kt::scriptModal([&](QDialog& box, const ModalInfo& question) {
                EXPECT_NE(question.text.find(row.question), std::string::npos) << question.text;
                box.done(row.answer);
            });
            dialog.findChild<QLineEdit*>("fileNameEdit")->setText(QString::fromStdString(capturePath(row.name)));
            QMetaObject::invokeMethod(&dialog, "accept", Qt::DirectConnection);
            EXPECT_TRUE(dialog.isVisible());
            dialog.reject();
        });
        command(IDFIL);
        EXPECT_EQ(captureFile(), before);
    }
}

// The program gives the chooser no folder: it opens where the capture file is, the default one
// in the videos folder included (made for it, so that a name typed there can be taken), and where
// the chooser is told nothing usable, in the home folder, never where the program was started.
TEST_F(Chooser, OpensInTheCaptureFilesFolder)
{
    const std::filesystem::path away = dir_ / "away";
    std::filesystem::create_directories(away);
    const std::filesystem::path videos = std::filesystem::path(captureFile()).parent_path();
    ASSERT_EQ(videos, home_ / "Videos");
    ASSERT_FALSE(std::filesystem::exists(videos));
    const struct { std::string captureFile; std::filesystem::path opensIn; } rows[] = {
        {captureFile(), videos},
        {(away / "week.avi").string(), away},
        {(dir_ / "gone" / "x.avi").string(), home_},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.captureFile);
        if (row.captureFile != captureFile())
            setCaptureFile(row.captureFile);
        kt::scriptModal([&](QDialog& dialog, const ModalInfo&) {
            EXPECT_EQ(dynamic_cast<QFileDialog&>(dialog).directory().absolutePath().toStdString(),
                      std::filesystem::weakly_canonical(row.opensIn).string());
            dialog.reject();
        });
        command(IDFIL);
    }
}

TEST_F(Chooser, ATypedPatternFiltersInsteadOfNamingAFile)
{
    std::string before = captureFile();
    kt::scriptModal([&](QDialog& dialog, const ModalInfo&) {
        auto& chooser = dynamic_cast<QFileDialog&>(dialog);
        chooser.findChild<QLineEdit*>("fileNameEdit")->setText("*.AVI");
        QMetaObject::invokeMethod(&chooser, "accept", Qt::DirectConnection);
        EXPECT_TRUE(chooser.isVisible()) << "a pattern is never taken as the file name";
        QDialogButtonBox* buttons = chooser.findChild<QDialogButtonBox*>();
        ASSERT_NE(buttons, nullptr);
        QPushButton* help = buttons->button(QDialogButtonBox::Help);
        ASSERT_NE(help, nullptr) << "the chooser has a Help button";
        help->click();
        EXPECT_TRUE(chooser.isVisible()) << "Help does nothing";
        chooser.reject();
    });
    command(IDFIL);
    EXPECT_EQ(captureFile(), before);
}

}  // namespace
