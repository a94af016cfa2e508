// The exported entry points of the capture library.
#include "capture_window.h"

#include <kelvra/media/source.h>
#include <kelvra/user/window.h>

#include <vfw.h>

#include <algorithm>
#include <cstring>

using kelvra::avicap::CaptureWindow;

namespace {

void copyDriverText(const std::string& text, LPSTR out, int size)
{
    if (!out || size <= 0)
        return;
    const size_t n = std::min<size_t>(text.size(), size_t(size) - 1);
    std::memcpy(out, text.data(), n);
    out[n] = '\0';
}

}  // namespace

HWND WINAPI capCreateCaptureWindowA(LPCSTR lpszWindowName, DWORD dwStyle, int x, int y, int nWidth, int nHeight,
                                    HWND hwndParent, int nID)
{
    QWidget* parent = nullptr;
    if (hwndParent) {
        parent = kelvra::platform::widgetFromHandle(hwndParent);
        if (!parent)
            return nullptr;  // like CreateWindowEx with a stale parent handle
    }
    // The child identifier only means something for a child window, as on Windows.
    auto* window = new CaptureWindow(parent, parent ? nID : 0);
    window->setWindowTitle(QString::fromLocal8Bit(lpszWindowName ? lpszWindowName : ""));
    // A child's position is in pixels of its parent's client area; a top-level one's on the screen.
    window->setGeometry(x, y, std::max(0, nWidth), std::max(0, nHeight));
    if (dwStyle & WS_VISIBLE)
        window->show();
    return window->handle();
}

BOOL WINAPI capGetDriverDescriptionA(UINT wDriverIndex, LPSTR lpszName, int cbName, LPSTR lpszVer, int cbVer)
{
    const std::vector<kelvra::media::DriverInfo> drivers = kelvra::media::installedDrivers();
    if (wDriverIndex >= drivers.size())
        return FALSE;
    copyDriverText(drivers[wDriverIndex].name, lpszName, cbName);
    copyDriverText(drivers[wDriverIndex].version, lpszVer, cbVer);
    return TRUE;
}
