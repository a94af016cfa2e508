// The timer schedule behind SetTimer/KillTimer, apart from Qt so that it can be driven by any
// clock: the real one (a QTimer as alarm) or the virtual one of the tests.
//
// Each timer keeps its own grid: tick k is due at start + k x period, so a late tick never
// shifts the ones after it. A tick delivered late stands for every tick it missed (they
// collapse into one, as on Windows, where a window has at most one WM_TIMER pending per timer).
#pragma once

#include <windows.h>

#include <cstdint>
#include <functional>
#include <optional>
#include <vector>

namespace kelvra::platform {

struct TimerEntry {
    HWND hwnd = nullptr;
    UINT_PTR id = 0;
    TIMERPROC proc = nullptr;
    uint32_t periodMs = 0;
    uint64_t startMs = 0;  // when SetTimer armed it
    uint64_t dueMs = 0;    // next tick: startMs + k x periodMs
    uint64_t serial = 0;   // order of arming; ticks due at the same time fire in this order
};

class TimerQueue {
public:
    // Like Windows, intervals under USER_TIMER_MINIMUM run at that minimum (0 included). The
    // top is not clamped to USER_TIMER_MAXIMUM: the whole unsigned 32-bit count is honoured.
    static uint32_t effectivePeriod(UINT elapseMs);

    // Arms (hwnd, id), replacing a timer with the same key: the period restarts from nowMs.
    void set(HWND hwnd, UINT_PTR id, UINT elapseMs, TIMERPROC proc, uint64_t nowMs);
    bool kill(HWND hwnd, UINT_PTR id);
    bool contains(HWND hwnd, UINT_PTR id) const;
    void removeIf(const std::function<bool(const TimerEntry&)>& doomed);
    void clear() { entries_.clear(); }
    size_t size() const { return entries_.size(); }

    std::optional<uint64_t> earliestDue() const;
    // Takes the earliest timer due at or before untilMs and moves it on to its first grid point
    // after max(due, nowMs); returns it as it was when it fell due.
    std::optional<TimerEntry> takeDue(uint64_t untilMs, uint64_t nowMs);

    // An identifier for a new window-less timer, as SetTimer(NULL, ...) hands out.
    UINT_PTR freshThreadTimerId();

private:
    TimerEntry* find(HWND hwnd, UINT_PTR id);
    const TimerEntry* earliest() const;

    std::vector<TimerEntry> entries_;
    uint64_t nextSerial_ = 1;
    UINT_PTR nextThreadId_ = 1;
};

// The clock a schedule runs on. A virtual clock moves to a tick's due time before the tick is
// delivered; the real one is already there.
class TimerClock {
public:
    virtual ~TimerClock() = default;
    virtual uint64_t nowMs() const = 0;
    virtual void reach(uint64_t ms) { (void)ms; }
};

// What wakes the schedule up when the next tick may be due: a single-shot timer of the event
// loop. It takes int milliseconds, so long waits are made of several shorter ones.
class TimerAlarm {
public:
    virtual ~TimerAlarm() = default;
    virtual void arm(int delayMs) = 0;
    virtual void disarm() = 0;
};

class TimerScheduler {
public:
    // Longest single wait handed to the alarm. Far below INT_MAX on purpose: each wake re-reads
    // the clock, so a 49-day interval never rests on one kernel timer of weeks.
    static constexpr int kLongestWaitMs = 60 * 60 * 1000;
    static int wakeDelayMs(uint64_t nowMs, uint64_t dueMs);

    using Fire = std::function<void(const TimerEntry& tick, uint64_t fireMs)>;

    TimerScheduler(TimerClock* clock, TimerAlarm* alarm, Fire fire);

    // Switches to another clock (and alarm, null for none); every timer is dropped.
    void reset(TimerClock* clock, TimerAlarm* alarm);
    TimerClock& clock() const { return *clock_; }
    TimerQueue& queue() { return queue_; }

    void set(HWND hwnd, UINT_PTR id, UINT elapseMs, TIMERPROC proc);
    bool kill(HWND hwnd, UINT_PTR id);

    // Delivers, in due order, every tick due at or before untilMs. Re-entrant: a callback may
    // set or kill timers, or run a modal loop in which further ticks are delivered.
    void deliverUntil(uint64_t untilMs);
    // The alarm went off: deliver what is due now and arm for the next tick.
    void onAlarm() { deliverUntil(clock_->nowMs()); }
    // Arms the alarm for the earliest tick (or disarms it when there is none).
    void rearm();

private:
    TimerQueue queue_;
    TimerClock* clock_;
    TimerAlarm* alarm_;
    Fire fire_;
};

}  // namespace kelvra::platform
