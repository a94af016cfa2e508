// Pictures of the help viewer, the quick reference and About, as a person sees them. Written to
// KELVRA_SHOTS_DIR when that is set; rendered and checked either way.
#include "kelvra.h"

#include <kelvra/platform/testing.h>
#include <kelvra/platform/window.h>
#include <kelvra/winhelp/help_viewer.h>

#include <gtest/gtest.h>

#include <QApplication>
#include <QDialog>
#include <QDir>

#include <cstdlib>

namespace {

namespace kt = kelvra::platform::testing;
using kelvra::platform::ModalInfo;
using kelvra::platform::widgetFromHandle;

class MainWindow : public QWidget, public kelvra::platform::Window {
public:
    QWidget* widget() const override { return const_cast<MainWindow*>(this); }
};

void save(QWidget& window, const char* name)
{
    QImage image = window.grab().toImage();
    ASSERT_FALSE(image.isNull());
    if (const char* dir = std::getenv("KELVRA_SHOTS_DIR")) {
        QDir().mkpath(dir);
        EXPECT_TRUE(image.save(QDir(dir).filePath(name)));
    }
}

TEST(HelpPictures, QuickReferenceAboutAndTheHelpViewer)
{
    kt::enableScriptedModals();
    hInst = GetModuleHandleA(nullptr);
    MainWindow main;
    main.resize(600, 300);
    main.show();
    kt::scriptModal([](QDialog& dialog, const ModalInfo&) {
        save(dialog, "quick-reference.png");
        dialog.close();
    });
    cmdquickhelp(main.handle());
    kt::scriptModal([](QDialog& dialog, const ModalInfo&) {
        save(dialog, "about.png");
        dialog.close();
    });
    cmdabout(main.handle());
    EXPECT_TRUE(kt::unscriptedModals().empty());
    kt::disableScriptedModals();

    setenv("KELVRA_HELP_DIR", KELVRA_BINARY_DIR "/help", 1);
    cmdhelp(main.handle());
    auto* viewer = kelvra::winhelp::helpViewer(HELP_FILE_PATH);
    ASSERT_NE(viewer, nullptr);
    QWidget* window = widgetFromHandle(viewer->handle());
    save(*window, "help-contents.png");
    viewer->openTopic("timing.html");
    save(*window, "help-timing.png");
    viewer->search("power cut");
    save(*window, "help-search.png");
    setenv("KELVRA_HELP_DIR", "/nonexistent-kelvra-help", 1);
    WinHelpA(main.handle(), HELP_FILE_PATH, HELP_QUIT, 0);
    cmdhelp(main.handle());
    viewer = kelvra::winhelp::helpViewer(HELP_FILE_PATH);
    ASSERT_NE(viewer, nullptr);
    save(*widgetFromHandle(viewer->handle()), "help-missing.png");
    WinHelpA(main.handle(), HELP_FILE_PATH, HELP_QUIT, 0);
    unsetenv("KELVRA_HELP_DIR");
}

}  // namespace
