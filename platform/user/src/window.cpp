#include <kelvra/user/window.h>

#include <QWidget>

#include <cstring>
#include <unordered_map>

namespace kelvra::platform {

namespace {

// Handles count up from a base that is never a valid pointer and are never reused, so a stale
// handle reads as "no window" (IsWindow FALSE) instead of naming a newer window.
uintptr_t nextHandle = 0x10000;
std::unordered_map<HWND, Window*>& table()
{
    static std::unordered_map<HWND, Window*> windows;
    return windows;
}

}  // namespace

Window::Window() : handle_(reinterpret_cast<HWND>(nextHandle))
{
    nextHandle += 4;
    table()[handle_] = this;
}

Window::~Window()
{
    table().erase(handle_);
}

LRESULT Window::message(UINT msg, WPARAM wParam, LPARAM lParam)
{
    QWidget* w = widget();
    if (!w)
        return 0;
    switch (msg) {
    case WM_SETTEXT:
        w->setWindowTitle(QString::fromLocal8Bit(reinterpret_cast<const char*>(lParam)));
        return TRUE;
    case WM_GETTEXT: {
        QByteArray text = w->windowTitle().toLocal8Bit();
        if (wParam == 0 || lParam == 0)
            return 0;
        size_t n = std::min<size_t>(text.size(), wParam - 1);
        std::memcpy(reinterpret_cast<char*>(lParam), text.constData(), n);
        reinterpret_cast<char*>(lParam)[n] = '\0';
        return static_cast<LRESULT>(n);
    }
    case WM_GETTEXTLENGTH:
        return w->windowTitle().toLocal8Bit().size();
    case WM_CLOSE:
        w->close();
        return 0;
    default:
        return 0;
    }
}

Window* windowFromHandle(HWND hwnd)
{
    auto it = table().find(hwnd);
    return it == table().end() ? nullptr : it->second;
}

QWidget* widgetFromHandle(HWND hwnd)
{
    Window* w = windowFromHandle(hwnd);
    return w ? w->widget() : nullptr;
}

Window* windowFromWidget(const QWidget* widget)
{
    if (!widget)
        return nullptr;
    for (auto& [handle, window] : table())
        if (window->widget() == widget)
            return window;
    return nullptr;
}

HWND handleFromWidget(const QWidget* widget)
{
    Window* w = windowFromWidget(widget);
    return w ? w->handle() : nullptr;
}

}  // namespace kelvra::platform
