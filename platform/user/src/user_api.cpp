// The USER functions over the handle table: messages, dialog items, text, state, focus, and
// wsprintfA. Each follows what Windows does for the same call.
#include "dialog_impl.h"

#include <QApplication>
#include <QPointer>
#include <QWidget>

#include <algorithm>
#include <cstdarg>
#include <cstdio>
#include <cstring>
#include <string>

using kelvra::platform::Control;
using kelvra::platform::Dialog;
using kelvra::platform::Window;
using kelvra::platform::handleFromWidget;
using kelvra::platform::widgetFromHandle;
using kelvra::platform::windowFromHandle;
using kelvra::platform::windowFromWidget;

namespace {

// ShowWindow commands beyond those the headers name.
constexpr int kShowMinimized = 2;
constexpr int kShowMaximized = 3;
constexpr int kMinimize = 6;
constexpr int kShowMinNoActive = 7;
constexpr int kShowNa = 8;
constexpr int kShowNoActivate = 4;
// wsprintfA never writes more than this, terminating NUL included.
constexpr size_t kWsprintfLimit = 1024;

// A disabled top-level window keeps its look (Windows does not grey a disabled window's
// controls) but takes no mouse or keyboard input; this filter drops that input.
constexpr const char* kDisabledProperty = "kelvra.disabled";

class InputBlocker : public QObject {
protected:
    bool eventFilter(QObject* watched, QEvent* event) override
    {
        switch (event->type()) {
        case QEvent::MouseButtonPress:
        case QEvent::MouseButtonRelease:
        case QEvent::MouseButtonDblClick:
        case QEvent::KeyPress:
        case QEvent::KeyRelease:
        case QEvent::Wheel:
        case QEvent::ShortcutOverride:
            if (watched->isWidgetType()) {
                QWidget* top = static_cast<QWidget*>(watched)->window();
                if (top->property(kDisabledProperty).toBool())
                    return true;
            }
            break;
        default:
            break;
        }
        return QObject::eventFilter(watched, event);
    }
};

void installInputBlocker()
{
    static QPointer<InputBlocker> blocker;
    if (!blocker && qApp) {
        blocker = new InputBlocker;
        blocker->setParent(qApp);
        qApp->installEventFilter(blocker);
    }
}

// The handle of a widget or of the nearest ancestor that has one.
HWND handleOfWidgetOrAncestor(QWidget* w)
{
    for (; w; w = w->parentWidget())
        if (HWND h = handleFromWidget(w))
            return h;
    return nullptr;
}

bool isOwnedBy(QWidget* w, QWidget* owner)
{
    for (QWidget* p = w ? w->parentWidget() : nullptr; p; p = p->parentWidget())
        if (p == owner)
            return true;
    return false;
}

// The top-level window that has the user's attention: the active window when the platform
// reports one, else the innermost modal dialog, else the newest visible dialog.
QWidget* attentionWindow()
{
    if (QWidget* active = QApplication::activeWindow())
        return active;
    const auto& stack = kelvra::platform::modalDialogStack();
    if (!stack.empty())
        return widgetFromHandle(stack.back());
    std::vector<HWND> live = kelvra::platform::liveDialogs();
    for (auto it = live.rbegin(); it != live.rend(); ++it) {
        QWidget* w = widgetFromHandle(*it);
        if (w && w->isVisible())
            return w;
    }
    return nullptr;
}

// Child windows of a dialog: its template's controls first, then other children (a capture
// window made later), as GetDlgItem looks through them.
std::vector<Window*> childWindows(HWND hDlg)
{
    std::vector<Window*> out;
    Window* parent = windowFromHandle(hDlg);
    if (!parent || !parent->widget())
        return out;
    if (Dialog* d = kelvra::platform::dialogFromHandle(hDlg))
        for (HWND h : d->items())
            out.push_back(windowFromHandle(h));
    for (QObject* o : parent->widget()->children()) {
        if (!o->isWidgetType() || static_cast<QWidget*>(o)->isWindow())
            continue;
        Window* w = windowFromWidget(static_cast<QWidget*>(o));
        if (w && std::find(out.begin(), out.end(), w) == out.end())
            out.push_back(w);
    }
    return out;
}

// Every window inside `w`'s widget (children and owned top-level windows), innermost last.
std::vector<HWND> windowsInside(Window* w)
{
    std::vector<HWND> out;
    if (!w->widget())
        return out;
    for (QWidget* child : w->widget()->findChildren<QWidget*>()) {
        HWND h = handleFromWidget(child);
        if (h && h != w->handle() && std::find(out.begin(), out.end(), h) == out.end())
            out.push_back(h);
    }
    return out;
}

}  // namespace

