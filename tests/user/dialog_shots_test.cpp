// What a person sees: each template rendered, every text-bearing control showing ink inside its
// own rectangle, and the pictures written to shots/ for a look.
#include "dialog_fixture.h"

#include <QDir>
#include <QImage>
#include <QPixmap>

namespace {

INT_PTR CALLBACK mainLikeProc(HWND hwnd, UINT msg, WPARAM, LPARAM)
{
    if (msg != WM_INITDIALOG)
        return FALSE;
    // The texts the program writes at start, so the picture looks as it will.
    SetDlgItemTextA(hwnd, 111, "OFF");
    SetDlgItemTextA(hwnd, 112, "READY");
    SetDlgItemTextA(hwnd, 20, "15");
    SetDlgItemTextA(hwnd, 128, "0");
    CheckDlgButton(hwnd, 16, BST_CHECKED);
    return TRUE;
}

INT_PTR CALLBACK plainProc(HWND, UINT msg, WPARAM, LPARAM)
{
    return msg == WM_INITDIALOG;
}

// Pixels inside `r` that differ from the dialog's background.
int inkIn(const QImage& image, const QRect& r, QRgb background)
{
    int ink = 0;
    for (int y = r.top(); y <= r.bottom(); ++y)
        for (int x = r.left(); x <= r.right(); ++x)
            ink += image.pixel(x, y) != background;
    return ink;
}

class UserShots : public DialogTest {
protected:
    QImage shoot(HWND dlg, const char* name)
    {
        QWidget* w = widgetFromHandle(dlg);
        w->show();
        QCoreApplication::processEvents();
        QImage image = w->grab().toImage().convertToFormat(QImage::Format_RGB32);
        QDir dir(QStringLiteral(KELVRA_SOURCE_DIR "/shots"));
        if (dir.exists() || QDir().mkpath(dir.path()))
            image.save(dir.filePath(QString::fromLatin1(name) + ".png"));
        return image;
    }
};

TEST_F(UserShots, EveryTextIsDrawnInsideItsControl)
{
    struct Shot {
        int id;
        const char* name;
        DLGPROC proc;
    };
    const Shot shots[] = {
        {104, "main-104", mainLikeProc},
        {200, "about-200", plainProc},
        {600, "player-600", plainProc},
        {900, "quickhelp-900", plainProc},
    };
    for (const Shot& s : shots) {
        SCOPED_TRACE(s.name);
        HWND dlg = create(s.id, nullptr, s.proc);
        ASSERT_TRUE(IsWindow(dlg));
        QImage image = shoot(dlg, s.name);
        QWidget* w = widgetFromHandle(dlg);
        ASSERT_EQ(image.size(), w->size());
        QRgb background = w->palette().window().color().rgb();
        const DialogTemplate* t = kelvra::platform::findDialogTemplate(MAKEINTRESOURCE(s.id));
        for (const DialogItemTemplate& control : t->items) {
            if (text(dlg, control.id).empty())
                continue;
            QRect r = item(dlg, control.id)->geometry();
            EXPECT_GT(inkIn(image, r.adjusted(3, 3, -3, -3), background), 10)
                << "control " << control.id << " shows no text";
        }
        DestroyWindow(dlg);
    }
}

}  // namespace
