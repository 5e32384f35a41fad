// Shutdown while a reply is being handed to the user-interface thread: a blocking hand-over to a
// thread that waits for the dispatch thread to end would hang forever.
#include "CrossThreadCall.h"
#include "EventLoop.h"
#include "SerialDispatcher.h"
#include "SerialMisc.h"

#include "../support/Chatter.h"

#include <QCoreApplication>
#include <QObject>
#include <QTimer>
#include <gtest/gtest.h>

#include <atomic>
#include <thread>

using namespace vg57;
using vg57::test::PtyPair;

namespace {

// A handler that, like the packet framer, hands every delivery to the UI thread and blocks.
void HandToUi(TSerialDispatcher& d, QObject& ui, std::atomic<int>& delivered,
              platform::CallCancel& cancel) {
    d.RegisterDataHandler(
        [&](int kind, std::uint32_t count, std::uint32_t) {
            if (kind != DataAvailable) return;
            std::string bytes(count, '\0');
            d.ReadBlock(bytes.data(), count);
            platform::CallBlocking(
                &ui, [&delivered] { ++delivered; }, &cancel);
        },
        &ui);
}

} // namespace

TEST(DispatcherShutdown, closingWhilePacketsArriveEndsWithinASecondEveryTime) {
    for (int round = 0; round < 25; ++round) {
        PtyPair pty;
        test::Chatter chatter(pty, test::Frame("0S1203"), std::chrono::microseconds(300));
        QObject ui;
        std::atomic<int> delivered{0};
        platform::CallCancel cancel;
        TSerialDispatcher d;
        ASSERT_EQ(d.OpenDevice(pty.SlavePath(), 9600, 1, 8, 1, 4096, 4096, loDTR), 0);
        HandToUi(d, ui, delivered, cancel);
        // Let hand-overs pile up: the UI thread is busy elsewhere for a moment.
        std::this_thread::sleep_for(std::chrono::milliseconds(5 + round % 5));
        const auto start = std::chrono::steady_clock::now();
        d.CloseDevice();
        const auto took = std::chrono::steady_clock::now() - start;
        EXPECT_LT(took, std::chrono::seconds(1)) << "round " << round;
        EXPECT_EQ(d.RunningThreads(), 0) << "round " << round;
    }
}

TEST(DispatcherShutdown, quittingTheApplicationWhilePacketsArriveEndsWithinASecond) {
    for (int round = 0; round < 10; ++round) {
        PtyPair pty;
        test::Chatter chatter(pty, test::Frame("0S1203"), std::chrono::microseconds(300));
        QObject ui;
        std::atomic<int> delivered{0};
        platform::CallCancel cancel;
        auto d = std::make_unique<TSerialDispatcher>();
        ASSERT_EQ(d->OpenDevice(pty.SlavePath(), 9600, 1, 8, 1, 4096, 4096, loDTR), 0);
        HandToUi(*d, ui, delivered, cancel);
        std::uint32_t waitResult = 0;
        std::chrono::steady_clock::time_point quitAt;
        // A command wait is running when the quit request comes, while packets are handed over
        // (it comes 20 ms after the first: a loaded machine may take longer to hand one over);
        // then the window goes away.
        QTimer::singleShot(0, [&] {
            TTickTimer t;
            StartTickTimer(t, 40);
            bool quitTimed = false;
            while (!TickTimerExpired(t)) {
                waitResult = YieldOnce();
                if (waitResult == kQuitMessage) break;
                if (!quitTimed && delivered.load() > 0) {
                    quitTimed = true;
                    QTimer::singleShot(20, &ui, [&] {
                        quitAt = std::chrono::steady_clock::now();
                        platform::RequestQuit();
                    });
                }
                if (waitResult == 0) WaitForEventOrExpiry(t);
            }
            if (waitResult != kQuitMessage) platform::RequestQuit(); // nothing came: end the run
        });
        QCoreApplication::exec();
        d.reset(); // destroying the dispatcher closes the device
        const auto took = std::chrono::steady_clock::now() - quitAt;
        EXPECT_EQ(waitResult, kQuitMessage);
        EXPECT_LT(took, std::chrono::seconds(1)) << "round " << round;
        EXPECT_GT(delivered.load(), 0) << "packets were handed over during the wait";
        platform::ClearQuitRequestForTests();
        while (YieldOnce() != 0) {
        }
    }
}
