// The dispatcher against real pseudo-terminals.
#include "SerialCodes.h"
#include "SerialDispatcher.h"

#include "../support/Pty.h"

#include <QCoreApplication>
#include <gtest/gtest.h>

#include <condition_variable>
#include <fcntl.h>
#include <mutex>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>

using namespace vg57;
using vg57::test::Frame;
using vg57::test::PtyPair;

namespace {

constexpr std::uint32_t kMainWindowLine = loDTR; // DTR raised, RTS dropped, no handshake

// Collects what a data handler receives on the dispatch thread.
struct Received {
    std::mutex mutex;
    std::condition_variable cv;
    std::string bytes;
    int cycles = 0;
    std::vector<int> timers;

    bool WaitFor(std::size_t n, int ms = 2000) {
        std::unique_lock lock(mutex);
        return cv.wait_for(lock, std::chrono::milliseconds(ms), [&] { return bytes.size() >= n; });
    }
    bool WaitTimers(std::size_t n, int ms) {
        std::unique_lock lock(mutex);
        return cv.wait_for(lock, std::chrono::milliseconds(ms), [&] { return timers.size() >= n; });
    }
};

int Open(TSerialDispatcher& d, const PtyPair& pty) {
    return d.OpenDevice(pty.SlavePath(), 9600, 1, 8, 1, 4096, 4096, kMainWindowLine);
}

int ReadAllHandler(TSerialDispatcher& d, Received& r) {
    return d.RegisterDataHandler(
        [&d, &r](int kind, std::uint32_t count, std::uint32_t) {
            std::lock_guard lock(r.mutex);
            if (kind == DataAvailable) {
                std::string chunk(count, '\0');
                EXPECT_EQ(d.ReadBlock(chunk.data(), count), static_cast<int>(count));
                r.bytes += chunk;
                ++r.cycles;
            } else if (kind == TimerFired) {
                r.timers.push_back(static_cast<int>(count));
            }
            r.cv.notify_all();
        },
        &r);
}

} // namespace

// ---- opening ----

TEST(DispatcherOpen, aMissingNodeIsNotFound) {
    TSerialDispatcher d;
    EXPECT_EQ(d.OpenDevice("/dev/pts/does-not-exist", 9600, 0, 8, 1, 4096, 4096, 0), ecBadId);
    EXPECT_FALSE(d.DeviceOpen());
    EXPECT_EQ(d.RunningThreads(), 0);
}

TEST(DispatcherOpen, aFileThatIsNoTerminalIsNotASerialDevice) {
    TSerialDispatcher d;
    EXPECT_EQ(d.OpenDevice("/dev/null", 9600, 0, 8, 1, 4096, 4096, 0), ecBadId);
    EXPECT_EQ(d.RunningThreads(), 0);
}

TEST(DispatcherOpen, aDeviceHeldByAnotherOpenIsAccessDenied) {
    PtyPair pty;
    TSerialDispatcher first, second;
    ASSERT_EQ(Open(first, pty), 0);
    EXPECT_EQ(Open(second, pty), ecAlreadyOpen);
    EXPECT_EQ(second.RunningThreads(), 0);
    first.CloseDevice();
    EXPECT_EQ(Open(second, pty), 0) << "the lock goes with the close";
}

TEST(DispatcherOpen, noRightToTheDeviceStaysDistinguishable) {
    // Tests run as root, which may open anything: a child that has become "nobody" may not
    // open a pseudo-terminal of root's (mode 0620, group tty).
    PtyPair pty;
    const pid_t child = fork();
    if (child == 0) {
        if (setgid(65534) != 0 || setuid(65534) != 0) _exit(99);
        TSerialDispatcher d;
        const int code = d.OpenDevice(pty.SlavePath(), 9600, 0, 8, 1, 4096, 4096, 0);
        _exit(code == ecPermissionDenied ? 0 : 1);
    }
    int status = 0;
    waitpid(child, &status, 0);
    ASSERT_TRUE(WIFEXITED(status));
    if (WEXITSTATUS(status) == 99) GTEST_SKIP() << "cannot drop privileges here";
    EXPECT_EQ(WEXITSTATUS(status), 0) << "EACCES must not look like a missing or busy device";
}

TEST(DispatcherOpen, startsFourWorkersAndTakesATableSlot) {
    PtyPair pty;
    auto d = std::make_unique<TSerialDispatcher>();
    ASSERT_EQ(Open(*d, pty), 0);
    EXPECT_EQ(d->RunningThreads(), 4);
    EXPECT_EQ(TBaseDispatcher::FromHandle(d->Handle()), d.get());
    const int handle = d->Handle();
    d->CloseDevice();
    EXPECT_EQ(d->RunningThreads(), 0);
    d.reset();
    EXPECT_EQ(TBaseDispatcher::FromHandle(handle), nullptr);
}

