// SetTimer / KillTimer over a QTimer alarm, on the platform clock (the virtual one in tests).
// Ticks are delivered by whatever Qt event loop runs, so they arrive inside every modal loop
// (dialogs, message boxes, choosers), as WM_TIMER does on Windows.
#include <windows.h>

#include <kelvra/kernel/clock.h>
#include <kelvra/user/testing.h>
#include <kelvra/user/window.h>

#include "timer_queue.h"

#include <QCoreApplication>
#include <QPointer>
#include <QTimer>

namespace kelvra::platform {

namespace {

// The schedule runs on the platform clock; on the virtual one, delivering a tick moves the
// clock on to the tick's due time (the real one is there already).
class PlatformClock : public TimerClock {
public:
    uint64_t nowMs() const override { return clock::nowMs(); }
    void reach(uint64_t ms) override
    {
        if (clock::isVirtual())
            clock::reachVirtual(ms);
    }
};

// One single-shot precise QTimer (a coarse one may be 5 % late, minutes on an hour), created on
// first use and owned by the application object so that it goes away with the event loop.
class QtAlarm : public TimerAlarm {
public:
    explicit QtAlarm(TimerScheduler** scheduler) : scheduler_(scheduler) {}

    void arm(int delayMs) override
    {
        QTimer* t = timer();
        if (t)
            t->start(delayMs);
    }
    void disarm() override
    {
        if (timer_)
            timer_->stop();
    }

private:
    QTimer* timer()
    {
        if (!timer_ && QCoreApplication::instance()) {
            timer_ = new QTimer(QCoreApplication::instance());
            timer_->setSingleShot(true);
            timer_->setTimerType(Qt::PreciseTimer);
            TimerScheduler** scheduler = scheduler_;
            QObject::connect(timer_, &QTimer::timeout, [scheduler]() { (*scheduler)->onAlarm(); });
        }
        return timer_;
    }

    TimerScheduler** scheduler_;
    QPointer<QTimer> timer_;
};

bool windowGone(HWND hwnd)
{
    return hwnd != nullptr && windowFromHandle(hwnd) == nullptr;
}

// A destroyed window takes its timers with it, as DestroyWindow does on Windows.
void dropTimersOfGoneWindows(TimerQueue& queue)
{
    queue.removeIf([](const TimerEntry& e) { return windowGone(e.hwnd); });
}

void deliverTick(const TimerEntry& tick, uint64_t fireMs);

struct TimerService {
    PlatformClock platformClock;
    TimerScheduler* self = &scheduler;
    QtAlarm alarm{&self};
    TimerScheduler scheduler{&platformClock, &alarm, deliverTick};
};

TimerService& service()
{
    static TimerService s;
    return s;
}

void deliverTick(const TimerEntry& tick, uint64_t fireMs)
{
    if (windowGone(tick.hwnd)) {
        service().scheduler.kill(tick.hwnd, tick.id);
        return;
    }
    // The callback gets the tick count of delivery, as TIMERPROC's dwTime does.
    if (tick.proc) {
        tick.proc(tick.hwnd, WM_TIMER, tick.id, static_cast<DWORD>(fireMs));
        return;
    }
    // No callback: WM_TIMER goes to the window's procedure. A window-less timer without a
    // callback has nobody to tell, as a thread message with no loop to dispatch it.
    if (Window* window = windowFromHandle(tick.hwnd))
        window->message(WM_TIMER, tick.id, 0);
}

}  // namespace

}  // namespace kelvra::platform

using kelvra::platform::dropTimersOfGoneWindows;
using kelvra::platform::service;
using kelvra::platform::windowGone;

UINT_PTR WINAPI SetTimer(HWND hWnd, UINT_PTR nIDEvent, UINT uElapse, TIMERPROC lpTimerFunc)
{
    auto& s = service();
    dropTimersOfGoneWindows(s.scheduler.queue());
    if (windowGone(hWnd))
        return 0;  // ERROR_INVALID_WINDOW_HANDLE on Windows
    UINT_PTR id = nIDEvent;
    // Window-less: an existing timer of that id is replaced, otherwise the id is ignored and a
    // new one handed out.
    if (!hWnd && (id == 0 || !s.scheduler.queue().contains(nullptr, id)))
        id = s.scheduler.queue().freshThreadTimerId();
    s.scheduler.set(hWnd, id, uElapse, lpTimerFunc);
    // With a window Windows answers non-zero: the id, or TRUE for id 0.
    return id != 0 ? id : TRUE;
}

BOOL WINAPI KillTimer(HWND hWnd, UINT_PTR uIDEvent)
{
    auto& s = service();
    dropTimersOfGoneWindows(s.scheduler.queue());
    return s.scheduler.kill(hWnd, uIDEvent) ? TRUE : FALSE;
}

namespace kelvra::platform::testing {

// The virtual clock has no alarm: its ticks come only from advanceClock.
void useVirtualClock()
{
    auto& s = service();
    clock::useVirtual();
    s.scheduler.reset(&s.platformClock, nullptr);
}

void useRealClock()
{
    auto& s = service();
    clock::useReal();
    s.scheduler.reset(&s.platformClock, &s.alarm);
}

bool virtualClockActive()
{
    return clock::isVirtual();
}

void advanceClock(uint64_t ms)
{
    if (!clock::isVirtual())
        return;
    const uint64_t target = clock::nowMs() + ms;
    service().scheduler.deliverUntil(target);
    clock::reachVirtual(target);
}

void spendClock(uint64_t ms)
{
    if (clock::isVirtual())
        clock::reachVirtual(clock::nowMs() + ms);
}

uint64_t clockNowMs()
{
    return clock::nowMs();
}

size_t activeTimers()
{
    auto& s = service();
    dropTimersOfGoneWindows(s.scheduler.queue());
    return s.scheduler.queue().size();
}

}  // namespace kelvra::platform::testing
