// Pictures of the player with a media window showing a test-source recording, as a person sees
// them. Written to KELVRA_SHOTS_DIR when that is set; rendered and checked either way.
#include "kelvra.h"
#include "recording.h"

#include <kelvra/mciwnd/media_window.h>
#include <kelvra/platform/testing.h>
#include <kelvra/platform/window.h>

#include <gtest/gtest.h>

#include <QDialog>
#include <QDir>
#include <QPainter>
#include <QTemporaryDir>
#include <QTest>

#include <cstdlib>

namespace {

namespace kt = kelvra::platform::testing;
using kelvra::mciwnd::mediaControl;
using kelvra::platform::handleFromWidget;
using kelvra::platform::ModalInfo;
using kelvra::platform::widgetFromHandle;

constexpr int kTitleBar = 22;  // drawn above each window in the composed picture
constexpr int kMargin = 16;

void save(const QImage& image, const char* name)
{
    ASSERT_FALSE(image.isNull());
    if (const char* dir = std::getenv("KELVRA_SHOTS_DIR")) {
        QDir().mkpath(dir);
        EXPECT_TRUE(image.save(QDir(dir).filePath(name)));
    }
}

// The windows as they stand on the screen, each under a plain title bar with its caption.
QImage compose(const std::vector<QWidget*>& windows)
{
    QRect area;
    for (QWidget* w : windows)
        area |= w->geometry().adjusted(0, -kTitleBar, 0, 0);
    area.adjust(-kMargin, -kMargin, kMargin, kMargin);
    QImage canvas(area.size(), QImage::Format_RGB32);
    canvas.fill(QColor(58, 110, 165));
    QPainter painter(&canvas);
    for (QWidget* w : windows) {
        QPoint at = w->geometry().topLeft() - area.topLeft();
        QRect bar(at.x(), at.y() - kTitleBar, w->width(), kTitleBar);
        painter.fillRect(bar, QColor(0, 0, 128));
        painter.setPen(Qt::white);
        painter.drawText(bar.adjusted(6, 0, -6, 0), Qt::AlignVCenter | Qt::AlignLeft, w->windowTitle());
        painter.drawImage(at, w->grab().toImage());
    }
    return canvas;
}

TEST(PlayerPictures, ThePlayerWithAMediaWindowShowingARecording)
{
    QTemporaryDir dir;
    ASSERT_TRUE(dir.isValid());
    std::string file = dir.filePath("garden.avi").toStdString();
    ASSERT_EQ(player_test::makeRecording(file, {.frames = 40, .fps = 10, .width = 320, .height = 240}), "");

    kt::useVirtualClock();
    kt::enableScriptedModals();
    hInst = GetModuleHandleA(nullptr);
    player_test::OwnerWindow main;
    main.setWindowTitle("Kelvra Time-lapse V1.2");
    main.setGeometry(20, 40, 600, 300);
    main.show();
    kt::scriptModal([&](QDialog& dialog, const ModalInfo&) {
        HWND player = handleFromWidget(&dialog);
        kt::scriptModal(kt::chooseFile(file));
        QTest::mouseClick(widgetFromHandle(GetDlgItem(player, IDUP)), Qt::LeftButton);
        auto* media = mediaControl(hwndMci);
        ASSERT_NE(media, nullptr);
        media->play();
        kt::advanceClock(1200);
        media->stop();
        ASSERT_TRUE(media->waitForPicture(5000));
        EXPECT_EQ(player_test::stampOnScreen(hwndMci, 320, 240), 13u);
        QWidget* mediaWindow = widgetFromHandle(hwndMci);
        save(dialog.grab().toImage(), "player.png");
        save(mediaWindow->grab().toImage(), "media-window.png");
        save(compose({&dialog, mediaWindow}), "player-with-media-window.png");
        QTest::mouseClick(widgetFromHandle(GetDlgItem(player, IDBACK)), Qt::LeftButton);
    });
    DialogBoxParamA(hInst, MAKEINTRESOURCE(IDD_PLAYER), main.handle(), Videoplayer, 0);

    HWND broken = MCIWndCreateA(main.handle(), nullptr, WS_POPUP | WS_VISIBLE | WS_CAPTION | WS_SYSMENU | MCIWNDF_NOOPEN,
                                dir.filePath("missing.avi").toLocal8Bit().constData());
    save(compose({widgetFromHandle(broken)}), "media-window-no-device.png");
    SendMessageA(broken, WM_CLOSE, 0, 0);
    EXPECT_TRUE(kt::unscriptedModals().empty());
    kt::disableScriptedModals();
    kt::useRealClock();
}

}  // namespace