TEST(DispatcherOpen, mainWindowLineIsRawWithRs485Direction) {
    PtyPair pty;
    TSerialDispatcher d;
    ASSERT_EQ(Open(d, pty), 0);
    ASSERT_EQ(d.SetHandshake(0, 0, 0), 0);
    ASSERT_EQ(d.SetRS485(true), 0);
    ASSERT_EQ(d.SetHandshake(0, 0, 0), 0); // the port applies the handshake again after RS-485
    EXPECT_EQ(d.LastAppliedRate(), 9600u);
    EXPECT_EQ(platform::ParityOf(d.LineSettings()), platform::kParityOdd);
    EXPECT_TRUE(d.DtrState());
    EXPECT_FALSE(d.DtrAuto());
    EXPECT_TRUE(d.RtsAuto());
    EXPECT_EQ(d.SetRTSLine(true), 1) << "RTS belongs to the direction control";
    // A pseudo-terminal has no modem control: writes go out plainly.
    EXPECT_EQ(d.Rs485Direction(), TRs485Direction::None);
}

// ---- receiving ----

TEST(DispatcherRead, bytesFromTheFarEndReachTheHandlerUnchanged) {
    PtyPair pty;
    TSerialDispatcher d;
    ASSERT_EQ(Open(d, pty), 0);
    Received r;
    ReadAllHandler(d, r);
    const std::string frame = Frame("0R0002");
    pty.Write(frame);
    ASSERT_TRUE(r.WaitFor(frame.size()));
    EXPECT_EQ(r.bytes, frame) << "raw mode: 0x0D must stay 0x0D, nothing echoed or mapped";
    EXPECT_EQ(pty.Read(50), "") << "nothing may be echoed back to the line";
}

TEST(DispatcherRead, chunksArriveInOrder) {
    PtyPair pty;
    TSerialDispatcher d;
    ASSERT_EQ(Open(d, pty), 0);
    Received r;
    ReadAllHandler(d, r);
    std::string all;
    for (int i = 0; i < 40; ++i) {
        std::string piece(1 + i * 37 % 300, static_cast<char>('A' + i % 26));
        all += piece;
        pty.Write(piece);
        if (i % 7 == 0) std::this_thread::sleep_for(std::chrono::milliseconds(2));
    }
    ASSERT_TRUE(r.WaitFor(all.size()));
    EXPECT_EQ(r.bytes, all);
}

TEST(DispatcherRead, twoHandlersInOneCycleAdvanceTheTailByTheLargerCount) {
    PtyPair pty;
    TSerialDispatcher d;
    ASSERT_EQ(Open(d, pty), 0);
    std::mutex m;
    std::condition_variable cv;
    std::string seenA, seenB;
    int cycles = 0;
    std::uint32_t secondCount = 0;
    auto reader = [&](std::string& seen, std::uint32_t n) {
        return [&, n](int kind, std::uint32_t count, std::uint32_t) {
            if (kind != DataAvailable) return;
            std::string buf(n, '\0');
            const bool ok = count >= n && d.ReadBlock(buf.data(), n) == static_cast<int>(n);
            std::lock_guard lock(m);
            if (cycles == 0 && ok) seen = buf;
            if (&seen == &seenB) {
                if (++cycles == 2) secondCount = count;
                cv.notify_all();
            }
        };
    };
    d.RegisterDataHandler(reader(seenA, 3), &seenA);
    d.RegisterDataHandler(reader(seenB, 5), &seenB);
    pty.Write("abcdefgh");
    {
        std::unique_lock lock(m);
        ASSERT_TRUE(cv.wait_for(lock, std::chrono::seconds(2), [&] { return cycles >= 1; }));
        EXPECT_EQ(seenA, "abc");
        EXPECT_EQ(seenB, "abcde") << "both handlers read from the same tail";
    }
    pty.Write("X");
    std::unique_lock lock(m);
    ASSERT_TRUE(cv.wait_for(lock, std::chrono::seconds(2), [&] { return cycles >= 2; }));
    EXPECT_EQ(secondCount, 4u) << "fgh left after advancing by 5, plus X";
}

