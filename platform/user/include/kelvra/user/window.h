// The handle table behind HWND. Every window the platform makes (dialogs, controls, the capture
// window, media windows, help viewers) is a Window; SendMessageA and friends find it by handle.
// DestroyWindow sends WM_DESTROY to the window and to every window inside its widget (children
// and owned top-level windows), then deletes those Window objects, innermost first, and the
// window's own: make Windows with new, hold handles rather than pointers, and let a Window's
// destructor take care of its widget.
#pragma once

#include <windows.h>

class QWidget;

namespace kelvra::platform {

class Window {
public:
    Window(const Window&) = delete;
    Window& operator=(const Window&) = delete;
    virtual ~Window();

    HWND handle() const { return handle_; }
    virtual QWidget* widget() const = 0;

    // SendMessageA ends here. The default answers WM_SETTEXT/WM_GETTEXT/WM_GETTEXTLENGTH with
    // the widget's window title and WM_CLOSE by closing the widget; everything else gives 0.
    virtual LRESULT message(UINT msg, WPARAM wParam, LPARAM lParam);

    // The dialog item identifier (GetDlgCtrlID); 0 for top-level windows.
    virtual int controlId() const { return 0; }

protected:
    Window();  // takes a fresh handle that is never reused in this process

private:
    HWND handle_;
};

Window* windowFromHandle(HWND hwnd);   // nullptr once the window is gone
QWidget* widgetFromHandle(HWND hwnd);  // nullptr once the window is gone
Window* windowFromWidget(const QWidget* widget);  // nullptr when the widget has no handle
HWND handleFromWidget(const QWidget* widget);

}  // namespace kelvra::platform
