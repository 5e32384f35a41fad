// The port and its framer across their lives: destroyed, renumbered and reopened while replies
// are on their way to the user-interface thread.
#include "ComPort.h"
#include "DataPacket.h"
#include "SerialDispatcher.h"
#include "SerialMisc.h"

#include "HangGuard.h"
#include "MainWindowLink.h"
#include "Pty.h"
#include "TempDir.h"

#include <gtest/gtest.h>

#include <memory>
#include <thread>

using namespace vg57;
using vg57::test::HangGuard;
using vg57::test::PtyPair;
using vg57::test::PumpUntil;

namespace {

constexpr int kCom = 33;
constexpr int kOtherCom = 34;
const std::string kReply = "\x02"
                           "0R0001\r";

class PortLifecycle : public ::testing::Test {
protected:
    PortLifecycle() {
        map.Link(kCom, pty.SlavePath());
        port = std::make_unique<TComPort>();
        test::MainWindowPort(*port, kCom);
        framer = std::make_unique<TDataPacket>();
        test::MainWindowFramer(*framer);
        framer->OnStringPacket = [this](TDataPacket&, const std::string& s) {
            packets.push_back(s);
        };
        framer->SetComPort(port.get());
    }
    // Waits without handling events until the dispatch thread has handed a packet over and
    // blocks for the user-interface thread.
    bool HandOverInFlight() {
        for (int i = 0; i < 400; ++i) {
            if (framer->Manager() && framer->Manager()->Busy()) {
                std::this_thread::sleep_for(std::chrono::milliseconds(20)); // posted by now
                return true;
            }
            std::this_thread::sleep_for(std::chrono::milliseconds(5));
        }
        return false;
    }
    test::TempPortMap map;
    PtyPair pty;
    std::unique_ptr<TComPort> port;
    std::unique_ptr<TDataPacket> framer;
    std::vector<std::string> packets;
};

} // namespace

// ---- a framer destroyed while its packet waits for the user-interface thread ----

TEST_F(PortLifecycle, aFramerDestroyedWithAReplyInFlightNeverHearsOfIt) {
    HangGuard guard("destroying a framer with a reply in flight", 20);
    port->SetOpen(true);
    pty.Write(kReply);
    ASSERT_TRUE(HandOverInFlight());
    framer.reset();
    for (int i = 0; i < 5; ++i)
        YieldOnce();
    PumpUntil([] { return false; }, 100);
    EXPECT_TRUE(packets.empty());
    // The port goes on with no framer, and closes at once.
    pty.Write(kReply);
    port->SetOpen(false);
    EXPECT_EQ(port->CurrentDispatcher(), nullptr);
}

TEST_F(PortLifecycle, destroyingTheFramerThenThePortWithAReplyInFlightIsClean) {
    HangGuard guard("destroying the framer, then the port", 20);
    port->SetOpen(true);
    pty.Write(kReply);
    ASSERT_TRUE(HandOverInFlight());
    framer.reset();
    port.reset(); // its close waits for the threads, handling events meanwhile
    EXPECT_TRUE(packets.empty());
}

// ---- a new port number chosen inside a packet event ----

TEST_F(PortLifecycle, aNewPortNumberSetInsideAPacketEventReopensOnTheOtherDevice) {
    PtyPair other;
    map.Link(kOtherCom, other.SlavePath());
    framer->OnStringPacket = [this](TDataPacket&, const std::string& s) {
        packets.push_back(s);
        if (packets.size() == 1) port->SetComNumber(kOtherCom);
    };
    HangGuard guard("renumbering the port inside a packet event", 20);
    port->SetOpen(true);
    pty.Write(kReply);
    ASSERT_TRUE(PumpUntil([&] { return packets.size() == 1; }));
    EXPECT_TRUE(port->Open());
    EXPECT_EQ(port->ComNumber(), kOtherCom);

    other.Write("\x02"
                "0S1203\r");
    ASSERT_TRUE(PumpUntil([&] { return packets.size() == 2; }));
    EXPECT_EQ(packets.back(), "0S1203");
    pty.Write("\x02"
              "old line\r");
    PumpUntil([] { return false; }, 100);
    EXPECT_EQ(packets.size(), 2u) << "the first device is no longer read";

    // The first device was let go: it opens again elsewhere.
    TSerialDispatcher d;
    EXPECT_EQ(d.OpenDevice(pty.SlavePath(), 9600, 1, 8, 1, 4096, 4096, loDTR), 0);
    d.CloseDevice();
    port->SetOpen(false);
    EXPECT_FALSE(port->Open());
}

// ---- input that waited on the line while the port was closed ----

struct StaleInputCase {
    const char* name;
    bool openedBefore; // the stale reply came after a close rather than before the first open
};

class StaleInput : public PortLifecycle, public ::testing::WithParamInterface<StaleInputCase> {};

TEST_P(StaleInput, aReplyThatArrivedWhileClosedDoesNotAnswerTheNextRequest) {
    if (GetParam().openedBefore) {
        port->SetOpen(true);
        port->SetOpen(false);
    }
    pty.Write("\x02"
              "stale\r");
    std::this_thread::sleep_for(std::chrono::milliseconds(30));
    port->SetOpen(true);
    pty.Write("\x02"
              "fresh\r");
    ASSERT_TRUE(PumpUntil([&] { return !packets.empty(); }));
    PumpUntil([] { return false; }, 50);
    EXPECT_EQ(packets, std::vector<std::string>{"fresh"});
}

INSTANTIATE_TEST_SUITE_P(Cases, StaleInput,
                         ::testing::Values(StaleInputCase{"afterAClose", true},
                                           StaleInputCase{"beforeTheFirstOpen", false}),
                         [](const auto& info) { return std::string(info.param.name); });
