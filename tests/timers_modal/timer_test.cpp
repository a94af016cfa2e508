// SetTimer/KillTimer on the virtual clock: replacement, long and short intervals, the tick grid,
// re-entrant callbacks and windows that go away.
#include <windows.h>

#include <kelvra/user/testing.h>

#include "test_window.h"

#include <gtest/gtest.h>

#include <functional>
#include <memory>

namespace kt = kelvra::platform::testing;
using timers_modal::TestWindow;

namespace {

struct Tick {
    HWND hwnd;
    UINT_PTR id;
    uint64_t at;   // virtual clock when the callback ran
    DWORD time;    // dwTime handed to the callback
};

// TIMERPROC has no user data; the tests route every tick through these globals.
std::vector<Tick> ticks;
std::function<void(HWND, UINT_PTR)> onTick;

void CALLBACK recordTick(HWND hwnd, UINT msg, UINT_PTR id, DWORD time)
{
    EXPECT_EQ(msg, static_cast<UINT>(WM_TIMER));
    ticks.push_back({hwnd, id, kt::clockNowMs(), time});
    if (onTick)
        onTick(hwnd, id);
}

using Times = std::vector<uint64_t>;

Times tickTimes(UINT_PTR id)
{
    Times times;
    for (const Tick& t : ticks)
        if (t.id == id)
            times.push_back(t.at);
    return times;
}

class TimerTest : public ::testing::Test {
protected:
    std::unique_ptr<TestWindow> window = std::make_unique<TestWindow>();
    HWND hwnd = window->handle();

