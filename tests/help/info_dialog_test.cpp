// Help, QuickHelp and About as the main window runs them: the dialogs from their templates with
// their exact texts, how they end, and the Help command with and without the help book.
#include "kelvra.h"

#include <kelvra/platform/testing.h>
#include <kelvra/platform/window.h>
#include <kelvra/winhelp/help_viewer.h>

#include <gtest/gtest.h>

#include <QApplication>
#include <QDialog>
#include <QTemporaryDir>
#include <QTest>

#include <functional>
#include <memory>

namespace {

namespace kt = kelvra::platform::testing;
using kelvra::platform::handleFromWidget;
using kelvra::platform::ModalInfo;
using kelvra::platform::widgetFromHandle;

const char* const kLabel902 =
    "REC            - Starts capture at selected speed.              STOPALL   - Stops all Capture          "
    "                             PAUSE       - Pauses current capture                  RESUME    - Resumes "
    "paused capture          ";
const char* const kLabel903 =
    "GRAB SINGLE FRAME - Capture single frame to file                    CAPTURE FILE             - Creates "
    "a capture file                          VIDEO PLAYER             - Launches the AVI player controls";
const char* const kLabel904 =
    "For more detailed information see the help file in the Kelvra directory or by pressing help ";
const char* const kLabel204 = "For information about updates please see the help file or visit.";

class MainWindow : public QWidget, public kelvra::platform::Window {
public:
    QWidget* widget() const override { return const_cast<MainWindow*>(this); }
};

class InfoDialogs : public ::testing::Test {
protected:
    void SetUp() override
    {
        kt::useVirtualClock();
        kt::enableScriptedModals();
        hInst = GetModuleHandleA(nullptr);
        main_ = std::make_unique<MainWindow>();
        main_->resize(600, 300);
        main_->show();
    }
    void TearDown() override
    {
        EXPECT_TRUE(kt::unscriptedModals().empty());
        EXPECT_TRUE(kt::timedOutModals().empty());
        EXPECT_EQ(kt::pendingModalScripts(), 0u);
        WinHelpA(nullptr, nullptr, HELP_QUIT, 0);
        main_.reset();
        QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
        kt::clearModalScripts();
        kt::disableScriptedModals();
        kt::useRealClock();
    }

    // Runs `command` (cmdquickhelp or cmdabout) with `inside` answering the dialog.
    void run(BOOL (*command)(HWND), const char* caption, const std::function<void(HWND, QDialog&)>& inside)
    {
        bool ran = false;
        kt::scriptModal([&](QDialog& dialog, const ModalInfo& info) {
            ran = true;
            EXPECT_EQ(info.caption, caption);
            EXPECT_EQ(dialog.parentWidget(), main_.get()) << "owned by the main window";
            inside(handleFromWidget(&dialog), dialog);
        });
        EXPECT_EQ(command(main_->handle()), TRUE);
        EXPECT_TRUE(ran);
    }

    static std::string itemText(HWND dialog, int id)
    {
        char text[512] = {};
        GetDlgItemTextA(dialog, id, text, sizeof text);
        return text;
    }

    // The label shows all of its text inside its own rectangle: laid out as the static control
    // draws it (wrapped at its width, or on one line), nothing falls outside.
    static void expectFits(HWND dialog, int id, bool wraps)
    {
        QWidget* label = widgetFromHandle(GetDlgItem(dialog, id));
        ASSERT_NE(label, nullptr) << id;
        QString text = QString::fromLocal8Bit(itemText(dialog, id).c_str());
        int flags = Qt::AlignLeft | Qt::AlignTop | Qt::TextExpandTabs | (wraps ? Qt::TextWordWrap : Qt::TextSingleLine);
        QRect needed = QFontMetrics(label->font()).boundingRect(QRect(0, 0, label->width(), 10000), flags, text);
        EXPECT_LE(needed.width(), label->width()) << "label " << id << " runs past its right edge";
        EXPECT_LE(needed.height(), label->height()) << "label " << id << " cuts off its last lines";
    }

