// A bare window in the handle table for these tests: it records the messages sent to it.
#pragma once

#include <kelvra/user/window.h>

#include <QWidget>

#include <vector>

namespace timers_modal {

struct Sent {
    UINT msg;
    WPARAM wParam;
    LPARAM lParam;
};

class TestWindow : public kelvra::platform::Window {
public:
    QWidget* widget() const override { return const_cast<QWidget*>(&widget_); }
    LRESULT message(UINT msg, WPARAM wParam, LPARAM lParam) override
    {
        sent.push_back({msg, wParam, lParam});
        return 0;
    }
    std::vector<Sent> sent;

private:
    QWidget widget_;
};

}  // namespace timers_modal
