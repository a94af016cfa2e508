// The schedule under an injected clock and alarm: how long waits are chained out of int-sized
// alarms, and what a late or early wake-up does. Nothing here sleeps.
#include "timer_queue.h"

#include <gtest/gtest.h>

using kelvra::platform::TimerAlarm;
using kelvra::platform::TimerClock;
using kelvra::platform::TimerEntry;
using kelvra::platform::TimerScheduler;

namespace {

const HWND kWindow = reinterpret_cast<HWND>(0x1234);

class ChainingTest : public ::testing::Test, TimerClock, TimerAlarm {
protected:
    uint64_t now = 1000;  // not zero: the grid is relative to when the timer was set
    bool armed = false;
    int delay = -1;
    std::vector<uint64_t> fired;
    TimerScheduler scheduler{this, this, [this](const TimerEntry&, uint64_t fireMs) { fired.push_back(fireMs); }};

    uint64_t nowMs() const override { return now; }
    void arm(int delayMs) override { armed = true, delay = delayMs; }
    void disarm() override { armed = false; }

    // Lets the alarm go off as the event loop would, exactly when asked, until `ticks` ticks
    // have come; returns how many wake-ups that took. No single wait may wrap or pass the cap.
    int runUntilTicks(size_t ticks)
    {
        int wakes = 0;
        for (; fired.size() < ticks && armed && wakes < 100000; ++wakes) {
            EXPECT_TRUE(delay >= 0 && delay <= TimerScheduler::kLongestWaitMs) << delay;
            now += uint64_t(delay);
            armed = false;
            scheduler.onAlarm();
        }
        return wakes;
    }
};

TEST_F(ChainingTest, WaitsPastIntMaxAreChainedAndEndExactlyOnTime)
{
    const uint64_t start = now;
    scheduler.set(kWindow, 1, 3000000000u, nullptr);
    EXPECT_GT(runUntilTicks(1), 1);  // no single alarm could have carried it
    EXPECT_EQ(fired, (std::vector<uint64_t>{start + 3000000000u}));

    scheduler.set(kWindow, 1, 0xFFFFFFFFu, nullptr);  // replaced: counts from now
    const uint64_t restart = now;
    fired.clear();
    runUntilTicks(2);
    EXPECT_EQ(fired, (std::vector<uint64_t>{restart + 0xFFFFFFFFull, restart + 2 * 0xFFFFFFFFull}));
}

TEST_F(ChainingTest, EarlyWakeRearmsForTheRestLateWakeCollapsesMissedTicks)
{
    const uint64_t start = now;
    scheduler.set(kWindow, 1, 1000, nullptr);
    EXPECT_EQ(delay, 1000);

    now = start + 400;  // the alarm came early
    scheduler.onAlarm();
    EXPECT_TRUE(fired.empty());
    EXPECT_TRUE(armed);
    EXPECT_EQ(delay, 600);

    now = start + 3500;  // the thread was busy for three periods
    scheduler.onAlarm();
    EXPECT_EQ(fired, (std::vector<uint64_t>{start + 3500}));
    EXPECT_EQ(delay, 500);  // back on the grid: next tick at start + 4,000

    now = start + 4000;
    scheduler.onAlarm();
    EXPECT_EQ(fired.back(), start + 4000);
}

TEST_F(ChainingTest, AlarmFollowsTheEarliestTimerAndStopsWithTheLast)
{
    scheduler.set(kWindow, 1, 5000, nullptr);
    scheduler.set(kWindow, 2, 200, nullptr);
    EXPECT_EQ(delay, 200);
    EXPECT_TRUE(scheduler.kill(kWindow, 2));
    EXPECT_EQ(delay, 5000);
    EXPECT_FALSE(scheduler.kill(kWindow, 2));
    EXPECT_TRUE(scheduler.kill(kWindow, 1));
    EXPECT_FALSE(armed);
}

}  // namespace
