#include "timer_queue.h"

#include <algorithm>
#include <utility>

namespace kelvra::platform {

uint32_t TimerQueue::effectivePeriod(UINT elapseMs)
{
    // Windows raises anything below USER_TIMER_MINIMUM, 0 included, to the minimum.
    return std::max<uint32_t>(elapseMs, USER_TIMER_MINIMUM);
}

TimerEntry* TimerQueue::find(HWND hwnd, UINT_PTR id)
{
    for (TimerEntry& e : entries_)
        if (e.hwnd == hwnd && e.id == id)
            return &e;
    return nullptr;
}

bool TimerQueue::contains(HWND hwnd, UINT_PTR id) const
{
    return std::any_of(entries_.begin(), entries_.end(),
                       [&](const TimerEntry& e) { return e.hwnd == hwnd && e.id == id; });
}

void TimerQueue::set(HWND hwnd, UINT_PTR id, UINT elapseMs, TIMERPROC proc, uint64_t nowMs)
{
    TimerEntry* e = find(hwnd, id);
    if (!e) {
        entries_.push_back(TimerEntry{});
        e = &entries_.back();
        e->hwnd = hwnd;
        e->id = id;
    }
    // Same window and id: the old timer is replaced and its period counts from now.
    e->proc = proc;
    e->periodMs = effectivePeriod(elapseMs);
    e->startMs = nowMs;
    e->dueMs = nowMs + e->periodMs;
    e->serial = nextSerial_++;
}

bool TimerQueue::kill(HWND hwnd, UINT_PTR id)
{
    auto it = std::find_if(entries_.begin(), entries_.end(),
                           [&](const TimerEntry& e) { return e.hwnd == hwnd && e.id == id; });
    if (it == entries_.end())
        return false;
    entries_.erase(it);
    return true;
}

void TimerQueue::removeIf(const std::function<bool(const TimerEntry&)>& doomed)
{
    entries_.erase(std::remove_if(entries_.begin(), entries_.end(), doomed), entries_.end());
}

const TimerEntry* TimerQueue::earliest() const
{
    const TimerEntry* best = nullptr;
    for (const TimerEntry& e : entries_)
        if (!best || e.dueMs < best->dueMs || (e.dueMs == best->dueMs && e.serial < best->serial))
            best = &e;
    return best;
}

std::optional<uint64_t> TimerQueue::earliestDue() const
{
    const TimerEntry* e = earliest();
    return e ? std::optional<uint64_t>(e->dueMs) : std::nullopt;
}

std::optional<TimerEntry> TimerQueue::takeDue(uint64_t untilMs, uint64_t nowMs)
{
    const TimerEntry* found = earliest();
    if (!found || found->dueMs > untilMs)
        return std::nullopt;
    TimerEntry* e = find(found->hwnd, found->id);
    TimerEntry tick = *e;
    // Next grid point strictly after the moment of delivery: ticks missed meanwhile collapse
    // into this one, and the grid itself never moves.
    const uint64_t fireMs = std::max(e->dueMs, nowMs);
    const uint64_t periods = (fireMs - e->startMs) / e->periodMs + 1;
    e->dueMs = e->startMs + periods * e->periodMs;
    return tick;
}

UINT_PTR TimerQueue::freshThreadTimerId()
{
    while (nextThreadId_ == 0 || find(nullptr, nextThreadId_))
        ++nextThreadId_;
    return nextThreadId_++;
}

int TimerScheduler::wakeDelayMs(uint64_t nowMs, uint64_t dueMs)
{
    if (dueMs <= nowMs)
        return 0;
    return static_cast<int>(std::min<uint64_t>(dueMs - nowMs, kLongestWaitMs));
}

TimerScheduler::TimerScheduler(TimerClock* clock, TimerAlarm* alarm, Fire fire)
    : clock_(clock), alarm_(alarm), fire_(std::move(fire))
{
}

void TimerScheduler::reset(TimerClock* clock, TimerAlarm* alarm)
{
    if (alarm_)
        alarm_->disarm();
    queue_.clear();
    clock_ = clock;
    alarm_ = alarm;
}

void TimerScheduler::set(HWND hwnd, UINT_PTR id, UINT elapseMs, TIMERPROC proc)
{
    queue_.set(hwnd, id, elapseMs, proc, clock_->nowMs());
    rearm();
}

bool TimerScheduler::kill(HWND hwnd, UINT_PTR id)
{
    const bool killed = queue_.kill(hwnd, id);
    rearm();
    return killed;
}

void TimerScheduler::rearm()
{
    if (!alarm_)
        return;
    if (std::optional<uint64_t> due = queue_.earliestDue())
        alarm_->arm(wakeDelayMs(clock_->nowMs(), *due));
    else
        alarm_->disarm();
}

void TimerScheduler::deliverUntil(uint64_t untilMs)
{
    // Nothing is held across a callback: each round looks the schedule up afresh, so callbacks
    // that kill, replace or add timers (or deliver ticks themselves) leave no stale state here.
    while (std::optional<uint64_t> due = queue_.earliestDue()) {
        if (*due > untilMs)
            break;
        clock_->reach(*due);
        std::optional<TimerEntry> tick = queue_.takeDue(untilMs, clock_->nowMs());
        if (!tick)
            break;
        const uint64_t fireMs = clock_->nowMs();
        // Armed before the callback so that a modal loop it opens goes on delivering ticks.
        rearm();
        fire_(*tick, fireMs);
    }
    rearm();
}

}  // namespace kelvra::platform
