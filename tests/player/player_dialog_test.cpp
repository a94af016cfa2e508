// The player dialog's procedure run modally from its template, with the chooser answered by
// script: media windows per file, Exit, the close box, a cancelled choice and Escape.
#include "kelvra.h"
#include "recording.h"

#include <kelvra/mciwnd/media_window.h>
#include <kelvra/platform/testing.h>
#include <kelvra/platform/window.h>

#include <gtest/gtest.h>

#include <QApplication>
#include <QDialog>
#include <QTemporaryDir>
#include <QTest>

#include <functional>
#include <memory>

namespace {

namespace kt = kelvra::platform::testing;
using kelvra::mciwnd::mediaControl;
using kelvra::platform::handleFromWidget;
using kelvra::platform::ModalInfo;
using kelvra::platform::ModalKind;
using kelvra::platform::widgetFromHandle;

using Inside = std::function<void(HWND dialog, QDialog& widget)>;

class PlayerDialog : public ::testing::Test {
protected:
    void SetUp() override
    {
        ASSERT_TRUE(dir_.isValid());
        kt::useVirtualClock();
        kt::enableScriptedModals();
        hInst = GetModuleHandleA(nullptr);
        hwndMci = nullptr;
        owner_ = std::make_unique<player_test::OwnerWindow>();
        owner_->show();
        first_ = recording("first.avi");
        second_ = recording("second.avi");
    }
    void TearDown() override
    {
        EXPECT_TRUE(kt::unscriptedModals().empty()) << "a modal window opened without an answer";
        EXPECT_TRUE(kt::timedOutModals().empty());
        EXPECT_EQ(kt::pendingModalScripts(), 0u) << "scripted answers left unused";
        owner_.reset();
        QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
        kt::clearModalScripts();
        kt::disableScriptedModals();
        kt::useRealClock();
    }

    std::string recording(const char* name)
    {
        std::string path = dir_.filePath(name).toStdString();
        EXPECT_EQ(player_test::makeRecording(path, {.frames = 20, .fps = 10}), "");
        return path;
    }

    // Runs the player from the owner window; `inside` runs in its modal loop and must end it.
    INT_PTR runPlayer(const Inside& inside)
    {
        kt::scriptModal([&](QDialog& dialog, const ModalInfo& info) {
            EXPECT_EQ(info.caption, "Kelvra Time-lapse player");
            EXPECT_EQ(dialog.parentWidget(), owner_.get());
            inside(handleFromWidget(&dialog), dialog);
        });
        return DialogBoxParamA(hInst, MAKEINTRESOURCE(IDD_PLAYER), owner_->handle(), Videoplayer, 0);
    }

    static void click(HWND dialog, int id)
    {
        QWidget* button = widgetFromHandle(GetDlgItem(dialog, id));
        ASSERT_NE(button, nullptr);
        QTest::mouseClick(button, Qt::LeftButton);
    }

    // Open File with the chooser answered by `answer`; checks the chooser is the capture one.
    static void openFile(HWND dialog, kt::ModalScript answer)
    {
        kt::scriptModal([answer](QDialog& chooser, const ModalInfo& info) {
            EXPECT_EQ(info.kind, ModalKind::FileChooser);
            EXPECT_EQ(info.caption, "Create Capture File") << "the capture file's chooser, also here";
            answer(chooser, info);
        });
        click(dialog, IDUP);
    }

    static int mediaWindowsOf(QWidget* dialog)
    {
        int count = 0;
        for (QWidget* child : dialog->findChildren<QWidget*>())
            if (child->isWindow() && mediaControl(handleFromWidget(child)))
                ++count;
        return count;
    }

    static std::string title(HWND hwnd)
    {
        char text[MAX_PATH] = {};
        GetWindowTextA(hwnd, text, sizeof text);
        return text;
    }