// ---- Messages ----------------------------------------------------------------------------------

LRESULT WINAPI SendMessageA(HWND hWnd, UINT Msg, WPARAM wParam, LPARAM lParam)
{
    Window* w = windowFromHandle(hWnd);
    return w ? w->message(Msg, wParam, lParam) : 0;
}

BOOL WINAPI PostMessageA(HWND hWnd, UINT Msg, WPARAM wParam, LPARAM lParam)
{
    if (!windowFromHandle(hWnd) || !qApp)
        return FALSE;
    // Delivered by whichever event loop runs next; a window gone by then gets nothing.
    QMetaObject::invokeMethod(
        qApp, [=] { SendMessageA(hWnd, Msg, wParam, lParam); }, Qt::QueuedConnection);
    return TRUE;
}

// ---- Dialog items ------------------------------------------------------------------------------

HWND WINAPI GetDlgItem(HWND hDlg, int nIDDlgItem)
{
    // The template's controls first (the frequent case, and cheap), then any other child.
    if (Dialog* d = kelvra::platform::dialogFromHandle(hDlg))
        for (HWND h : d->items())
            if (windowFromHandle(h)->controlId() == nIDDlgItem)
                return h;
    for (Window* w : childWindows(hDlg))
        if (w && w->controlId() == nIDDlgItem)
            return w->handle();
    return nullptr;
}

int WINAPI GetDlgCtrlID(HWND hWnd)
{
    Window* w = windowFromHandle(hWnd);
    return w ? w->controlId() : 0;
}

LRESULT WINAPI SendDlgItemMessageA(HWND hDlg, int nIDDlgItem, UINT Msg, WPARAM wParam,
                                   LPARAM lParam)
{
    HWND item = GetDlgItem(hDlg, nIDDlgItem);
    return item ? SendMessageA(item, Msg, wParam, lParam) : 0;
}

BOOL WINAPI SetDlgItemTextA(HWND hDlg, int nIDDlgItem, LPCSTR lpString)
{
    HWND item = GetDlgItem(hDlg, nIDDlgItem);
    return item ? static_cast<BOOL>(SendMessageA(item, WM_SETTEXT, 0, reinterpret_cast<LPARAM>(lpString)))
                : FALSE;
}

UINT WINAPI GetDlgItemTextA(HWND hDlg, int nIDDlgItem, LPSTR lpString, int cchMax)
{
    HWND item = GetDlgItem(hDlg, nIDDlgItem);
    if (!item) {
        if (lpString && cchMax > 0)
            lpString[0] = '\0';
        return 0;
    }
    return static_cast<UINT>(GetWindowTextA(item, lpString, cchMax));
}

BOOL WINAPI CheckDlgButton(HWND hDlg, int nIDButton, UINT uCheck)
{
    HWND item = GetDlgItem(hDlg, nIDButton);
    if (!item)
        return FALSE;
    SendMessageA(item, BM_SETCHECK, uCheck, 0);
    return TRUE;
}

UINT WINAPI IsDlgButtonChecked(HWND hDlg, int nIDButton)
{
    return static_cast<UINT>(SendDlgItemMessageA(hDlg, nIDButton, BM_GETCHECK, 0, 0));
}

BOOL WINAPI CheckRadioButton(HWND hDlg, int nIDFirstButton, int nIDLastButton, int nIDCheckButton)
{
    // Every child whose id lies in the range is set: checked for nIDCheckButton, else not.
    for (Window* w : childWindows(hDlg)) {
        int id = w ? w->controlId() : 0;
        if (w && id >= nIDFirstButton && id <= nIDLastButton)
            SendMessageA(w->handle(), BM_SETCHECK, id == nIDCheckButton ? BST_CHECKED : BST_UNCHECKED, 0);
    }
    return TRUE;
}

// ---- Text --------------------------------------------------------------------------------------

BOOL WINAPI SetWindowTextA(HWND hWnd, LPCSTR lpString)
{
    if (!windowFromHandle(hWnd))
        return FALSE;
    return static_cast<BOOL>(SendMessageA(hWnd, WM_SETTEXT, 0, reinterpret_cast<LPARAM>(lpString)));
}

