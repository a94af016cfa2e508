// MCIWndCreateA: the media window, over media_window.cpp.
#include "media_window.h"

#include <vfw.h>

namespace kelvra::mciwnd {

MediaControl* mediaControl(HWND hwnd)
{
    return MediaWindow::fromHandle(hwnd);
}

}  // namespace kelvra::mciwnd

// Like Windows, the window is made even when the file cannot be opened: it then says so in
// its picture area and carries the caption "No Device". The instance is not needed here.
HWND WINAPI MCIWndCreateA(HWND hwndParent, HINSTANCE hInstance, DWORD dwStyle, LPCSTR szFile)
{
    QWidget* owner = kelvra::platform::widgetFromHandle(hwndParent);
    if (owner && !(dwStyle & WS_CHILD))
        owner = owner->window();  // a popup is owned by the parent's top-level window
    auto* window = new kelvra::mciwnd::MediaWindow(owner, dwStyle, szFile ? szFile : "");
    return window->handle();
}