    std::unique_ptr<MainWindow> main_;
};

TEST_F(InfoDialogs, QuickReferenceShowsItsTextsAndEndsByOkOrCloseBoxNotEscape)
{
    run(cmdquickhelp, "Quick Reference of main controls", [](HWND dialog, QDialog& widget) {
        EXPECT_EQ(itemText(dialog, 902), kLabel902) << "runs of blanks and trailing blanks kept";
        EXPECT_EQ(itemText(dialog, 903), kLabel903);
        EXPECT_EQ(itemText(dialog, 904), kLabel904);
        EXPECT_EQ(itemText(dialog, IDINFOOK), "OK");
        for (int id : {902, 903, 904})
            expectFits(dialog, id, true);

        QTest::keyClick(&widget, Qt::Key_Escape);
        EXPECT_TRUE(widget.isVisible()) << "Escape is command 2, which QuickHelp leaves alone";
        EXPECT_EQ(QuickHelp(dialog, WM_COMMAND, MAKEWPARAM(IDCANCEL, BN_CLICKED), 0), FALSE);
        EXPECT_EQ(QuickHelp(dialog, WM_COMMAND, MAKEWPARAM(902, BN_CLICKED), 0), FALSE);
        QTest::mouseClick(widgetFromHandle(GetDlgItem(dialog, IDINFOOK)), Qt::LeftButton);
        EXPECT_FALSE(widget.isVisible());
    });
    run(cmdquickhelp, "Quick Reference of main controls", [](HWND, QDialog& widget) { widget.close(); });
}

TEST_F(InfoDialogs, AboutShowsItsTextsAndEndsByOkOrCloseBoxNotEscape)
{
    run(cmdabout, "About Kelvra", [](HWND dialog, QDialog& widget) {
        EXPECT_EQ(itemText(dialog, 201).rfind("Version 1.2", 0), 0u) << itemText(dialog, 201);
        EXPECT_EQ(itemText(dialog, 204), kLabel204);
        for (int id : {206, 207}) {
            std::string address = itemText(dialog, id);
            EXPECT_EQ(address.rfind("https://kelvra.example/", 0), 0u) << "the project's own address: " << address;
        }
        EXPECT_FALSE(itemText(dialog, 202).empty());
        expectFits(dialog, 201, false);
        for (int id : {202, 204, 206, 207})
            expectFits(dialog, id, true);

        QTest::keyClick(&widget, Qt::Key_Escape);
        EXPECT_TRUE(widget.isVisible());
        EXPECT_EQ(AboutDlg(dialog, WM_COMMAND, MAKEWPARAM(IDCANCEL, BN_CLICKED), 0), FALSE);
        QTest::mouseClick(widgetFromHandle(GetDlgItem(dialog, IDINFOOK)), Qt::LeftButton);
    });
    run(cmdabout, "About Kelvra", [](HWND, QDialog& widget) { widget.close(); });
}

TEST_F(InfoDialogs, HelpOpensTheBookOrTheViewerSaysItIsMissing)
{
    setenv("KELVRA_HELP_DIR", KELVRA_BINARY_DIR "/help", 1);
    EXPECT_EQ(cmdhelp(main_->handle()), TRUE);
    auto* viewer = kelvra::winhelp::helpViewer(HELP_FILE_PATH);
    ASSERT_NE(viewer, nullptr);
    EXPECT_TRUE(viewer->fileFound());
    EXPECT_EQ(viewer->currentTopic(), "kel.html");
    WinHelpA(main_->handle(), HELP_FILE_PATH, HELP_QUIT, 0);

    QTemporaryDir empty;
    setenv("KELVRA_HELP_DIR", empty.path().toLocal8Bit().constData(), 1);
    EXPECT_EQ(cmdhelp(main_->handle()), TRUE) << "the program carries on";
    viewer = kelvra::winhelp::helpViewer(HELP_FILE_PATH);
    ASSERT_NE(viewer, nullptr);
    EXPECT_FALSE(viewer->fileFound());
    EXPECT_NE(viewer->shownText().find("cannot be found"), std::string::npos);
    EXPECT_TRUE(kt::modalHistory().empty()) << "no modal box: the viewer's own window says it";
    unsetenv("KELVRA_HELP_DIR");
}

}  // namespace
