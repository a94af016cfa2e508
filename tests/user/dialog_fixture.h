// Dialogs made from the program's templates with a procedure that records what it is sent.
#pragma once

#include <windows.h>
#include <commctrl.h>

#include <kelvra/platform/dialog.h>
#include <kelvra/platform/window.h>

#include <gtest/gtest.h>

#include <QApplication>
#include <QCoreApplication>
#include <QEvent>
#include <QWidget>

#include <array>
#include <string>
#include <vector>

using kelvra::platform::BaseUnits;
using kelvra::platform::DialogItemTemplate;
using kelvra::platform::DialogTemplate;
using kelvra::platform::widgetFromHandle;

struct Sent {
    HWND hwnd;
    UINT msg;
    WPARAM wParam;
    LPARAM lParam;
};

// What the recording procedure answers.
struct ProcBehaviour {
    INT_PTR initDialog = TRUE;   // answer to WM_INITDIALOG
    BOOL handleClose = TRUE;     // WM_CLOSE handled (TRUE) or left to the dialog manager
    int endOnCommand = -1;       // EndDialog(hwnd, endResult) on this command id
    INT_PTR endResult = 0;
    HWND focusAtInit = nullptr;  // GetFocus() as WM_INITDIALOG returns
};

inline std::vector<Sent>& sentLog()
{
    static std::vector<Sent> log;
    return log;
}

inline ProcBehaviour& behaviour()
{
    static ProcBehaviour b;
    return b;
}

inline INT_PTR CALLBACK recordingProc(HWND hwnd, UINT msg, WPARAM wParam, LPARAM lParam)
{
    sentLog().push_back({hwnd, msg, wParam, lParam});
    switch (msg) {
    case WM_INITDIALOG:
        return behaviour().initDialog;
    case WM_CLOSE:
        return behaviour().handleClose;
    case WM_COMMAND:
        if (LOWORD(wParam) == behaviour().endOnCommand) {
            EndDialog(hwnd, behaviour().endResult);
            return TRUE;
        }
        return FALSE;
    default:
        return FALSE;
    }
}

class DialogTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        InitCommonControls();
        sentLog().clear();
        behaviour() = ProcBehaviour{};
    }

    void TearDown() override
    {
        for (auto it = created_.rbegin(); it != created_.rend(); ++it)
            if (IsWindow(*it))
                DestroyWindow(*it);
        QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
        QCoreApplication::processEvents();
    }

    HWND create(int id, HWND owner = nullptr, DLGPROC proc = recordingProc, LPARAM param = 0)
    {
        HWND h = CreateDialogParamA(GetModuleHandleA(nullptr), MAKEINTRESOURCE(id), owner, proc, param);
        created_.push_back(h);
        return h;
    }

    static std::string text(HWND dlg, int id)
    {
        char buffer[512] = {};
        GetDlgItemTextA(dlg, id, buffer, sizeof buffer);
        return buffer;
    }

    static QWidget* item(HWND dlg, int id) { return widgetFromHandle(GetDlgItem(dlg, id)); }

    // The commands the procedure got, as (id, notification code) pairs.
    static std::vector<std::pair<int, int>> commands()
    {
        std::vector<std::pair<int, int>> out;
        for (const Sent& s : sentLog())
            if (s.msg == WM_COMMAND)
                out.emplace_back(LOWORD(s.wParam), HIWORD(s.wParam));
        return out;
    }

    static size_t count(UINT msg)
    {
        size_t n = 0;
        for (const Sent& s : sentLog())
            n += s.msg == msg;
        return n;
    }

    std::vector<HWND> created_;
};