    QTemporaryDir dir_;
    std::unique_ptr<player_test::OwnerWindow> owner_;
    std::string first_, second_;
};

TEST_F(PlayerDialog, TwoFilesTwoWindowsExitClosesTheSecondAndTheFirstGoesWithTheDialog)
{
    HWND first = nullptr, second = nullptr;
    INT_PTR result = runPlayer([&](HWND dialog, QDialog& widget) {
        openFile(dialog, kt::chooseFile(first_));
        first = hwndMci;
        ASSERT_TRUE(IsWindow(first));
        EXPECT_EQ(title(first), first_) << "the title is the full path";
        EXPECT_EQ(widgetFromHandle(first)->parentWidget(), &widget) << "owned by the player";
        EXPECT_TRUE(mediaControl(first)->isOpen());

        openFile(dialog, kt::chooseFile(second_));
        second = hwndMci;
        ASSERT_TRUE(IsWindow(second));
        EXPECT_NE(second, first);
        EXPECT_EQ(title(second), second_);
        EXPECT_EQ(mediaWindowsOf(&widget), 2);

        click(dialog, IDBACK);
        EXPECT_FALSE(IsWindow(second)) << "Exit closes the window opened last";
        EXPECT_TRUE(IsWindow(first)) << "the first one is not closed by Exit itself";
    });
    EXPECT_EQ(result, 0);
    QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
    EXPECT_FALSE(IsWindow(first)) << "it goes with the dialog";
}

TEST_F(PlayerDialog, ACancelledChoiceOpensNothing)
{
    INT_PTR result = runPlayer([&](HWND dialog, QDialog& widget) {
        openFile(dialog, kt::cancel());
        EXPECT_EQ(hwndMci, nullptr);
        EXPECT_EQ(mediaWindowsOf(&widget), 0);

        openFile(dialog, kt::chooseFile(first_));
        HWND opened = hwndMci;
        openFile(dialog, kt::cancel());
        EXPECT_EQ(hwndMci, opened) << "the last window stays the one Exit closes";
        EXPECT_EQ(mediaWindowsOf(&widget), 1);
        widget.close();  // the close box
    });
    EXPECT_EQ(result, 0);
}

TEST_F(PlayerDialog, EscapeAndOtherCommandsLeaveItOpenTheCloseBoxEndsIt)
{
    HWND opened = nullptr;
    INT_PTR result = runPlayer([&](HWND dialog, QDialog& widget) {
        QTest::keyClick(&widget, Qt::Key_Escape);
        EXPECT_TRUE(widget.isVisible()) << "Escape is command 2, which the player leaves alone";
        EXPECT_EQ(Videoplayer(dialog, WM_COMMAND, MAKEWPARAM(IDCANCEL, BN_CLICKED), 0), FALSE);
        EXPECT_EQ(Videoplayer(dialog, WM_COMMAND, MAKEWPARAM(603, BN_CLICKED), 0), FALSE);
        EXPECT_EQ(Videoplayer(dialog, WM_TIMER, 1, 0), FALSE);
        EXPECT_TRUE(widget.isVisible());

        openFile(dialog, kt::chooseFile(first_));
        opened = hwndMci;
        widget.close();
    });
    EXPECT_EQ(result, 0);
    QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
    EXPECT_FALSE(IsWindow(opened)) << "the close box takes the media windows too";
}

TEST_F(PlayerDialog, ExitAfterTheLastWindowWasClosedByItsOwnCloseBox)
{
    runPlayer([&](HWND dialog, QDialog&) {
        openFile(dialog, kt::chooseFile(first_));
        widgetFromHandle(hwndMci)->close();
        EXPECT_FALSE(IsWindow(hwndMci));
        click(dialog, IDBACK);
    });
    // A later showing: hwndMci names a window long gone, and Exit only ends the dialog.
    EXPECT_EQ(runPlayer([&](HWND dialog, QDialog&) { click(dialog, IDBACK); }), 0);
}

TEST_F(PlayerDialog, ARecordingPlaysAtItsRate)
{
    kt::scriptModal([&](QDialog& dialog, const ModalInfo&) {
        HWND hdlg = handleFromWidget(&dialog);
        openFile(hdlg, kt::chooseFile(first_));
        auto* media = mediaControl(hwndMci);
        ASSERT_NE(media, nullptr);
        media->play();
        kt::advanceClock(1000);
        EXPECT_EQ(media->position(), 10) << "10 frames in a second of a 10 fps recording";
        media->seek(media->length() - 1);
        EXPECT_EQ(media->position(), 19);
        EXPECT_TRUE(media->waitForPicture(5000));
        EXPECT_EQ(player_test::stampOnScreen(hwndMci, 320, 240), 20u);
        click(hdlg, IDBACK);
    });
    EXPECT_EQ(cmdplayer(owner_->handle()), TRUE);
    EXPECT_EQ(kt::pendingModalScripts(), 0u);
}

}  // namespace
