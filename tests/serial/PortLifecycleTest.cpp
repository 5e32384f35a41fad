// The port and its framer across their lives: destroyed, bound again, renumbered and reopened
// while replies are on their way to the user-interface thread.
#include "ComPort.h"
#include "CrossThreadCall.h"
#include "DataPacket.h"
#include "SerialDispatcher.h"
#include "SerialMisc.h"

#include "HangGuard.h"
#include "MainWindowLink.h"
#include "Pty.h"
#include "TempDir.h"

#include <QCoreApplication>
#include <gtest/gtest.h>

#include <atomic>
#include <cerrno>
#include <csignal>
#include <ctime>
#include <fstream>
#include <memory>
#include <sys/syscall.h>
#include <thread>
#include <unistd.h>

using namespace vg57;
using vg57::test::Frame;
using vg57::test::HangGuard;
using vg57::test::PtyPair;
using vg57::test::PumpUntil;

namespace {

constexpr int kCom = 33;
constexpr int kOtherCom = 34;
const std::string kReply = Frame("0R0001");

// Holds one thread inside a signal handler until released: the test, not the scheduler, decides
// that the user-interface thread handles its events before that thread can wake.
class ThreadHold {
public:
    explicit ThreadHold(pid_t tid) {
        struct sigaction sa {};
        sa.sa_handler = Hold;
        sigemptyset(&sa.sa_mask);
        sigaction(SIGUSR2, &sa, &previous_);
        sReleased = false;
        syscall(SYS_tgkill, getpid(), tid, SIGUSR2);
        while (!sHeld)
            std::this_thread::yield();
    }
    ~ThreadHold() {
        Release();
        while (sHeld)
            std::this_thread::yield();
        sigaction(SIGUSR2, &previous_, nullptr);
    }
    ThreadHold(const ThreadHold&) = delete;
    ThreadHold& operator=(const ThreadHold&) = delete;
    static void Release() { sReleased = true; }

private:
    static void Hold(int) {
        const int saved = errno;
        sHeld = true;
        while (!sReleased) {
            const timespec ms{0, 1000000};
            nanosleep(&ms, nullptr);
        }
        sHeld = false;
        errno = saved;
    }
    static inline std::atomic<bool> sHeld{false}, sReleased{false};
    struct sigaction previous_ {};
};

// True while the thread sleeps in the kernel on a lock or condition.
bool InFutexWait(pid_t tid) {
    std::ifstream f("/proc/self/task/" + std::to_string(tid) + "/syscall");
    long call = -1;
    return (f >> call) && call == SYS_futex;
}

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
    // The open port's dispatch thread, seen from a handler of its own: a byte that makes no
    // packet runs one notification cycle and hands nothing over.
    pid_t DispatchThread() {
        port->CurrentDispatcher()->RegisterDataHandler(
            [this](int, std::uint32_t, std::uint32_t) {
                dispatchThread = static_cast<pid_t>(syscall(SYS_gettid));
            },
            nullptr);
        pty.Write("x");
        for (int i = 0; i < 2000 && dispatchThread == 0; ++i)
            std::this_thread::sleep_for(std::chrono::milliseconds(1));
        return dispatchThread;
    }
    // Waits without handling events until the dispatch thread has cut a packet and (when given)
    // sleeps until the user-interface thread runs its hand-over.
    bool HandOverInFlight(pid_t dispatch = 0) {
        for (int i = 0; i < 2000; ++i) {
            if (framer->Manager() && framer->Manager()->Busy() &&
                (dispatch == 0 || InFutexWait(dispatch)))
                return true;
            std::this_thread::sleep_for(std::chrono::milliseconds(1));
        }
        return false;
    }
    test::TempPortMap map;
    PtyPair pty;
    std::atomic<pid_t> dispatchThread{0}; // before the port: its handler writes it
    std::unique_ptr<TComPort> port;
    std::unique_ptr<TDataPacket> framer;
    std::vector<std::string> packets;
};

} // namespace

// ---- a framer destroyed while its packet waits for the user-interface thread ----

