// The timer service on its own: what one tick costs to schedule and deliver (virtual clock, one
// timer and a crowd of them), and how late ticks of the shortest interval arrive on the real
// clock, against their grid start + k x 10 ms.
#include <windows.h>

#include <kelvra/user/testing.h>

#include <QApplication>
#include <QElapsedTimer>

#include <algorithm>
#include <chrono>
#include <cstdio>

namespace kt = kelvra::platform::testing;

namespace {

constexpr int kVirtualTicks = 1000000;
constexpr int kCrowd = 64;
constexpr int kRealTicks = 300;
constexpr UINT kShortestMs = USER_TIMER_MINIMUM;

long ticks;

VOID CALLBACK countTick(HWND, UINT, UINT_PTR, DWORD)
{
    ++ticks;
}

// Nanoseconds per delivered tick with `timers` timers of 10 ms running on the virtual clock.
double virtualTickCostNs(int timers)
{
    kt::useVirtualClock();
    for (int i = 0; i < timers; ++i)
        SetTimer(nullptr, 0, kShortestMs, countTick);
    ticks = 0;
    QElapsedTimer elapsed;
    elapsed.start();
    kt::advanceClock(uint64_t(kVirtualTicks / timers) * kShortestMs);
    const double ns = double(elapsed.nsecsElapsed());
    kt::useVirtualClock();
    return ns / double(std::max(ticks, 1L));
}

// The grid starts at the service's own clock reading (whole milliseconds of the monotonic
// clock) when SetTimer is called; lateness is measured on that same clock, in nanoseconds.
uint64_t gridStartMs;
double worstLateMs;
long lastGridIndex;

// Lateness against the latest grid point passed; a tick later than a whole period stands for
// the ones it collapsed, counted as missed.
VOID CALLBACK realTick(HWND, UINT, UINT_PTR id, DWORD)
{
    ++ticks;
    const double nowMs = std::chrono::duration<double, std::milli>(
                             std::chrono::steady_clock::now().time_since_epoch()).count();
    const double sinceStartMs = nowMs - double(gridStartMs);
    lastGridIndex = long(sinceStartMs / kShortestMs);
    worstLateMs = std::max(worstLateMs, sinceStartMs - double(lastGridIndex) * kShortestMs);
    if (ticks == kRealTicks) {
        KillTimer(nullptr, id);
        QApplication::quit();
    }
}

}  // namespace

int main(int argc, char** argv)
{
    QApplication app(argc, argv);
    std::printf("timer_virtual_tick_ns: %.1f ns\n", virtualTickCostNs(1));
    std::printf("timer_virtual_tick_ns_64_timers: %.1f ns\n", virtualTickCostNs(kCrowd));

    kt::useRealClock();
    ticks = 0;
    gridStartMs = kt::clockNowMs();
    SetTimer(nullptr, 0, kShortestMs, realTick);
    QApplication::exec();
    std::printf("timer_10ms_late_max: %.2f ms\n", worstLateMs);
    std::printf("timer_10ms_missed: %ld ticks\n", lastGridIndex - kRealTicks);
    return 0;
}