    void SetUp() override
    {
        kt::useVirtualClock();
        ticks.clear();
        onTick = nullptr;
    }
    void TearDown() override
    {
        onTick = nullptr;
        kt::useVirtualClock();  // drops what a test left running
    }
};

// A timer is its window and id together: setting it again replaces it and restarts its period.
TEST_F(TimerTest, WindowAndIdNameOneTimer)
{
    EXPECT_EQ(SetTimer(hwnd, 1, 1000, recordTick), 1u);
    kt::advanceClock(700);
    EXPECT_EQ(SetTimer(hwnd, 1, 1000, recordTick), 1u);
    EXPECT_EQ(kt::activeTimers(), 1u);
    kt::advanceClock(999);
    EXPECT_TRUE(ticks.empty());
    kt::advanceClock(1);
    EXPECT_EQ(tickTimes(1), (Times{1700}));

    TestWindow other;
    SetTimer(hwnd, 2, 500, recordTick);
    SetTimer(other.handle(), 1, 500, recordTick);
    EXPECT_EQ(kt::activeTimers(), 3u);
    kt::advanceClock(500);
    EXPECT_EQ(ticks.size(), 3u);

    EXPECT_FALSE(KillTimer(hwnd, 99));
    EXPECT_FALSE(KillTimer(nullptr, 1));
    EXPECT_TRUE(KillTimer(hwnd, 1));
    EXPECT_TRUE(KillTimer(hwnd, 2));
    EXPECT_TRUE(KillTimer(other.handle(), 1));
    kt::advanceClock(1000);
    EXPECT_EQ(ticks.size(), 3u);
}

TEST_F(TimerTest, WindowlessTimersGetFreshIds)
{
    EXPECT_FALSE(KillTimer(nullptr, 12345));
    const UINT_PTR a = SetTimer(nullptr, 0, 100, recordTick);
    const UINT_PTR b = SetTimer(nullptr, 0, 100, recordTick);
    EXPECT_TRUE(a != 0 && b != 0 && a != b);
    EXPECT_EQ(SetTimer(nullptr, a, 300, recordTick), a);  // an existing id is replaced
    const UINT_PTR unknown = a + b + 1000;
    const UINT_PTR c = SetTimer(nullptr, unknown, 100, recordTick);  // an unknown one is not used
    EXPECT_TRUE(c != unknown && c != a && c != b);
    EXPECT_EQ(kt::activeTimers(), 3u);
    kt::advanceClock(300);
    EXPECT_EQ(tickTimes(a), (Times{300}));
    EXPECT_EQ(tickTimes(b).size(), 3u);
    EXPECT_EQ(ticks.front().hwnd, nullptr);
    // A window's timer id 0 is valid; SetTimer still answers non-zero.
    EXPECT_EQ(SetTimer(hwnd, 0, 100, recordTick), static_cast<UINT_PTR>(TRUE));
}

TEST_F(TimerTest, LongIntervalsUseTheWholeUnsigned32BitCount)
{
    constexpr uint64_t kThreeBillion = 3000000000u, kMax = 0xFFFFFFFFu;
    SetTimer(hwnd, 1, UINT(kThreeBillion), recordTick);
    SetTimer(hwnd, 2, UINT(kMax), recordTick);
    kt::advanceClock(kThreeBillion - 1);
    EXPECT_TRUE(ticks.empty());
    kt::advanceClock(1);
    EXPECT_EQ(tickTimes(1), (Times{kThreeBillion}));
    kt::advanceClock(kMax - kThreeBillion - 1);
    EXPECT_TRUE(tickTimes(2).empty());
    kt::advanceClock(1);
    EXPECT_EQ(tickTimes(2), (Times{kMax}));
    kt::advanceClock(2 * kThreeBillion - kMax);
    EXPECT_EQ(tickTimes(1), (Times{kThreeBillion, 2 * kThreeBillion}));
    // The callback's dwTime is the tick count, which wraps like GetTickCount.
    EXPECT_EQ(ticks.back().time, static_cast<DWORD>(2 * kThreeBillion));
    EXPECT_EQ(GetTickCount(), ticks.back().time) << "GetTickCount reads the timers' clock";
}

// Intervals under USER_TIMER_MINIMUM run at it; ticks come in time order, ties in the order
// the timers were set.
TEST_F(TimerTest, ShortIntervalsRunAtTenAndTicksComeInOrder)
{
    const UINT intervals[] = {0, 1, 9, USER_TIMER_MINIMUM, 11};
    for (UINT_PTR id = 1; id <= 5; ++id)
        SetTimer(hwnd, id, intervals[id - 1], recordTick);
    kt::advanceClock(30);
    std::vector<std::pair<UINT_PTR, uint64_t>> order;
    for (const Tick& t : ticks)
        order.emplace_back(t.id, t.at);
    const std::vector<std::pair<UINT_PTR, uint64_t>> expected = {
        {1, 10}, {2, 10}, {3, 10}, {4, 10}, {5, 11}, {1, 20}, {2, 20}, {3, 20}, {4, 20}, {5, 22},
        {1, 30}, {2, 30}, {3, 30}, {4, 30}};
    EXPECT_EQ(order, expected);
}

// A busy callback does not push the schedule: ticks stay on start + k x interval, and ticks
// missed while the thread was busy collapse into one.
TEST_F(TimerTest, SlowCallbacksDoNotDriftAndMissedTicksCollapse)
{
    SetTimer(hwnd, 1, 5000, recordTick);
    onTick = [](HWND, UINT_PTR) { kt::spendClock(1700); };
    kt::advanceClock(15000);
    EXPECT_EQ(tickTimes(1), (Times{5000, 10000, 15000}));
    EXPECT_EQ(kt::clockNowMs(), 16700u);

    ticks.clear();
    onTick = [](HWND, UINT_PTR) {
        if (ticks.size() == 1)
            kt::spendClock(12000);  // busy through the ticks due at 25,000 and 30,000
    };
    kt::advanceClock(20000 - 16700);
    EXPECT_EQ(kt::clockNowMs(), 32000u);
    kt::advanceClock(1);
    kt::advanceClock(3000);
    EXPECT_EQ(tickTimes(1), (Times{20000, 32000, 35000}));
}

// A callback that runs a modal loop gets further ticks inside it, itself included (re-entered,
// as on Windows); the outer delivery carries on correctly afterwards.
TEST_F(TimerTest, ClockAdvancedInsideACallbackDeliversNestedTicks)
{
    SetTimer(hwnd, 1, 1000, recordTick);
    int depth = 0;
    std::vector<int> depths;
    onTick = [&](HWND, UINT_PTR) {
        depths.push_back(++depth);
        if (ticks.size() == 1)
            kt::advanceClock(2500);
        --depth;
    };
    kt::advanceClock(4000);
    EXPECT_EQ(tickTimes(1), (Times{1000, 2000, 3000, 4000}));
    EXPECT_EQ(depths, (std::vector<int>{1, 2, 2, 1}));
    EXPECT_EQ(kt::clockNowMs(), 4000u);
}

TEST_F(TimerTest, CallbacksMayKillOrReplaceTimers)
{
    for (UINT_PTR id = 1; id <= 3; ++id)
        SetTimer(hwnd, id, 1000, recordTick);
    onTick = [&](HWND w, UINT_PTR id) {
        if (id == 1) {
            EXPECT_TRUE(KillTimer(w, 1));   // itself
            EXPECT_FALSE(KillTimer(w, 1));
            EXPECT_TRUE(KillTimer(w, 2));   // due at the same moment, not yet delivered
        }
        if (id == 3 && kt::clockNowMs() == 1000)
            SetTimer(w, 3, 300, recordTick);  // replaces itself: next at 1,300
    };
    kt::advanceClock(2000);
    EXPECT_EQ(tickTimes(1), (Times{1000}));
    EXPECT_TRUE(tickTimes(2).empty());
    EXPECT_EQ(tickTimes(3), (Times{1000, 1300, 1600, 1900}));
    EXPECT_EQ(kt::activeTimers(), 1u);
}

// Without a callback the window gets WM_TIMER; a destroyed window takes its timers along, even
// when it goes away in the middle of a delivery round, before its own tick.
TEST_F(TimerTest, WmTimerAndDestroyedWindows)
{
    SetTimer(hwnd, 1, 100, recordTick);
    SetTimer(hwnd, 7, 100, nullptr);
    auto doomed = std::make_unique<TestWindow>();
    const HWND doomedHwnd = doomed->handle();
    SetTimer(doomedHwnd, 1, 100, recordTick);
    onTick = [&](HWND w, UINT_PTR) {
        if (w == hwnd)
            doomed.reset();
    };
    kt::advanceClock(300);
    EXPECT_EQ(tickTimes(1).size(), 3u);  // only the surviving window's
    for (const Tick& t : ticks)
        EXPECT_EQ(t.hwnd, hwnd);
    ASSERT_EQ(window->sent.size(), 3u);
    for (const auto& s : window->sent)
        EXPECT_TRUE(s.msg == WM_TIMER && s.wParam == 7u && s.lParam == 0);
    EXPECT_EQ(kt::activeTimers(), 2u);

    window.reset();
    ticks.clear();
    kt::advanceClock(1000);
    EXPECT_TRUE(ticks.empty());
    EXPECT_EQ(kt::activeTimers(), 0u);
    EXPECT_FALSE(KillTimer(hwnd, 1));
    EXPECT_EQ(SetTimer(hwnd, 1, 100, recordTick), 0u);  // no such window any more
}

}  // namespace
