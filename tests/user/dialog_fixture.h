// Dialogs made from the program's templates with a procedure that records what it is sent.
#pragma once

#include <windows.h>
#include <commctrl.h>

#include <kelvra/user/templates.h>
#include <kelvra/user/dialog_units.h>
#include <kelvra/user/testing.h>
#include <kelvra/user/window.h>

#include <gtest/gtest.h>

#include <QApplication>
#include <QImage>
#include <QTest>
#include <QWidget>

#include <algorithm>
#include <string>
#include <vector>

namespace kt = kelvra::platform::testing;
using kelvra::platform::DialogItemTemplate;
using kelvra::platform::DialogTemplate;
using kelvra::platform::mulDiv;
using kelvra::platform::widgetFromHandle;
using Commands = std::vector<std::pair<int, int>>;  // (id, notification code)

struct Sent { UINT msg; WPARAM wParam; LPARAM lParam; };

// What the recording procedure answers.
struct ProcBehaviour {
    INT_PTR initDialog = TRUE;  // answer to WM_INITDIALOG
    BOOL handleClose = TRUE;    // WM_CLOSE handled (TRUE) or left to the dialog manager
    int endOnCommand = -1;      // this command id ends the dialog; 0: WM_INITDIALOG does
    INT_PTR endResult = 0;
    bool destroy = false;       // end it with DestroyWindow rather than EndDialog
};

inline std::vector<Sent> sentLog;
inline ProcBehaviour behaviour;

inline INT_PTR CALLBACK recordingProc(HWND hwnd, UINT msg, WPARAM wParam, LPARAM lParam)
{
    sentLog.push_back({msg, wParam, lParam});
    const ProcBehaviour b = behaviour;
    bool end = msg == WM_INITDIALOG ? b.endOnCommand == 0 : msg == WM_COMMAND && LOWORD(wParam) == b.endOnCommand;
    if (end)
        b.destroy ? DestroyWindow(hwnd) : EndDialog(hwnd, b.endResult);
    return msg == WM_INITDIALOG ? b.initDialog : msg == WM_CLOSE ? b.handleClose : end;
}

// Pixels inside `r` that differ from `background`.
inline int inkIn(const QImage& image, const QRect& r, QRgb background)
{
    int ink = 0;
    for (int y = r.top(); y <= r.bottom(); ++y)
        for (int x = r.left(); x <= r.right(); ++x)
            ink += image.pixel(x, y) != background;
    return ink;
}

// Modal windows answer scripts, so no test can hang on one.
class DialogTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        InitCommonControls();
        kt::enableScriptedModals();
        sentLog.clear();
        behaviour = ProcBehaviour{};
    }
    void TearDown() override
    {
        for (auto it = created_.rbegin(); it != created_.rend(); ++it)
            if (IsWindow(*it))
                DestroyWindow(*it);
        QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
        QCoreApplication::processEvents();
        EXPECT_TRUE(kt::unscriptedModals().empty());
        EXPECT_TRUE(kt::timedOutModals().empty());
        kt::disableScriptedModals();
    }
    HWND create(int id, HWND owner = nullptr)
    {
        return created_.emplace_back(
            CreateDialogParamA(GetModuleHandleA(nullptr), MAKEINTRESOURCE(id), owner, recordingProc, 0));
    }
    // Makes `id` the active window as `dlg`, with nothing logged yet.
    void open(int id)
    {
        ASSERT_TRUE(IsWindow(dlg = create(id)));
        widgetFromHandle(dlg)->show();
        widgetFromHandle(dlg)->activateWindow();
        ASSERT_TRUE(QTest::qWaitForWindowActive(widgetFromHandle(dlg)));
        sentLog.clear();
    }
    std::string text(int id) const
    {
        char buffer[512] = {};
        GetDlgItemTextA(dlg, id, buffer, sizeof buffer);
        return buffer;
    }
    QWidget* item(int id, HWND from = nullptr) const { return widgetFromHandle(GetDlgItem(from ? from : dlg, id)); }
    void focus(int id) const { SetFocus(GetDlgItem(dlg, id)); }
    // A key to the focused control; answers the id of the control focused afterwards.
    static int key(Qt::Key k)
    {
        QTest::keyClick(QApplication::focusWidget(), k);
        return GetDlgCtrlID(GetFocus());
    }
    std::vector<int> checked(int first, int last) const
    {
        std::vector<int> on;
        for (int id = first; id <= last; ++id)
            if (IsDlgButtonChecked(dlg, id) == BST_CHECKED)
                on.push_back(id);
        return on;
    }
    static Commands commands()
    {
        Commands out;
        for (const Sent& s : sentLog)
            if (s.msg == WM_COMMAND)
                out.emplace_back(LOWORD(s.wParam), HIWORD(s.wParam));
        return out;
    }
    static size_t count(UINT msg)
    {
        return std::count_if(sentLog.begin(), sentLog.end(), [msg](const Sent& s) { return s.msg == msg; });
    }

    HWND dlg = nullptr;
    std::vector<HWND> created_;
};

// The main window, shown and active.
class MainDialogTest : public DialogTest {
protected:
    void SetUp() override { DialogTest::SetUp(); open(104); }
};
