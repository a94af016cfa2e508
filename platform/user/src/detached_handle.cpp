#include <kelvra/platform/detached_handle.h>

namespace kelvra::platform {

DetachedHandle::~DetachedHandle()
{
    if (owner_)
        owner_->handleDeleted();
}

LRESULT DetachedHandle::message(UINT msg, WPARAM wParam, LPARAM lParam)
{
    if (msg == WM_CLOSE && owner_) {  // destroys the window, as DefWindowProc does
        owner_->destroyWindow();
        return 0;
    }
    return Window::message(msg, wParam, lParam);
}

}  // namespace kelvra::platform
