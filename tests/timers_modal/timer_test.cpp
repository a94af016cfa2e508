// SetTimer/KillTimer on the virtual clock: replacement, long and short intervals, the tick grid,
// re-entrant callbacks and windows that go away. One short run on the real clock at the end.
#include <windows.h>

#include <kelvra/platform/testing.h>

#include "test_window.h"

#include <gtest/gtest.h>

#include <QElapsedTimer>
#include <QEventLoop>
#include <QTimer>

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

std::vector<uint64_t> tickTimes(UINT_PTR id)
{
    std::vector<uint64_t> times;
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

using Times = std::vector<uint64_t>;

TEST_F(TimerTest, SameWindowAndIdReplacesTheTimerAndRestartsItsPeriod)
{
    EXPECT_EQ(SetTimer(hwnd, 1, 1000, recordTick), 1u);
    kt::advanceClock(700);
    EXPECT_EQ(SetTimer(hwnd, 1, 1000, recordTick), 1u);
    EXPECT_EQ(kt::activeTimers(), 1u);
    kt::advanceClock(999);
    EXPECT_TRUE(ticks.empty());
    kt::advanceClock(1);
    EXPECT_EQ(tickTimes(1), (Times{1700}));

    // Another id, or the same id on another window, is another timer.
    TestWindow other;
    SetTimer(hwnd, 2, 500, recordTick);
    SetTimer(other.handle(), 1, 500, recordTick);
    EXPECT_EQ(kt::activeTimers(), 3u);
    kt::advanceClock(500);
    EXPECT_EQ(ticks.size(), 3u);
}

TEST_F(TimerTest, LongIntervalsUseTheWholeUnsigned32BitCount)
{
    const UINT threeBillion = 3000000000u;
    SetTimer(hwnd, 1, threeBillion, recordTick);
    SetTimer(hwnd, 2, 0xFFFFFFFFu, recordTick);
    kt::advanceClock(threeBillion - 1);
    EXPECT_TRUE(ticks.empty());
    kt::advanceClock(1);
    EXPECT_EQ(tickTimes(1), (Times{threeBillion}));
    kt::advanceClock(0xFFFFFFFFull - threeBillion - 1);
    EXPECT_TRUE(tickTimes(2).empty());
    kt::advanceClock(1);
    EXPECT_EQ(tickTimes(2), (Times{0xFFFFFFFFull}));
    kt::advanceClock(2 * 3000000000ull - 0xFFFFFFFFull);
    EXPECT_EQ(tickTimes(1), (Times{threeBillion, 2 * 3000000000ull}));
    // The callback's dwTime is the tick count, which wraps like GetTickCount.
    EXPECT_EQ(ticks.back().time, static_cast<DWORD>(2 * 3000000000ull));
}

TEST_F(TimerTest, IntervalsUnderTenMillisecondsRunAtTen)
{
    SetTimer(hwnd, 1, 0, recordTick);
    SetTimer(hwnd, 2, 1, recordTick);
    SetTimer(hwnd, 3, 9, recordTick);
    SetTimer(hwnd, 4, USER_TIMER_MINIMUM, recordTick);
    SetTimer(hwnd, 5, 11, recordTick);
    kt::advanceClock(30);
    for (UINT_PTR id = 1; id <= 4; ++id)
        EXPECT_EQ(tickTimes(id), (Times{10, 20, 30})) << "id " << id;
    EXPECT_EQ(tickTimes(5), (Times{11, 22}));
}

TEST_F(TimerTest, TicksOfSeveralTimersComeInTimeOrderTiesInArmingOrder)
{
    SetTimer(hwnd, 1, 300, recordTick);
    SetTimer(hwnd, 2, 500, recordTick);
    kt::advanceClock(1000);
    std::vector<std::pair<UINT_PTR, uint64_t>> order;
    for (const Tick& t : ticks)
        order.emplace_back(t.id, t.at);
    const std::vector<std::pair<UINT_PTR, uint64_t>> expected = {
        {1, 300}, {2, 500}, {1, 600}, {1, 900}, {2, 1000}};
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
        ++depth;
        depths.push_back(depth);
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
    SetTimer(hwnd, 1, 1000, recordTick);
    SetTimer(hwnd, 2, 1000, recordTick);
    SetTimer(hwnd, 3, 1000, recordTick);
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

TEST_F(TimerTest, KillTimerOfAnUnknownTimerFails)
{
    EXPECT_FALSE(KillTimer(hwnd, 99));
    EXPECT_FALSE(KillTimer(nullptr, 12345));
    SetTimer(hwnd, 1, 100, recordTick);
    EXPECT_FALSE(KillTimer(nullptr, 1));  // the key is window and id together
    EXPECT_TRUE(KillTimer(hwnd, 1));
    kt::advanceClock(1000);
    EXPECT_TRUE(ticks.empty());
}

TEST_F(TimerTest, WithoutACallbackTheWindowGetsWmTimer)
{
    SetTimer(hwnd, 7, 250, nullptr);
    kt::advanceClock(500);
    ASSERT_EQ(window->sent.size(), 2u);
    for (const auto& s : window->sent) {
        EXPECT_EQ(s.msg, static_cast<UINT>(WM_TIMER));
        EXPECT_EQ(s.wParam, 7u);
        EXPECT_EQ(s.lParam, 0);
    }
}

TEST_F(TimerTest, DestroyedWindowTakesItsTimersAlong)
{
    SetTimer(hwnd, 1, 100, recordTick);
    SetTimer(hwnd, 2, 100, nullptr);
    auto doomed = std::make_unique<TestWindow>();
    const HWND doomedHwnd = doomed->handle();
    SetTimer(doomedHwnd, 1, 100, recordTick);
    // The window goes away in the middle of a delivery round, before its own tick.
    onTick = [&](HWND w, UINT_PTR) {
        if (w == hwnd)
            doomed.reset();
    };
    kt::advanceClock(300);
    EXPECT_EQ(tickTimes(1).size(), 3u);  // only the surviving window's
    for (const Tick& t : ticks)
        EXPECT_EQ(t.hwnd, hwnd);
    EXPECT_EQ(kt::activeTimers(), 2u);

    window.reset();
    ticks.clear();
    kt::advanceClock(1000);
    EXPECT_TRUE(ticks.empty());
    EXPECT_EQ(kt::activeTimers(), 0u);
    EXPECT_FALSE(KillTimer(hwnd, 1));
    EXPECT_EQ(SetTimer(hwnd, 1, 100, recordTick), 0u);  // no such window any more
}

TEST_F(TimerTest, WindowlessTimersGetFreshIds)
{
    const UINT_PTR a = SetTimer(nullptr, 0, 100, recordTick);
    const UINT_PTR b = SetTimer(nullptr, 0, 100, recordTick);
    EXPECT_NE(a, 0u);
    EXPECT_NE(b, 0u);
    EXPECT_NE(a, b);
    EXPECT_EQ(SetTimer(nullptr, a, 300, recordTick), a);  // an existing id is replaced
    const UINT_PTR unknown = a + b + 1000;
    const UINT_PTR c = SetTimer(nullptr, unknown, 100, recordTick);  // an unknown one is not used
    EXPECT_NE(c, unknown);
    EXPECT_NE(c, a);
    EXPECT_NE(c, b);
    EXPECT_EQ(kt::activeTimers(), 3u);
    kt::advanceClock(300);
    EXPECT_EQ(tickTimes(a), (Times{300}));
    EXPECT_EQ(tickTimes(b).size(), 3u);
    EXPECT_EQ(ticks.front().hwnd, nullptr);
    // A window's timer id 0 is valid; SetTimer still answers non-zero.
    EXPECT_EQ(SetTimer(hwnd, 0, 100, recordTick), static_cast<UINT_PTR>(TRUE));
}

// The real clock: three 20 ms ticks arrive through the event loop. Timing is not asserted
// beyond "they came", and a deadline keeps the test from hanging.
TEST(RealClockTimer, TicksArriveThroughTheEventLoop)
{
    kt::useRealClock();
    ticks.clear();
    onTick = nullptr;
    QEventLoop loop;
    const uint64_t start = kt::clockNowMs();
    onTick = [&loop](HWND, UINT_PTR) {
        if (ticks.size() == 3)
            loop.quit();
    };
    const UINT_PTR id = SetTimer(nullptr, 0, 20, recordTick);
    QTimer::singleShot(5000, &loop, &QEventLoop::quit);
    loop.exec();
    EXPECT_TRUE(KillTimer(nullptr, id));
    onTick = nullptr;
    ASSERT_EQ(ticks.size(), 3u);
    // Each tick is on the grid or after it, never before.
    for (size_t k = 0; k < ticks.size(); ++k)
        EXPECT_GE(ticks[k].at, start + 20 * (k + 1));
    kt::useVirtualClock();
}

}  // namespace
