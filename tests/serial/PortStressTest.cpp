// Opening and closing the port over and over while the far end talks without pause: the close
// meets the dispatch thread at every point of its work. Meant for ThreadSanitizer.
#include "ComPort.h"
#include "DataPacket.h"

#include "Chatter.h"
#include "HangGuard.h"
#include "MainWindowLink.h"
#include "Pty.h"
#include "TempDir.h"

#include <gtest/gtest.h>

#include <atomic>
#include <thread>

using namespace vg57;
using vg57::test::PtyPair;
using vg57::test::PumpUntil;

namespace {

constexpr int kCom = 35;

} // namespace

TEST(PortStress, openingAndClosingWhileTheFarEndWritesFastStaysSound) {
    test::TempPortMap map;
    PtyPair pty;
    map.Link(kCom, pty.SlavePath());
    TComPort port;
    test::MainWindowPort(port, kCom);
    TDataPacket framer;
    test::MainWindowFramer(framer);
    std::size_t packets = 0;
    framer.OnStringPacket = [&](TDataPacket&, const std::string&) { ++packets; };
    framer.SetComPort(&port);

    test::Chatter talker(pty,
                         "\x02"
                         "0S1203\r\x02"
                         "0R0001\r",
                         std::chrono::microseconds(100));
    test::HangGuard guard("opening and closing under traffic", 100);
    for (int round = 0; round < 300; ++round) {
        port.SetOpen(true);
        const std::size_t before = packets;
        // Close at varied moments: at once, or once packets flow.
        if (round % 3 != 0) PumpUntil([&] { return packets > before + round % 7; }, 200);
        port.SetOpen(false);
        ASSERT_FALSE(port.Open()) << "round " << round;
        ASSERT_EQ(port.CurrentDispatcher(), nullptr) << "round " << round;
    }
    EXPECT_GT(packets, 0u);
}
