#include "EventLoop.h"
#include "CrossThreadCall.h"
#include "MonotonicClock.h"
#include "SerialMisc.h"

#include <QCoreApplication>
#include <QObject>
#include <QTimer>
#include <gtest/gtest.h>

#include <atomic>
#include <thread>

using namespace vg57;

namespace {
void DrainEvents() {
    while (YieldOnce() != 0) {
    }
}
} // namespace

TEST(YieldOnce, returnsZeroAtOnceWithNothingPending) {
    DrainEvents();
    const auto start = platform::MonotonicMs();
    EXPECT_EQ(YieldOnce(), 0u);
    EXPECT_LT(platform::MonotonicMs() - start, 20);
}

TEST(YieldOnce, handlesAPostedCall) {
    DrainEvents();
    QObject target;
    bool ran = false;
    QMetaObject::invokeMethod(
        &target, [&] { ran = true; }, Qt::QueuedConnection);
    EXPECT_NE(YieldOnce(), 0u);
    EXPECT_TRUE(ran);
}

// A wait inside a handler that a posted event ran (an action queued behind another): a call
// posted just after that event, in the same batch, still runs inside the wait. It once waited
// until the wait had run out, and a reply handed over then with it.
TEST(YieldOnce, aWaitInsideAPostedHandlerRunsACallPostedRightAfterIt) {
    DrainEvents();
    QObject target;
    bool ran = false, ranInsideTheWait = false;
    QMetaObject::invokeMethod(
        &target,
        [&] {
            TTickTimer t;
            StartTickTimer(t, 4);
            while (!ran && !TickTimerExpired(t))
                if (YieldOnce() == 0) WaitForEventOrExpiry(t);
            ranInsideTheWait = ran;
        },
        Qt::QueuedConnection);
    platform::PostCall(&target, [&] { ran = true; });
    QCoreApplication::processEvents(); // the outer pass delivers both, the handler first
    EXPECT_TRUE(ranInsideTheWait);
}

TEST(YieldOnce, quitRequestEndsEveryWaitAndStaysForTheOuterLoop) {
    DrainEvents();
    std::uint32_t first = 0, second = 0;
    // A wait inside the application's loop sees the quit request, and the loop itself ends.
    QTimer::singleShot(0, [&] {
        platform::RequestQuit();
        first = YieldOnce();
        second = YieldOnce();
    });
    QObject guard; // takes the safety timer with it when the test ends
    QTimer::singleShot(3000, &guard, [] { QCoreApplication::exit(99); });
    const auto start = platform::MonotonicMs();
    EXPECT_EQ(QCoreApplication::exec(), 0);
    EXPECT_LT(platform::MonotonicMs() - start, 1000);
    EXPECT_EQ(first, kQuitMessage);
    EXPECT_EQ(second, kQuitMessage) << "the request must stay in force";
    EXPECT_TRUE(platform::QuitRequested());
    platform::ClearQuitRequestForTests();
    DrainEvents();
}

TEST(WaitForEventOrExpiry, idleWaitBlocksUntilTheTimerWithoutCpu) {
    DrainEvents();
    TTickTimer t;
    StartTickTimer(t, 4);
    const auto start = platform::MonotonicMs();
    std::int64_t cpuBefore = std::clock();
    int passes = 0;
    while (!TickTimerExpired(t)) {
        if (YieldOnce() == 0) WaitForEventOrExpiry(t);
        ++passes;
    }
    const auto elapsed = platform::MonotonicMs() - start;
    EXPECT_GE(elapsed, 4 * 55);
    EXPECT_LE(elapsed, 5 * 55 + 20);
    EXPECT_LT(passes, 10) << "the wait spun instead of blocking";
    EXPECT_LT((std::clock() - cpuBefore) * 1000 / CLOCKS_PER_SEC, 30);
}

TEST(WaitForEventOrExpiry, aCallHandedOverEndsTheWaitWithinAMillisecond) {
    DrainEvents();
    QObject target;
    std::atomic<bool> done{false};
    std::int64_t handedAt = 0;
    std::thread worker([&] {
        std::this_thread::sleep_for(std::chrono::milliseconds(50));
        handedAt = platform::MonotonicMs();
        platform::CallBlocking(
            &target, [&] { done = true; }, nullptr);
    });
    TTickTimer t;
    StartTickTimer(t, 40);
    while (!done && !TickTimerExpired(t))
        if (YieldOnce() == 0) WaitForEventOrExpiry(t);
    const auto seen = platform::MonotonicMs();
    worker.join();
    ASSERT_TRUE(done);
    // Well under a millisecond here; the bound leaves room for sanitizers on a busy machine,
    // while a wait that did not wake would take the full 2.2 s.
    EXPECT_LE(seen - handedAt, 20);
}

TEST(CallBlocking, runsOnTheTargetThreadAndRaisesItsErrorsInTheCaller) {
    QObject target;
    std::thread::id ranOn;
    platform::Waker waker;
    std::atomic<bool> threw{false};
    std::thread worker([&] {
        platform::CallBlocking(
            &target, [&] { ranOn = std::this_thread::get_id(); }, nullptr);
        try {
            platform::CallBlocking(
                &target, [] { throw std::runtime_error("boom"); }, nullptr);
        } catch (const std::runtime_error&) {
            threw = true;
        }
        waker.Wake();
    });
    waker.WaitPumping([&] { return threw.load(); }, 2000);
    worker.join();
    EXPECT_EQ(ranOn, std::this_thread::get_id());
    EXPECT_TRUE(threw);
}

TEST(CallBlocking, cancelBeforeTheCallStartsReleasesTheCallerAndSkipsTheCall) {
    QObject target;
    platform::CallCancel cancel;
    std::atomic<bool> returned{false}, result{true}, ran{false};
    std::thread worker([&] {
        result = platform::CallBlocking(
            &target, [&] { ran = true; }, &cancel);
        returned = true;
    });
    std::this_thread::sleep_for(std::chrono::milliseconds(50)); // the call is queued, not run
    cancel.Cancel();
    worker.join();
    EXPECT_TRUE(returned);
    EXPECT_FALSE(result);
    DrainEvents();
    EXPECT_FALSE(ran) << "a cancelled call must never run later";
}

TEST(CallBlocking, aDestroyedTargetReleasesTheCaller) {
    auto* target = new QObject;
    std::atomic<bool> returned{false};
    std::thread worker([&] {
        platform::CallBlocking(
            target, [] {}, nullptr);
        returned = true;
    });
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
    delete target; // drops the queued call
    worker.join();
    EXPECT_TRUE(returned);
}

TEST(CallBlocking, aCancelledCallNeverRunsEvenWhenTheTargetPumpsFirst) {
    // The target's thread cancels and at once handles its events, before the waiting thread
    // has had a chance to wake: the cancel alone must keep the call from running.
    int ran = 0;
    for (int round = 0; round < 30; ++round) {
        QObject target;
        platform::CallCancel cancel;
        std::atomic<bool> posted{false};
        std::thread worker([&] {
            posted = true;
            platform::CallBlocking(
                &target, [&] { ++ran; }, &cancel);
        });
        while (!posted)
            std::this_thread::yield();
        std::this_thread::sleep_for(std::chrono::milliseconds(2)); // queued by now
        cancel.Cancel();
        DrainEvents();
        worker.join();
    }
    EXPECT_EQ(ran, 0);
}
