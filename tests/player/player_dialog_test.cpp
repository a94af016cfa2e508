// The player dialog's procedure run modally from its template, with the chooser answered by
// script: media windows per file, Exit, the close box, a cancelled choice and Escape.
#include "kelvra.h"
#include "recording.h"

#include <kelvra/mciwnd/media_window.h>

#include <QApplication>
#include <QDialog>
#include <QPainter>
#include <QTest>

#include <functional>

namespace {

using namespace player_test;
using kelvra::mciwnd::mediaControl;
using kelvra::platform::handleFromWidget;
using kelvra::platform::ModalInfo;
using kelvra::platform::ModalKind;
using kelvra::platform::widgetFromHandle;

using Inside = std::function<void(HWND dialog, QDialog& widget)>;

class PlayerDialog : public PlayerFixture {
protected:
    void SetUp() override
    {
        PlayerFixture::SetUp();
        kt::enableScriptedModals();
        hInst = GetModuleHandleA(nullptr);
        hwndMci = nullptr;
        first_ = recording("first.avi");
        second_ = recording("second.avi");
    }
    void TearDown() override
    {
        EXPECT_TRUE(kt::unscriptedModals().empty()) << "a modal window opened without an answer";
        EXPECT_TRUE(kt::timedOutModals().empty());
        EXPECT_EQ(kt::pendingModalScripts(), 0u) << "scripted answers left unused";
        PlayerFixture::TearDown();
        kt::clearModalScripts();
        kt::disableScriptedModals();
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
            count += child->isWindow() && mediaControl(handleFromWidget(child));
        return count;
    }

    std::string first_, second_;
};

TEST_F(PlayerDialog, TwoFilesTwoWindowsExitClosesTheSecondAndTheFirstGoesWithTheDialog)
{
    HWND first = nullptr, second = nullptr;
    INT_PTR result = runPlayer([&](HWND dialog, QDialog& widget) {
        openFile(dialog, kt::chooseFile(first_));
        first = hwndMci;
        ASSERT_TRUE(IsWindow(first));
        EXPECT_EQ(titleOf(first), first_) << "the title is the full path";
        EXPECT_EQ(widgetFromHandle(first)->parentWidget(), &widget) << "owned by the player";
        EXPECT_TRUE(mediaControl(first)->isOpen());

        openFile(dialog, kt::chooseFile(second_));
        second = hwndMci;
        ASSERT_TRUE(IsWindow(second));
        EXPECT_NE(second, first);
        EXPECT_EQ(titleOf(second), second_);
        EXPECT_EQ(mediaWindowsOf(&widget), 2);

        click(dialog, IDBACK);
        EXPECT_FALSE(IsWindow(second)) << "Exit closes the window opened last";
        EXPECT_TRUE(IsWindow(first)) << "the first one is not closed by Exit itself";
    });
    EXPECT_EQ(result, 0);
    QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
    EXPECT_FALSE(IsWindow(first)) << "it goes with the dialog";
}

TEST_F(PlayerDialog, EscapeAndACancelledChoiceChangeNothingTheCloseBoxEndsIt)
{
    HWND opened = nullptr;
    INT_PTR result = runPlayer([&](HWND dialog, QDialog& widget) {
        QTest::keyClick(&widget, Qt::Key_Escape);
        EXPECT_TRUE(widget.isVisible()) << "Escape is command 2, which the player leaves alone";
        EXPECT_EQ(Videoplayer(dialog, WM_COMMAND, MAKEWPARAM(IDCANCEL, BN_CLICKED), 0), FALSE);
        EXPECT_EQ(Videoplayer(dialog, WM_COMMAND, MAKEWPARAM(603, BN_CLICKED), 0), FALSE);
        EXPECT_EQ(Videoplayer(dialog, WM_TIMER, 1, 0), FALSE);
        EXPECT_TRUE(widget.isVisible());

        openFile(dialog, kt::cancel());
        EXPECT_EQ(hwndMci, nullptr);
        EXPECT_EQ(mediaWindowsOf(&widget), 0);
        openFile(dialog, kt::chooseFile(first_));
        opened = hwndMci;
        openFile(dialog, kt::cancel());
        EXPECT_EQ(hwndMci, opened) << "the last window stays the one Exit closes";
        EXPECT_EQ(mediaWindowsOf(&widget), 1);
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

// Offscreen windows have no frame, so the composed picture draws a plain title bar above each.
QImage withTitleBars(const std::vector<QWidget*>& windows)
{
    constexpr int kTitleBar = 22;
    constexpr int kMargin = 16;
    QRect area;
    for (QWidget* w : windows)
        area |= w->geometry().adjusted(0, -kTitleBar, 0, 0);
    area.adjust(-kMargin, -kMargin, kMargin, kMargin);
    QImage canvas(area.size(), QImage::Format_RGB32);
    canvas.fill(QColor(58, 110, 165));
    QPainter painter(&canvas);
    painter.setPen(Qt::white);
    for (QWidget* w : windows) {
        QPoint at = w->geometry().topLeft() - area.topLeft();
        QRect bar(at.x(), at.y() - kTitleBar, w->width(), kTitleBar);
        painter.fillRect(bar, QColor(0, 0, 128));
        painter.drawText(bar.adjusted(6, 0, -6, 0), Qt::AlignVCenter | Qt::AlignLeft, w->windowTitle());
        painter.drawImage(at, w->grab().toImage());
    }
    return canvas;
}

using PlayerPictures = PlayerDialog;

// The player as its menu command opens it, playing a recording at the recording's own rate.
TEST_F(PlayerPictures, ThePlayerWithAMediaWindowShowingARecording)
{
    std::string garden = recording("garden.avi", {.frames = 40});
    kt::scriptModal([&](QDialog& widget, const ModalInfo&) {
        HWND dialog = handleFromWidget(&widget);
        openFile(dialog, kt::chooseFile(garden));
        auto* media = mediaControl(hwndMci);
        ASSERT_NE(media, nullptr);
        media->play();
        kt::advanceClock(1000);
        EXPECT_EQ(media->position(), 10) << "10 frames in a second of a 10 fps recording";
        kt::advanceClock(200);
        media->stop();
        EXPECT_EQ(shownStamp(hwndMci), 13u);
        QWidget* window = widgetFromHandle(hwndMci);
        saveShot(widget.grab().toImage(), "player.png");
        saveShot(window->grab().toImage(), "media-window.png");
        saveShot(withTitleBars({&widget, window}), "player-with-media-window.png");
        media->seek(media->length() - 1);
        EXPECT_EQ(media->position(), 39);
        EXPECT_EQ(shownStamp(hwndMci), 40u);
        click(dialog, IDBACK);
    });
    EXPECT_EQ(cmdplayer(owner_->handle()), TRUE);
    HWND broken = open(path("missing.avi"));
    saveShot(withTitleBars({widgetFromHandle(broken)}), "media-window-no-device.png");
    SendMessageA(broken, WM_CLOSE, 0, 0);
}

}  // namespace
