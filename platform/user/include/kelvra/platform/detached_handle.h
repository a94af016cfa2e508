// The handle-table entry of a top-level window, kept apart from its widget so that WM_CLOSE
// ends the handle at once (IsWindow turns FALSE, as after DestroyWindow) even when the widget
// itself can only be deleted once its own event handler has returned. Deleting the handle
// (DestroyWindow of the window or of its owner) destroys the widget.
#pragma once

#include <kelvra/platform/window.h>

namespace kelvra::platform {

class DetachedHandle : public Window {
public:
    // The widget side, holding the handle (for example in a std::unique_ptr).
    class Owner {
    public:
        // WM_CLOSE (and the widget's own close box): detach() and delete the handle, so the
        // window is gone for the handle table at once, then let the widget follow.
        virtual void destroyWindow() = 0;
        // The handle is being deleted from outside (DestroyWindow): let go of it without
        // deleting it again, and let the widget follow.
        virtual void handleDeleted() = 0;

    protected:
        virtual ~Owner() = default;
    };

    DetachedHandle(QWidget* widget, Owner* owner) : widget_(widget), owner_(owner) {}
    ~DetachedHandle() override;
    QWidget* widget() const override { return widget_; }
    LRESULT message(UINT msg, WPARAM wParam, LPARAM lParam) override;
    void detach() { widget_ = nullptr; owner_ = nullptr; }

private:
    QWidget* widget_;
    Owner* owner_;
};

}  // namespace kelvra::platform
