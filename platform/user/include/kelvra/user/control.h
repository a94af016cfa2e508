// The base of every standard control (Button, Edit, Static, and the classes other modules
// register, such as the up-down control), and the window classes the dialog manager can make.
#pragma once

#include <windows.h>

#include <kelvra/user/templates.h>
#include <kelvra/user/window.h>

#include <QPointer>
#include <QRect>

#include <functional>
#include <string>

class QKeyEvent;
class QWidget;

namespace kelvra::platform {

struct ControlCreateInfo {
    const DialogItemTemplate& item;
    HWND dialog;     // the dialog the control belongs to
    HWND previous;   // the control made just before it in template order, or null
    QWidget* parent; // the dialog's client area
    QRect rect;      // pixels, in the parent's coordinates
};

// A child window of a dialog made from a template item. It owns its widget: destroying the
// Control hides the widget and deletes it once the event loop is back (it may be in the middle
// of one of the widget's own event handlers).
class Control : public Window {
public:
    ~Control() override;

    QWidget* widget() const override;
    int controlId() const override { return id_; }
    HWND dialog() const { return dialog_; }
    DWORD style() const { return style_; }
    DWORD exStyle() const { return exStyle_; }
    // The window class the template named (GetClassName on Windows).
    const std::string& className() const { return className_; }
    void setStyleBits(DWORD bits, bool on);

    // WM_SETTEXT, WM_GETTEXT, WM_GETTEXTLENGTH through text()/setText().
    LRESULT message(UINT msg, WPARAM wParam, LPARAM lParam) override;

    // The dialog manager asks these for the keyboard interface (WM_GETDLGCODE on Windows).
    virtual bool isPushButton() const { return false; }
    virtual bool isAutoRadioButton() const { return false; }

protected:
    explicit Control(const ControlCreateInfo& info);
    void setWidget(QWidget* widget);  // places it at the template's rectangle
    virtual std::string text() const { return {}; }
    virtual void setText(const std::string& text) {}
    // WM_COMMAND(MAKEWPARAM(id, code), hwnd) to the dialog. The control may be destroyed
    // by the time this returns: callers must not touch members afterwards unless
    // windowFromHandle(handle) still answers.
    void notifyParent(WORD code);

private:
    QPointer<QWidget> widget_;
    HWND dialog_;
    int id_;
    DWORD style_;
    DWORD exStyle_;
    std::string className_;
    QRect rect_;
};

// Window classes the dialog manager can make from templates; names compare case-insensitively
// as Windows class names do. Button, Edit and Static are built in; other modules register
// theirs (the common controls library registers msctls_updown32).
using ControlFactory = std::function<Control*(const ControlCreateInfo&)>;
void registerControlClass(const std::string& className, ControlFactory factory);

// The dialog manager's keys, for a control's widget to pass on: Enter, Escape and the arrows
// that the control does not use itself. Returns true when the dialog took the key.
bool forwardDialogKey(HWND control, QKeyEvent* event);

}  // namespace kelvra::platform
