// One exchange at a time on the line, against the gauge simulator: the real-clock time-out,
// waits that run other handlers, and the ways a wait is cut short.
#include "GaugeRig.h"

#include "EventLoop.h"
#include "MainWindowLink.h"
#include "MonotonicClock.h"
#include "SerialExcept.h"

#include <QCoreApplication>
#include <QTimer>
#include <gtest/gtest.h>

namespace vg57::test {
namespace {

using platform::MonotonicMs;
using Strings = std::vector<std::string>;

// Runs `f` from the event loop after `ms`, as a timer tick or a packet would run inside a wait.
template <typename F> void Later(QObject& context, int ms, F f) {
    QTimer::singleShot(ms, &context, f);
}

TEST(SendCommand, aSilentGaugeTimesOutAfterFortyTicksAndTheNextExchangeWorks) {
    SimRig s;
    auto& l = s.rig.link;
    s.sim.Command("silent on");
    std::string reply = "stale";
    const auto start = MonotonicMs();
    EXPECT_FALSE(l.SendCommand("R1", reply));
    const auto took = MonotonicMs() - start;
    EXPECT_GE(took, 2201);
    EXPECT_LE(took, 2255 + 500) << "room for the port's opening and sanitizers";
    EXPECT_EQ(reply, "");
    EXPECT_EQ(l.Bus().TransferState, tsReady);
    EXPECT_EQ(s.rig.view.indicators, (std::vector{TIndicator::yellow, TIndicator::red}));

    s.sim.Command("silent off");
    EXPECT_TRUE(l.SendCommand("R1", reply));
    EXPECT_EQ(reply, "0R0001");
    EXPECT_EQ(s.rig.view.Indicator(), TIndicator::green);
    // The unanswered "R1" may still be answered: a sentinel of another shape goes first.
    EXPECT_EQ(s.Received(), Frame("0R1") + Frame("0S1") + Frame("0R1"));
}

// "R2", "R3" and "R4" replies look alike: a reply later than the time-out must not answer the
// next request, or every set point shifts onto the next relay, and a write puts them there.
TEST(SendCommand, aReplyLaterThanTheTimeOutNeverAnswersALaterRequest) {
    SimRig s;
    auto& l = s.rig.link;
    ASSERT_TRUE(l.ReadUnit());
    // Later than the time-out (2201..2255 ms): the sentinel "S1" resynchronises before the
    // next "R2", and the late "R2" reply before the sentinel's is dropped.
    s.sim.Command("delay 2400 once");
    EXPECT_FALSE(l.ReadSetPoints());
    EXPECT_EQ(s.rig.view.Indicator(), TIndicator::red);
    ASSERT_TRUE(l.ReadSetPoints());
    EXPECT_EQ(s.rig.view.setPoints, (std::array<std::string, 6>{"1.0e-3", "5.0e-3", "1.0e-1",
                                                                "5.0e-1", "1.0e+3", "5.0e+3"}));
    ASSERT_TRUE(l.WriteSetPoints());
    EXPECT_EQ(s.Requests(), (Strings{"0S3", "0R1", "0R2", "0S1", "0R2", "0R3", "0R4", "0W210035003",
                                     "0W310015001", "0W410135013"}));
    // Answered at once again, the gauge is not slowed.
    const auto normal = MonotonicMs();
    EXPECT_TRUE(l.ReadUnit());
    EXPECT_LT(MonotonicMs() - normal, 400);
}

TEST(SendCommand, aSecondExchangeFromAHandlerInsideTheWaitFailsAtOnceAndTheFirstCompletes) {
    SimRig s;
    auto& l = s.rig.link;
    std::string first, second = "stale";
    ASSERT_TRUE(l.SendCommand("S3", first));
    s.sim.Command("delay 300");
    bool secondResult = true;
    std::size_t indicatorChanges = 99;
    QObject context;
    Later(context, 50, [&] {
        const auto before = s.rig.view.indicators.size();
        secondResult = l.SendCommand("R2", second);
        indicatorChanges = s.rig.view.indicators.size() - before;
    });
    EXPECT_TRUE(l.SendCommand("R1", first));
    EXPECT_EQ(first, "0R0001");
    EXPECT_FALSE(secondResult);
    EXPECT_EQ(second, "");
    EXPECT_EQ(indicatorChanges, 0u);
    EXPECT_EQ(s.Requests(), (Strings{"0S3", "0R1"}));
}

TEST(AcquireGauge, aTickWhileASequenceHoldsTheGaugeIsRefusedAtOnceAndTheHolderGetsItsReply) {
    SimRig s;
    auto& l = s.rig.link;
    ASSERT_TRUE(l.ReadUnit()); // configured and ready
    s.sim.Command("pressure 0.0025");
    s.sim.Command("delay 300");
    bool nested = true;
    std::int64_t nestedMs = -1;
    QObject context;
    Later(context, 50, [&] {
        const auto start = MonotonicMs();
        nested = l.ReadUnit();
        nestedMs = MonotonicMs() - start;
    });
    EXPECT_TRUE(l.ReadMeasurement());
    EXPECT_FALSE(nested);
    EXPECT_GE(nestedMs, 0);
    EXPECT_LT(nestedMs, 50) << "refused without waiting";
    EXPECT_EQ(s.rig.view.pressure, "0.0025 Па");
    EXPECT_EQ(l.Bus().AcquireDepth, 0);
    EXPECT_FALSE(l.Bus().GaugeBusy);
    EXPECT_EQ(s.Requests(), (Strings{"0S3", "0R1", "0R1", "0S1"}));
}

TEST(AcquireGauge, aRequestWhileAnotherGuardWaitsIsRefusedAtOnce) {
    SimRig s;
    auto& l = s.rig.link;
    s.sim.Command("delay 300"); // the guard's own wait: the opening "S3"
    bool nested = true;
    int depthSeen = -1;
    QObject context;
    Later(context, 50, [&] {
        depthSeen = l.Bus().AcquireDepth;
        nested = l.AcquireGauge();
    });
    EXPECT_TRUE(l.ReadUnit());
    EXPECT_EQ(depthSeen, 1);
    EXPECT_FALSE(nested);
    EXPECT_EQ(l.Bus().AcquireDepth, 0);
    EXPECT_EQ(s.Requests(), (Strings{"0S3", "0R1"}));
}

TEST(AcquireGauge, givesItsDepthBackOnEveryWayOut) {
    SimRig s;
    auto& l = s.rig.link;
    auto& v = s.rig.view;

    v.dialogResult = false; // the operator cancels the connection dialog
    EXPECT_FALSE(l.ReadUnit());
    EXPECT_FALSE(l.ReadUnit());
    EXPECT_EQ(v.dialogs, 2) << "offered again while never confirmed";
    EXPECT_EQ(l.Bus().AcquireDepth, 0);

    v.onDialog = [] { throw std::runtime_error("dialog failed"); };
    EXPECT_THROW(l.ReadUnit(), std::runtime_error);
    EXPECT_EQ(l.Bus().AcquireDepth, 0);
    EXPECT_FALSE(l.Bus().GaugeBusy);
    EXPECT_FALSE(l.PortConfigured);

    v.onDialog = nullptr;
    v.dialogResult = true;
    s.rig.port.SetComNumber(9); // nothing behind COM9: the opening "S3" cannot be written
    EXPECT_THROW(l.ReadUnit(), ESerialException);
    EXPECT_EQ(l.Bus().AcquireDepth, 0);
    EXPECT_FALSE(l.Bus().GaugeBusy);
    EXPECT_TRUE(s.Requests().empty());
}

TEST(SendCommand, aWriteErrorLeavesTheLineReadyAndTheGaugeIsAskedAgainOnceThePortIsMended) {
    SimRig s;
    auto& l = s.rig.link;
    l.PortConfigured = l.GaugeReady = true;
    s.rig.port.SetComNumber(9);
    std::string reply = "stale";
    EXPECT_THROW(l.SendCommand("R1", reply), ESerialException);
    EXPECT_EQ(reply, "");
    EXPECT_EQ(l.Bus().TransferState, tsReady);
    EXPECT_EQ(s.rig.view.Indicator(), TIndicator::red);

    EXPECT_THROW(l.ReadUnit(), ESerialException);
    EXPECT_FALSE(l.Bus().GaugeBusy) << "a routine that raises releases the gauge";
    EXPECT_EQ(l.Bus().TransferState, tsReady);

    s.rig.port.SetComNumber(3); // the operator chose the right port
    EXPECT_TRUE(l.ReadUnit());
    EXPECT_EQ(s.Requests(), (Strings{"0R1"}));
}

TEST(CancelExchanges, endsTheRunningWaitAtOnceAndRefusesFurtherExchangesUntilResumed) {
    SimRig s;
    auto& l = s.rig.link;
    auto& v = s.rig.view;
    std::string reply;
    ASSERT_TRUE(l.ReadUnit());
    s.sim.Command("delay 800");
    QObject context;
    Later(context, 50, [&] { l.CancelExchanges(); });
    const auto start = MonotonicMs();
    EXPECT_FALSE(l.SendCommand("R1", reply));
    EXPECT_LT(MonotonicMs() - start, 500);
    EXPECT_EQ(l.Bus().TransferState, tsReady);
    EXPECT_EQ(v.Indicator(), TIndicator::red);

    const auto shown = v.indicators.size();
    EXPECT_FALSE(l.SendCommand("R2", reply));
    EXPECT_FALSE(l.ReadUnit());
    EXPECT_EQ(v.indicators.size(), shown) << "refused exchanges touch nothing";

    // The cut-short exchange's late reply only replaces LastReply.
    l.Bus().LastReply.clear();
    ASSERT_TRUE(PumpUntil([&] { return !l.Bus().LastReply.empty(); }, 3000));
    EXPECT_EQ(l.Bus().LastReply, "0R0001");
    EXPECT_EQ(l.Bus().TransferState, tsReady);
    EXPECT_EQ(v.indicators.size(), shown);

    s.sim.Command("delay off");
    l.ResumeExchanges();
    EXPECT_TRUE(l.SendCommand("R3", reply));
    EXPECT_EQ(reply, "0R10015001");
    EXPECT_EQ(s.Requests(), (Strings{"0S3", "0R1", "0R1", "0R3"}));
}

TEST(CancelExchanges, aResumeRightAfterTheCancelStillEndsTheRunningWait) {
    SimRig s;
    auto& l = s.rig.link;
    std::string reply;
    ASSERT_TRUE(l.SendCommand("S3", reply));
    s.sim.Command("delay 800");
    QObject context;
    Later(context, 50, [&] {
        l.CancelExchanges();
        l.ResumeExchanges();
    });
    const auto start = MonotonicMs();
    EXPECT_FALSE(l.SendCommand("R1", reply));
    EXPECT_LT(MonotonicMs() - start, 500);
    ASSERT_TRUE(PumpUntil([&] { return l.Bus().LastReply == "0R0001"; }, 3000)); // the late reply
    EXPECT_TRUE(l.SendCommand("R1", reply));
}

TEST(SendCommand, aWaitEndedByTheQuitRequestFailsAndNothingIsWrittenAfterIt) {
    SimRig s;
    auto& l = s.rig.link;
    l.PortConfigured = true;
    s.sim.Command("delay 800");
    bool ready = true, sentAfterwards = true, acquiredAfterwards = true;
    std::int64_t took = -1;
    QObject context;
    Later(context, 0, [&] {
        const auto start = MonotonicMs();
        ready = l.EnsureGaugeReady();
        took = MonotonicMs() - start;
        std::string reply;
        sentAfterwards = l.SendCommand("R1", reply);
        acquiredAfterwards = l.AcquireGauge();
    });
    Later(context, 100, [] { platform::RequestQuit(); });
    Later(context, 5000, [] { QCoreApplication::exit(99); }); // safety
    QCoreApplication::exec();
    const bool quitWasInForce = platform::QuitRequested();
    platform::ClearQuitRequestForTests();
    DrainEvents();

    EXPECT_TRUE(quitWasInForce);
    EXPECT_FALSE(ready);
    EXPECT_FALSE(l.GaugeReady) << "no reply came";
    EXPECT_GE(took, 90);
    EXPECT_LT(took, 600);
    EXPECT_EQ(l.Bus().TransferState, tsReady);
    EXPECT_FALSE(sentAfterwards);
    EXPECT_FALSE(acquiredAfterwards);
    ASSERT_TRUE(PumpUntil([&] { return l.Bus().LastReply == "0S"; }, 3000)); // the late reply
    EXPECT_EQ(s.Requests(), (Strings{"0S3"}));
}

} // namespace
} // namespace vg57::test