TEST(DispatcherRead, readingMoreThanBufferedFailsAndCopiesNothing) {
    PtyPair pty;
    TSerialDispatcher d;
    ASSERT_EQ(Open(d, pty), 0);
    std::mutex m;
    std::condition_variable cv;
    int result = 0;
    bool done = false;
    char buf[16] = "untouched";
    d.RegisterDataHandler(
        [&](int kind, std::uint32_t count, std::uint32_t) {
            if (kind != DataAvailable) return;
            std::lock_guard lock(m);
            result = d.ReadBlock(buf, count + 1);
            done = true;
            cv.notify_all();
        },
        nullptr);
    pty.Write("ab");
    std::unique_lock lock(m);
    ASSERT_TRUE(cv.wait_for(lock, std::chrono::seconds(2), [&] { return done; }));
    EXPECT_EQ(result, ecBufferIsEmpty);
    EXPECT_STREQ(buf, "untouched");
}

// ---- writing ----

TEST(DispatcherWrite, queuedBytesReachTheFarEnd) {
    PtyPair pty;
    TSerialDispatcher d;
    ASSERT_EQ(Open(d, pty), 0);
    const std::string frame = Frame("0R1");
    EXPECT_EQ(d.QueueOutput(frame.data(), static_cast<std::uint32_t>(frame.size())), 5);
    EXPECT_EQ(pty.Read(1000, 5), frame);
}

// ---- line settings ----

TEST(DispatcherLine, unchangedSettingsWriteNothingAndDoNotSleep) {
    PtyPair pty;
    TSerialDispatcher d;
    ASSERT_EQ(Open(d, pty), 0);
    const int writes = d.LineWrites();
    const auto start = std::chrono::steady_clock::now();
    EXPECT_EQ(d.ApplyLineSettings(9600, 1, 8, 1), 0);
    EXPECT_EQ(d.ApplyLineSettings(0, platform::kParityKeep, platform::kDataBitsKeep,
                                  platform::kStopBitsKeep),
              0);
    EXPECT_EQ(d.LineWrites(), writes);
    // Changed settings wait 19 ms for 18 characters at 9600 baud; unchanged ones must not.
    EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::milliseconds(10));
    EXPECT_EQ(d.ApplyLineSettings(19200, 2, 8, 2), 0);
    EXPECT_EQ(d.LineWrites(), writes + 1);
    EXPECT_EQ(d.LastAppliedRate(), 19200u);
    EXPECT_EQ(platform::StopBitsOf(d.LineSettings()), 2);
}

TEST(DispatcherLine, handshakeThresholdsOutOfOrderAreABadArgument) {
    PtyPair pty;
    TSerialDispatcher d;
    ASSERT_EQ(Open(d, pty), 0);
    EXPECT_EQ(d.SetHandshake(100, 200, hwfUseRTS), ecBadArgument);
    EXPECT_EQ(d.SetHandshake(5000, 10, hwfUseRTS), ecBadArgument) << "above the receive queue";
    EXPECT_EQ(d.SetHandshake(3686, 410, hwfUseDTR), 0);
    EXPECT_TRUE(d.DtrAuto());
    EXPECT_EQ(d.SetDTRLine(false), 1);
}

// ---- timer slots ----

TEST(DispatcherTimers, handlesAreRisingMultiplesOfEight) {
    PtyPair pty;
    TSerialDispatcher d;
    ASSERT_EQ(Open(d, pty), 0);
    EXPECT_EQ(d.AllocTimer(), 8);
    EXPECT_EQ(d.AllocTimer(), 16);
    EXPECT_EQ(d.FreeTimer(8), 0);
    EXPECT_EQ(d.AllocTimer(), 24) << "handles rise since the open";
    EXPECT_EQ(d.ArmTimer(12, 1, true), ecBadTriggerHandle);
    EXPECT_EQ(d.FreeTimer(8), ecBadTriggerHandle);
}

TEST(DispatcherTimers, slotFiresOnTimeAndRearmWithZeroKeepsTheLength) {
    PtyPair pty;
    TSerialDispatcher d;
    ASSERT_EQ(Open(d, pty), 0);
    Received r;
    ReadAllHandler(d, r);
    const int h = d.AllocTimer();
    auto start = std::chrono::steady_clock::now();
    ASSERT_EQ(d.ArmTimer(h, 3, true), 0);
    ASSERT_TRUE(r.WaitTimers(1, 1000));
    auto elapsed = std::chrono::steady_clock::now() - start;
    EXPECT_GE(elapsed, std::chrono::milliseconds(3 * 55));
    EXPECT_LE(elapsed, std::chrono::milliseconds(4 * 55 + 20)) << "at most one pass late";
    EXPECT_EQ(r.timers.at(0), h);

    start = std::chrono::steady_clock::now();
    ASSERT_EQ(d.ArmTimer(h, 0, true), 0);
    ASSERT_TRUE(r.WaitTimers(2, 1000));
    elapsed = std::chrono::steady_clock::now() - start;
    EXPECT_GE(elapsed, std::chrono::milliseconds(3 * 55)) << "0 ticks keeps the earlier length";

    ASSERT_EQ(d.ArmTimer(h, 1, true), 0);
    ASSERT_EQ(d.ArmTimer(h, 0, false), 0);
    EXPECT_FALSE(r.WaitTimers(3, 200)) << "a stopped slot never fires";
}