int WINAPI GetWindowTextA(HWND hWnd, LPSTR lpString, int nMaxCount)
{
    if (!lpString || nMaxCount <= 0)
        return 0;
    lpString[0] = '\0';
    if (!windowFromHandle(hWnd))
        return 0;
    return static_cast<int>(SendMessageA(hWnd, WM_GETTEXT, static_cast<WPARAM>(nMaxCount),
                                         reinterpret_cast<LPARAM>(lpString)));
}

// ---- State -------------------------------------------------------------------------------------

BOOL WINAPI IsWindow(HWND hWnd)
{
    return windowFromHandle(hWnd) != nullptr;
}

BOOL WINAPI IsWindowVisible(HWND hWnd)
{
    QWidget* w = widgetFromHandle(hWnd);
    return w && w->isVisible();
}

BOOL WINAPI IsWindowEnabled(HWND hWnd)
{
    QWidget* w = widgetFromHandle(hWnd);
    if (!w)
        return FALSE;
    if (w->isWindow())
        return !w->property(kDisabledProperty).toBool();
    // A child's own WS_DISABLED, whatever its parent's state (Windows does not inherit it).
    return !w->testAttribute(Qt::WA_ForceDisabled);
}

BOOL WINAPI EnableWindow(HWND hWnd, BOOL bEnable)
{
    QWidget* w = widgetFromHandle(hWnd);
    if (!w)
        return FALSE;
    BOOL wasDisabled = !IsWindowEnabled(hWnd);
    if (w->isWindow()) {
        installInputBlocker();
        w->setProperty(kDisabledProperty, bEnable ? QVariant() : QVariant(true));
    } else {
        w->setEnabled(bEnable != FALSE);
    }
    return wasDisabled;
}

BOOL WINAPI ShowWindow(HWND hWnd, int nCmdShow)
{
    QWidget* w = widgetFromHandle(hWnd);
    if (!w)
        return FALSE;
    BOOL wasVisible = w->isVisible();
    switch (nCmdShow) {
    case SW_HIDE:
        w->hide();
        break;
    case kShowMinimized:
    case kMinimize:
    case kShowMinNoActive:
        w->showMinimized();
        break;
    case kShowMaximized:
        w->showMaximized();
        break;
    default:
        w->show();
        if (w->isWindow() && nCmdShow != kShowNa && nCmdShow != kShowNoActivate) {
            w->raise();
            w->activateWindow();
        }
        break;
    }
    return wasVisible;
}

BOOL WINAPI DestroyWindow(HWND hWnd)
{
    Window* w = windowFromHandle(hWnd);
    if (!w)
        return FALSE;
    // WM_DESTROY goes to the window, then to the windows inside it; then all of them go,
    // innermost first. Owned top-level windows (a player's media windows) go with their owner.
    std::vector<HWND> inside = windowsInside(w);
    SendMessageA(hWnd, WM_DESTROY, 0, 0);
    for (HWND h : inside)
        SendMessageA(h, WM_DESTROY, 0, 0);
    for (auto it = inside.rbegin(); it != inside.rend(); ++it)
        delete windowFromHandle(*it);
    delete windowFromHandle(hWnd);
    return TRUE;
}

HWND WINAPI GetParent(HWND hWnd)
{
    QWidget* w = widgetFromHandle(hWnd);
    if (!w || !w->parentWidget())
        return nullptr;
    // A child's parent, or the owner of an owned top-level window (Windows answers the owner
    // for popups).
    return handleOfWidgetOrAncestor(w->parentWidget());
}

HWND WINAPI GetActiveWindow(void)
{
    // Inside a modal dialog the active window is that dialog, unless a window the dialog owns
    // (a media window) has been activated.
    const auto& stack = kelvra::platform::modalDialogStack();
    QWidget* active = QApplication::activeWindow();
    if (!stack.empty()) {
        QWidget* modal = widgetFromHandle(stack.back());
        if (active && active != modal && isOwnedBy(active, modal))
            if (HWND h = handleFromWidget(active))
                return h;
        return stack.back();
    }
    QWidget* w = attentionWindow();
    return w ? handleOfWidgetOrAncestor(w) : nullptr;
}

// ---- Focus -------------------------------------------------------------------------------------

