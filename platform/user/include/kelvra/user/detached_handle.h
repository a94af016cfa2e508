// The handle-table entry of a top-level window, kept apart from its widget so that WM_CLOSE
// ends the handle at once (IsWindow turns FALSE, as after DestroyWindow) even when the widget
// itself can only be deleted once its own event handler has returned. Deleting the handle
// (DestroyWindow of the window or of its owner) destroys the widget.
#pragma once

#include <kelvra/user/window.h>

#include <memory>

namespace kelvra::platform {

class DetachedHandle : public Window {
public:
    // The widget side: owns the handle and makes the widget follow it away.
    class Owner {
    public:
        HWND hwnd() const;
        // WM_CLOSE (and the widget's own close box): the handle goes at once, then the widget.
        void destroyWindow();
        // The handle is being deleted from outside (DestroyWindow): let go of it without
        // deleting it again, and let the widget follow.
        void handleDeleted();

    protected:
        explicit Owner(QWidget* widget);
        virtual ~Owner();
        // Last work while the handle still exists (timers to kill, decoders to stop); also
        // to be called from the widget's own destructor.
        virtual void windowGone() {}

    private:
        QWidget* widget_;
        std::unique_ptr<DetachedHandle> handle_;
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
