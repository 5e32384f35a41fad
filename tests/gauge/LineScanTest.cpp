// The scan for the gauges on a line, against the simulator with gauges at 1, 2 and 5 on COM3:
// what it ticks, where it leaves the port, and what a cancel inside a wait does.
#include "LineScan.h"

#include "MainWindowLink.h"
#include "MonotonicClock.h"
#include "Pty.h"
#include "SimProcess.h"

#include <QTimer>
#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>

namespace vg57::test {
namespace {

using platform::MonotonicMs;

struct ScanRig {
    ScanRig() {
        setenv("XDG_CONFIG_HOME", sim.ConfigHome().c_str(), 1);
        MainWindowPort(bus.Port(), 3);
    }
    ~ScanRig() { bus.Port().SetOpen(false); }
    SimProcess sim{{"--addresses", "1,2,5"}};
    TGaugeBus bus;
    TLineScan scan{bus};
    const TPortLine line{3, 9600, pOdd, 1, TRtsOnSend::Driver, false};
};

// '0' is silent: one time-out among the gauges that answer.
TEST(LineScan, ticksExactlyTheGaugesThatAnswerAndLeavesThePortAsItFoundIt) {
    for (const bool openBefore : {false, true}) {
        SCOPED_TRACE(openBefore ? "port open at another rate" : "port closed");
        ScanRig r;
        if (openBefore) {
            r.bus.Port().SetBaud(19200);
            r.bus.Port().SetOpen(true);
        }
        std::string progress;
        r.scan.onProgress = [&](int done, int total, char address, bool answered) {
            EXPECT_TRUE(r.bus.Port().Open());
            EXPECT_EQ(r.bus.Port().Baud(), 9600) << "asked on the line chosen";
            progress += std::to_string(done) + "/" + std::to_string(total) + address +
                        (answered ? "+ " : "- ");
        };
        const auto result = r.scan.Run(r.line, "COM3", "0125");
        EXPECT_EQ(result.answered, "125");
        EXPECT_EQ(result.asked, "0125");
        EXPECT_FALSE(result.cancelled);
        EXPECT_EQ(result.error, "");
        EXPECT_EQ(progress, "1/40- 2/41+ 3/42+ 4/45+ ");
        EXPECT_EQ(r.bus.Port().Open(), openBefore);
        EXPECT_EQ(r.bus.Port().Baud(), openBefore ? 19200 : 9600);
        EXPECT_FALSE(r.bus.GaugeBusy) << "the line is free again";
    }
}

// What lands inside the wait on the silent '0': a cancel, or a second scan (refused, then
// cancelled). The scan ends within that wait; the line answers right after.
TEST(LineScan, aCancelInsideAWaitEndsTheScanThereAndTheLineAnswersRightAfter) {
    for (const bool secondScan : {false, true}) {
        SCOPED_TRACE(secondScan ? "a second scan, then cancel" : "cancel");
        ScanRig r;
        TLineScan::TResult nested;
        std::uint64_t exchangesAtCut = 0;
        QTimer::singleShot(300, [&] {
            if (secondScan) nested = r.scan.Run(r.line, "COM3", "1");
            exchangesAtCut = r.bus.Counters().exchanges;
            r.scan.Cancel();
        });
        const std::int64_t start = MonotonicMs();
        const auto result = r.scan.Run(r.line, "COM3", "0125");
        const std::int64_t took = MonotonicMs() - start;
        EXPECT_LT(took, 1500) << "ended in the wait, not after the time-out";
        EXPECT_TRUE(result.cancelled);
        EXPECT_EQ(result.asked, "") << "the cut wait told nothing";
        EXPECT_EQ(exchangesAtCut, 1u) << "no nested scan";
        EXPECT_EQ(r.bus.Counters().exchanges, 1u);
        if (secondScan) {
            EXPECT_EQ(nested.error, "Поиск приборов уже идёт.");
        }
        EXPECT_FALSE(r.scan.Running());
        EXPECT_FALSE(r.bus.Port().Open()) << "closed, as it was found";
        std::string reply;
        EXPECT_TRUE(r.bus.Exchange('5', "S1", reply)) << "exchanges are no longer cut";
        EXPECT_EQ(reply.substr(0, 2), "5S");
    }
}

// An adapter pulled inside a wait, and a line held by a command sequence: an error that names the
// port or says why, nothing more asked, the port as it was. (A port that won't open: the dialog's
// test.)
TEST(LineScan, aPulledAdapterOrAHeldLineEndsTheScanWithTheReason) {
    ScanRig r;
    PtyPair adapter;
    std::filesystem::create_symlink(adapter.SlavePath(), r.sim.PortsDir() + "/COM7");
    TPortLine com7 = r.line;
    com7.number = 7;
    QTimer::singleShot(300, [&] { adapter.CloseMaster(); });
    const std::int64_t start = MonotonicMs();
    auto result = r.scan.Run(com7, "COM7", "0125");
    EXPECT_LT(MonotonicMs() - start, 4000) << "not every address's time-out";
    EXPECT_EQ(result.error.rfind("Адаптер порта COM7 отключён", 0), 0u) << result.error;
    EXPECT_EQ(result.asked, "");
    EXPECT_FALSE(r.bus.Port().Open());

    const std::uint64_t exchanges = r.bus.Counters().exchanges;
    r.bus.GaugeBusy = true;
    result = r.scan.Run(r.line, "COM3", "125");
    EXPECT_NE(result.error.find("Линия занята"), std::string::npos);
    EXPECT_EQ(r.bus.Counters().exchanges, exchanges);
    EXPECT_TRUE(r.bus.GaugeBusy) << "the holder keeps the line";
}

} // namespace
} // namespace vg57::test