TEST_F(PortLifecycle, aFramerDestroyedWithAReplyInFlightNeverHearsOfIt) {
    HangGuard guard("destroying a framer with a reply in flight", 20);
    port->SetOpen(true);
    const pid_t dispatch = DispatchThread();
    ASSERT_NE(dispatch, 0);
    pty.Write(kReply);
    ASSERT_TRUE(HandOverInFlight(dispatch));
    {
        ThreadHold hold(dispatch);
        framer.reset();
        for (int i = 0; i < 5; ++i)
            YieldOnce();
    }
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
    const pid_t dispatch = DispatchThread();
    ASSERT_NE(dispatch, 0);
    pty.Write(kReply);
    ASSERT_TRUE(HandOverInFlight(dispatch));
    {
        ThreadHold hold(dispatch);
        framer.reset();
        // The dispatch thread goes on only once the close has handled the hand-over before it.
        platform::PostCall(QCoreApplication::instance(), [] { ThreadHold::Release(); });
        port.reset(); // its close waits for the threads, handling events meanwhile
    }
    EXPECT_TRUE(packets.empty());
}

TEST_F(PortLifecycle, aFramerBoundAgainNeverGetsThePacketDroppedWhenItLeft) {
    HangGuard guard("binding a framer again with a reply in flight", 20);
    TDataPacket other; // keeps the port's collector, and the hand-over, alive meanwhile
    test::MainWindowFramer(other);
    other.StartString = "#";
    other.SetComPort(port.get());
    port->SetOpen(true);
    pty.Write(kReply);
    ASSERT_TRUE(HandOverInFlight());
    framer->SetComPort(nullptr);
    framer->SetComPort(port.get());
    PumpUntil([] { return false; }, 100);
    EXPECT_TRUE(packets.empty());
    // Enabled again as after any delivery: the next reply is its own.
    pty.Write(kReply);
    EXPECT_TRUE(PumpUntil([&] { return packets.size() == 1; }));
}

// ---- a new port number chosen inside a packet event ----

// The old dispatch thread returns from the event late (a pause before it locks the collector
// again, as a loaded machine makes it): the reply on the other device must not be dropped.
class Renumbering : public PortLifecycle, public ::testing::WithParamInterface<int> {};

TEST_P(Renumbering, aNewPortNumberSetInsideAPacketEventReopensOnTheOtherDevice) {
    if (const int pauseMs = GetParam())
        framer->Manager()->afterEventsForTests = [pauseMs] {
            std::this_thread::sleep_for(std::chrono::milliseconds(pauseMs));
        };
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

    other.Write(Frame("0S1203"));
    ASSERT_TRUE(PumpUntil([&] { return packets.size() == 2; }));
    EXPECT_EQ(packets.back(), "0S1203");
    pty.Write(Frame("old line"));
    PumpUntil([] { return false; }, 100);
    EXPECT_EQ(packets.size(), 2u) << "the first device is no longer read";

    // The first device was let go: it opens again elsewhere.
    TSerialDispatcher d;
    EXPECT_EQ(d.OpenDevice(pty.SlavePath(), 9600, 1, 8, 1, 4096, 4096, loDTR), 0);
    d.CloseDevice();
    port->SetOpen(false);
    EXPECT_FALSE(port->Open());
}

INSTANTIATE_TEST_SUITE_P(PauseMs, Renumbering, ::testing::Values(0, 20));

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
    pty.Write(Frame("stale"));
    std::this_thread::sleep_for(std::chrono::milliseconds(30));
    port->SetOpen(true);
    pty.Write(Frame("fresh"));
    ASSERT_TRUE(PumpUntil([&] { return !packets.empty(); }));
    PumpUntil([] { return false; }, 50);
    EXPECT_EQ(packets, std::vector<std::string>{"fresh"});
}

INSTANTIATE_TEST_SUITE_P(Cases, StaleInput,
                         ::testing::Values(StaleInputCase{"afterAClose", true},
                                           StaleInputCase{"beforeTheFirstOpen", false}),
                         [](const auto& info) { return std::string(info.param.name); });
