#include "SerialMisc.h"

#include "MonotonicClock.h"

#include <gtest/gtest.h>
#include <thread>

using namespace vg57;

TEST(TickTimer, fortyTicksEndBetween2201And2255Ms) {
    // Start right after a tick boundary and right before one: both bounds are reachable.
    TTickTimer t;
    const std::int32_t startTick = CurrentTick();
    while (CurrentTick() == startTick)
        std::this_thread::sleep_for(std::chrono::microseconds(200));
    const auto start = platform::MonotonicMs();
    StartTickTimer(t, 40);
    while (!TickTimerExpired(t))
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    const auto elapsed = platform::MonotonicMs() - start;
    EXPECT_GE(elapsed, 2201 - 1);
    EXPECT_LE(elapsed, 2255 + 5); // the loop's own 1 ms sleeps
}

TEST(TickTimer, expiresOnlyWhenTheTickAfterTheLastHasBegun) {
    TTickTimer t;
    StartTickTimerAt(t, 40, 1000);
    EXPECT_FALSE(TickTimerExpiredAt(t, 1000));
    EXPECT_FALSE(TickTimerExpiredAt(t, 1040));
    EXPECT_TRUE(TickTimerExpiredAt(t, 1041));
}

TEST(TickTimer, longTimersAreCut) {
    TTickTimer t;
    StartTickTimerAt(t, 0x7FFFFFFF, 0);
    EXPECT_EQ(t.expireTick, kMaxTimerTicks);
    EXPECT_FALSE(TickTimerExpiredAt(t, kMaxTimerTicks));
    EXPECT_TRUE(TickTimerExpiredAt(t, kMaxTimerTicks + 1));
}

TEST(TickTimer, expiresAcrossTheMillisecondCounterWrap) {
    // The 32-bit counter wraps after 78090315 ticks; a timer started 10 ticks before the wrap
    // still runs its whole length.
    const auto start = static_cast<std::int32_t>(kTicksPerWrap - 10);
    TTickTimer t;
    StartTickTimerAt(t, 40, start);
    EXPECT_FALSE(TickTimerExpiredAt(t, start + 5));
    EXPECT_FALSE(TickTimerExpiredAt(t, 0));
    EXPECT_FALSE(TickTimerExpiredAt(t, 29));
    EXPECT_FALSE(TickTimerExpiredAt(t, 30));
    EXPECT_TRUE(TickTimerExpiredAt(t, 31));
}

TEST(TickTimer, remainingTimeReachesZeroAtExpiry) {
    TTickTimer t;
    StartTickTimer(t, 2);
    const auto left = TickTimerRemainingMs(t);
    EXPECT_GT(left, 2 * 55);
    EXPECT_LE(left, 3 * 55);
    std::this_thread::sleep_for(std::chrono::milliseconds(left));
    EXPECT_TRUE(TickTimerExpired(t));
    EXPECT_EQ(TickTimerRemainingMs(t), 0);
}
