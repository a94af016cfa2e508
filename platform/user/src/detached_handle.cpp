#include <kelvra/platform/detached_handle.h>

namespace kelvra::platform {

DetachedHandle::~DetachedHandle()
{
    if (owner_)
        owner_->handleDeleted();
}

LRESULT DetachedHandle::message(UINT msg, WPARAM wParam, LPARAM lParam)
{
    if (!owner_)
        return Window::message(msg, wParam, lParam);
    if (msg == WM_CLOSE) {  // destroys the window, as DefWindowProc does
        owner_->destroyWindow();
        return 0;
    }
    LRESULT result = 0;
    if (owner_->windowMessage(msg, wParam, lParam, &result))
        return result;
    return Window::message(msg, wParam, lParam);
}

}  // namespace kelvra::platform