HWND WINAPI GetFocus(void)
{
    QWidget* f = QApplication::focusWidget();
    if (!f) {
        // No active window yet (a window just made, or the offscreen platform): the focus that
        // window will have.
        QWidget* top = attentionWindow();
        f = top ? top->focusWidget() : nullptr;
    }
    return handleOfWidgetOrAncestor(f);
}

HWND WINAPI SetFocus(HWND hWnd)
{
    HWND previous = GetFocus();
    if (!hWnd) {
        if (QWidget* f = QApplication::focusWidget())
            f->clearFocus();
        return previous;
    }
    QWidget* w = widgetFromHandle(hWnd);
    if (!w)
        return nullptr;
    w->setFocus(Qt::OtherFocusReason);
    return previous;
}

// ---- wsprintfA ---------------------------------------------------------------------------------

namespace {

// One conversion of wsprintfA: flags, width, precision, size prefix (h, l, I64) and type.
// Windows' `long` is 32 bits, so "l" reads the same int-sized argument as no prefix; with c
// and s it means UTF-16 text, as C and S do (WCHAR is 16 bits on Windows).
void formatOne(std::string& out, const char*& f, va_list& args)
{
    std::string conversion = "%";
    while (*f && std::strchr("-#0 +", *f))
        conversion += *f++;
    while (*f >= '0' && *f <= '9')
        conversion += *f++;
    if (*f == '.') {
        conversion += *f++;
        while (*f >= '0' && *f <= '9')
            conversion += *f++;
    }
    bool wide64 = false;
    bool wideText = false;  // "l" before c/s, or C/S: UTF-16 text
    bool narrowText = false;
    if (*f == 'h') {
        narrowText = true;
        ++f;
    } else if (*f == 'l') {
        wideText = true;
        ++f;
    } else if (std::strncmp(f, "I64", 3) == 0) {
        wide64 = true;
        f += 3;
    }
    char type = *f ? *f++ : '\0';
    if ((type == 'C' || type == 'S') && !narrowText)
        wideText = true;
    char buf[kWsprintfLimit];
    switch (type) {
    case 'd':
    case 'i':
        if (wide64)
            std::snprintf(buf, sizeof buf, (conversion + "lld").c_str(), va_arg(args, long long));
        else
            std::snprintf(buf, sizeof buf, (conversion + "d").c_str(), va_arg(args, int));
        break;
    case 'u':
    case 'x':
    case 'X':
        if (wide64)
            std::snprintf(buf, sizeof buf, (conversion + "ll" + type).c_str(), va_arg(args, unsigned long long));
        else
            std::snprintf(buf, sizeof buf, (conversion + type).c_str(), va_arg(args, unsigned));
        break;
    case 'c':
    case 'C': {
        int c = va_arg(args, int);
        QByteArray bytes = wideText ? QString(QChar(static_cast<char16_t>(c))).toLocal8Bit()
                                    : QByteArray(1, static_cast<char>(c));
        std::snprintf(buf, sizeof buf, (conversion + "s").c_str(), bytes.constData());
        break;
    }
    case 's':
    case 'S': {
        QByteArray bytes;
        if (wideText) {
            const char16_t* w = va_arg(args, const char16_t*);
            bytes = w ? QString::fromUtf16(w).toLocal8Bit() : QByteArray("(null)");
        } else {
            const char* s = va_arg(args, const char*);
            bytes = s ? QByteArray(s) : QByteArray("(null)");
        }
        std::snprintf(buf, sizeof buf, (conversion + "s").c_str(), bytes.constData());
        break;
    }
    case 'p':
        std::snprintf(buf, sizeof buf, "%p", va_arg(args, void*));
        break;
    default:
        // Windows copies an unknown conversion character as it is.
        buf[0] = type;
        buf[1] = '\0';
        break;
    }
    out += buf;
}

}  // namespace

int WINAPI wsprintfA(LPSTR buffer, LPCSTR format, ...)
{
    if (!buffer || !format)
        return 0;
    std::string out;
    va_list args;
    va_start(args, format);
    for (const char* f = format; *f && out.size() < kWsprintfLimit;) {
        if (*f != '%') {
            out += *f++;
            continue;
        }
        ++f;
        if (*f == '%') {
            out += *f++;
            continue;
        }
        formatOne(out, f, args);
    }
    va_end(args);
    size_t n = std::min(out.size(), kWsprintfLimit - 1);
    std::memcpy(buffer, out.data(), n);
    buffer[n] = '\0';
    return static_cast<int>(n);
}
