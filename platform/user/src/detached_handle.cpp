#include <kelvra/user/detached_handle.h>

#include <QWidget>

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

DetachedHandle::Owner::Owner(QWidget* widget)
    : widget_(widget), handle_(std::make_unique<DetachedHandle>(widget, this))
{
}

DetachedHandle::Owner::~Owner()
{
    if (handle_)
        handle_->detach();
}

HWND DetachedHandle::Owner::hwnd() const
{
    return handle_ ? handle_->handle() : nullptr;
}

void DetachedHandle::Owner::destroyWindow()
{
    if (!handle_)
        return;
    windowGone();
    handle_->detach();
    handle_.reset();
    widget_->hide();
    widget_->deleteLater();
}

void DetachedHandle::Owner::handleDeleted()
{
    if (!handle_)
        return;
    windowGone();
    (void)handle_.release();  // it is being deleted already
    widget_->hide();
    widget_->deleteLater();
}

}  // namespace kelvra::platform