// ---- closing ----

TEST(DispatcherClose, discardsInputNotYetHandedToHandlers) {
    PtyPair pty;
    {
        TSerialDispatcher d;
        ASSERT_EQ(Open(d, pty), 0);
        pty.Write("stale bytes");
        std::this_thread::sleep_for(std::chrono::milliseconds(50)); // into the dispatch ring
        EXPECT_EQ(d.InputAvailable(), 11u);
        d.CloseDevice();
        EXPECT_EQ(d.InputAvailable(), 0u);
    }
    TSerialDispatcher again;
    ASSERT_EQ(Open(again, pty), 0);
    Received r;
    ReadAllHandler(again, r);
    pty.Write("fresh");
    ASSERT_TRUE(r.WaitFor(5));
    EXPECT_EQ(r.bytes, "fresh");
}

TEST(DispatcherClose, discardsOutputNotYetSentAndEndsPromptly) {
    PtyPair pty;
    TSerialDispatcher d;
    ASSERT_EQ(Open(d, pty), 0);
    // Nobody reads the far end: the pseudo-terminal fills and the writer blocks.
    const std::string block(4096, 'x');
    std::uint64_t queued = 0;
    const auto until = std::chrono::steady_clock::now() + std::chrono::seconds(3);
    int tooSmall = 0;
    while (tooSmall < 20 && std::chrono::steady_clock::now() < until) {
        if (d.QueueOutput(block.data(), 4096) == 4096)
            queued += 4096;
        else {
            ++tooSmall;
            std::this_thread::sleep_for(std::chrono::milliseconds(5));
        }
    }
    ASSERT_GT(tooSmall, 0) << "the line should have backed up";
    const auto start = std::chrono::steady_clock::now();
    d.CloseDevice();
    EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::milliseconds(500));
    EXPECT_EQ(d.RunningThreads(), 0);
    EXPECT_LT(pty.Read(200).size(), queued) << "queued output must not go out after a close";
}

TEST(DispatcherClose, closingTwiceAndClosingUnopenedDoNothing) {
    PtyPair pty;
    TSerialDispatcher d;
    d.CloseDevice();
    ASSERT_EQ(Open(d, pty), 0);
    d.CloseDevice();
    d.CloseDevice();
    EXPECT_FALSE(d.DeviceOpen());
}

// ---- a lost device ----

TEST(DispatcherLoss, pullingTheFarEndEndsEveryWorkerOnceWithoutCpu) {
    PtyPair pty;
    TSerialDispatcher d;
    ASSERT_EQ(Open(d, pty), 0);
    std::atomic<int> lossReports{0};
    d.SetDeviceLostCallback([&] { ++lossReports; });
    pty.CloseMaster();
    const auto until = std::chrono::steady_clock::now() + std::chrono::seconds(2);
    while (d.RunningThreads() > 0 && std::chrono::steady_clock::now() < until)
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    EXPECT_EQ(d.RunningThreads(), 0);
    EXPECT_TRUE(d.DeviceLost());
    EXPECT_EQ(d.DeviceLossCode(), ecDeviceRead);
    EXPECT_NE(d.DeviceLossText().find("Device read error"), std::string::npos);
    EXPECT_EQ(lossReports.load(), 1);
    EXPECT_EQ(d.LineErrors(), 0xFFFFFFFFu);
    const auto cpu = test::ProcessCpuMicros();
    std::this_thread::sleep_for(std::chrono::milliseconds(300));
    EXPECT_LT(test::ProcessCpuMicros() - cpu, 30000) << "nothing may spin after a loss";
}

TEST(DispatcherLoss, outputAfterALossIsDiscardedNotPiledUp) {
    PtyPair pty;
    TSerialDispatcher d;
    ASSERT_EQ(Open(d, pty), 0);
    pty.CloseMaster();
    const auto until = std::chrono::steady_clock::now() + std::chrono::seconds(2);
    while (!d.DeviceLost() && std::chrono::steady_clock::now() < until)
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    ASSERT_TRUE(d.DeviceLost());
    // Polling at 0.5 s would fill 4096 bytes in minutes; each request must still be accepted.
    const std::string frame = Frame("0S1");
    for (int i = 0; i < 2000; ++i)
        ASSERT_EQ(d.QueueOutput(frame.data(), 5), 5) << "request " << i;
    EXPECT_EQ(d.OutputQueued(), 0u);
    d.CloseDevice();
    EXPECT_FALSE(d.DeviceOpen());
}
