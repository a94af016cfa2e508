// The schedule under an injected clock and alarm: how long waits are chained out of int-sized
// alarms, and what a late or early wake-up does. Nothing here sleeps.
#include "timer_queue.h"

#include <gtest/gtest.h>

#include <climits>

using kelvra::platform::TimerAlarm;
using kelvra::platform::TimerClock;
using kelvra::platform::TimerEntry;
using kelvra::platform::TimerScheduler;

namespace {

struct FakeClock : TimerClock {
    uint64_t now = 1000;  // not zero: the grid is relative to when the timer was set
    uint64_t nowMs() const override { return now; }
};

struct FakeAlarm : TimerAlarm {
    bool armed = false;
    int delay = -1;
    int arms = 0;
    void arm(int delayMs) override
    {
        armed = true;
        delay = delayMs;
        ++arms;
    }
    void disarm() override { armed = false; }
};

const HWND kWindow = reinterpret_cast<HWND>(0x1234);

class ChainingTest : public ::testing::Test {
protected:
    FakeClock clock;
    FakeAlarm alarm;
    std::vector<uint64_t> fired;
    TimerScheduler scheduler{&clock, &alarm,
                             [this](const TimerEntry&, uint64_t fireMs) { fired.push_back(fireMs); }};

    // Lets the alarm go off as the event loop would, exactly when asked, until `ticks` ticks
    // have come; returns how many wake-ups that took.
    int runUntilTicks(size_t ticks)
    {
        int wakes = 0;
        while (fired.size() < ticks && alarm.armed && wakes < 100000) {
            EXPECT_GE(alarm.delay, 0);
            EXPECT_LE(alarm.delay, TimerScheduler::kLongestWaitMs);
            clock.now += alarm.delay;
            alarm.armed = false;
            scheduler.onAlarm();
            ++wakes;
        }
        return wakes;
    }
};

TEST_F(ChainingTest, WaitsPastIntMaxAreChainedAndEndExactlyOnTime)
{
    const uint64_t start = clock.now;
    scheduler.set(kWindow, 1, 3000000000u, nullptr);
    const int wakes = runUntilTicks(1);
    ASSERT_EQ(fired.size(), 1u);
    EXPECT_EQ(fired[0], start + 3000000000u);
    EXPECT_GT(wakes, 1);  // no single alarm could have carried it

    scheduler.set(kWindow, 1, 0xFFFFFFFFu, nullptr);  // replaced: counts from now
    const uint64_t restart = clock.now;
    fired.clear();
    runUntilTicks(2);
    ASSERT_EQ(fired.size(), 2u);
    EXPECT_EQ(fired[0], restart + 0xFFFFFFFFull);
    EXPECT_EQ(fired[1], restart + 2 * 0xFFFFFFFFull);
}

// The int conversion that makes a plain QTimer misbehave: 3e9 ms would wrap negative and
// 2^32 + 500 ms would become 500 ms.
TEST_F(ChainingTest, WakeDelayNeverWrapsOrShortens)
{
    EXPECT_EQ(TimerScheduler::wakeDelayMs(0, 3000000000ull), TimerScheduler::kLongestWaitMs);
    EXPECT_EQ(TimerScheduler::wakeDelayMs(0, (1ull << 32) + 500), TimerScheduler::kLongestWaitMs);
    EXPECT_EQ(TimerScheduler::wakeDelayMs(100, 600), 500);
    EXPECT_EQ(TimerScheduler::wakeDelayMs(600, 600), 0);
    EXPECT_EQ(TimerScheduler::wakeDelayMs(700, 600), 0);  // overdue: wake at once
    EXPECT_LE(TimerScheduler::kLongestWaitMs, INT_MAX);
}

TEST_F(ChainingTest, EarlyWakeRearmsForTheRestLateWakeCollapsesMissedTicks)
{
    const uint64_t start = clock.now;
    scheduler.set(kWindow, 1, 1000, nullptr);
    EXPECT_EQ(alarm.delay, 1000);

    clock.now = start + 400;  // the alarm came early
    scheduler.onAlarm();
    EXPECT_TRUE(fired.empty());
    EXPECT_TRUE(alarm.armed);
    EXPECT_EQ(alarm.delay, 600);

    clock.now = start + 3500;  // the thread was busy for three periods
    scheduler.onAlarm();
    EXPECT_EQ(fired, (std::vector<uint64_t>{start + 3500}));
    EXPECT_EQ(alarm.delay, 500);  // back on the grid: next tick at start + 4,000

    clock.now = start + 4000;
    scheduler.onAlarm();
    EXPECT_EQ(fired.back(), start + 4000);
}

TEST_F(ChainingTest, AlarmFollowsTheEarliestTimerAndStopsWithTheLast)
{
    scheduler.set(kWindow, 1, 5000, nullptr);
    scheduler.set(kWindow, 2, 200, nullptr);
    EXPECT_EQ(alarm.delay, 200);
    EXPECT_TRUE(scheduler.kill(kWindow, 2));
    EXPECT_EQ(alarm.delay, 5000);
    EXPECT_FALSE(scheduler.kill(kWindow, 2));
    EXPECT_TRUE(scheduler.kill(kWindow, 1));
    EXPECT_FALSE(alarm.armed);
}

}  // namespace
