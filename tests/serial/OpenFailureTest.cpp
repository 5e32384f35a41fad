// Every step of opening made to fail through the device seam: each ends in the exception that
// belongs to it, with nothing held (no thread, no descriptor, no lock on the device).
#include "ComPort.h"
#include "MonotonicClock.h"
#include "SerialCodes.h"
#include "SerialDevice.h"
#include "SerialExcept.h"

#include "HangGuard.h"
#include "MainWindowLink.h"
#include "Pty.h"
#include "TempDir.h"

#include <gtest/gtest.h>

#include <atomic>
#include <cerrno>
#include <chrono>
#include <dirent.h>
#include <thread>

using namespace vg57;
using platform::DeviceCall;
using vg57::test::PtyPair;

namespace {

constexpr int kCom = 36;

int CountEntries(const char* dir) {
    int n = 0;
    if (DIR* d = opendir(dir)) {
        while (readdir(d))
            ++n;
        closedir(d);
    }
    return n;
}
int Threads() {
    return CountEntries("/proc/self/task");
}
// The count once it has come down to `expected` (or after a second): a joined thread can still
// be listed for a moment, until the kernel has reaped it.
int ThreadsSettledAt(int expected) {
    for (int i = 0; i < 1000 && Threads() > expected; ++i)
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    return Threads();
}
int Descriptors() {
    return CountEntries("/proc/self/fd");
}

// Fails the n-th call of one step with an errno, and notes how many threads ran then.
class FailStep : public platform::DeviceFaults {
public:
    FailStep(DeviceCall call, int err, int nth) : call_(call), err_(err), nth_(nth) {
        platform::SetDeviceFaults(this);
    }
    ~FailStep() override { platform::SetDeviceFaults(nullptr); }
    int Inject(DeviceCall call) override {
        if (call != call_ || ++seen_ != nth_) return 0;
        threadsAtFault = Threads();
        return err_;
    }
    std::atomic<int> threadsAtFault{-1};

private:
    DeviceCall call_;
    int err_, nth_;
    std::atomic<int> seen_{0};
};

// What opening raised: its class and code.
std::string Raised(TComPort& port) {
    try {
        port.SetOpen(true);
        return "nothing";
    } catch (const EBadId&) {
        return "EBadId";
    } catch (const EAlreadyOpen&) {
        return "EAlreadyOpen";
    } catch (const ESerialException& e) {
        return "ESerialException " + std::to_string(e.ErrorCode());
    } catch (const EInOutError& e) {
        // The hint about the right to the device belongs to a refused open alone.
        const bool hint = std::string(e.what()).find("dialout") != std::string::npos;
        return "EInOutError " + std::to_string(e.ErrorCode()) + (hint ? " dialout" : "");
    } catch (const std::bad_alloc&) {
        return "bad_alloc";
    }
}

class OpenFailure : public ::testing::Test {
protected:
    OpenFailure() {
        map.Link(kCom, pty.SlavePath());
        test::MainWindowPort(port, kCom);
    }
    test::TempPortMap map;
    PtyPair pty;
    TComPort port;
};

} // namespace

TEST_F(OpenFailure, everyFailingStepRaisesItsErrorAndHoldsNothing) {
    struct Row {
        const char* step;
        DeviceCall call;
        int err;
        int nth;
        int workers; // worker threads already running at the step
        const char* raised;
    };
    // The main window's port sets its modem lines four times before the threads start.
    const Row rows[] = {
        {"no device", DeviceCall::Open, ENOENT, 1, 0, "EBadId"},
        {"open refused", DeviceCall::Open, EIO, 1, 0, "EInOutError 5"},
        {"held elsewhere", DeviceCall::Lock, EWOULDBLOCK, 1, 0, "EAlreadyOpen"},
        {"not a terminal", DeviceCall::CheckTerminal, ENOTTY, 1, 0, "EBadId"},
        {"reading the line", DeviceCall::GetLine, EIO, 1, 0, "EInOutError 5"},
        {"raising DTR", DeviceCall::SetModemLine, EIO, 1, 0, "EInOutError 5"},
        {"writing the line", DeviceCall::SetLine, EIO, 1, 0, "EInOutError 5"},
        {"discarding stale input", DeviceCall::FlushInput, EIO, 1, 0, "EInOutError 5"},
        {"no thread for the writer", DeviceCall::StartThread, EAGAIN, 3, 2, "EInOutError 11"},
        {"DTR once running", DeviceCall::SetModemLine, EIO, 5, 4, "EInOutError 5"},
    };
    test::HangGuard guard("a failing open", 60);
    const int threads = Threads(), fds = Descriptors();
    for (const auto& r : rows) {
        SCOPED_TRACE(r.step);
        // The threads of the row before are gone, so that the count at the fault is this row's.
        ASSERT_EQ(ThreadsSettledAt(threads), threads);
        {
            FailStep fault(r.call, r.err, r.nth);
            const auto start = platform::MonotonicMs();
            EXPECT_EQ(Raised(port), r.raised);
            EXPECT_LT(platform::MonotonicMs() - start, 3000) << "opening held the caller";
            if (r.workers > 0)
                EXPECT_GE(fault.threadsAtFault.load(), threads + r.workers);
            else
                EXPECT_EQ(fault.threadsAtFault.load(), threads);
        }
        EXPECT_FALSE(port.Open());
        EXPECT_EQ(port.CurrentDispatcher(), nullptr);
        EXPECT_EQ(ThreadsSettledAt(threads), threads) << "no worker may remain";
        EXPECT_EQ(Descriptors(), fds) << "no descriptor may remain";
        // Nor the lock on the device: it opens at once without the fault.
        EXPECT_EQ(Raised(port), "nothing");
        port.SetOpen(false);
    }
}

TEST_F(OpenFailure, eachErrnoOfAnOpenKeepsItsOwnMeaning) {
    struct Row {
        DeviceCall call;
        int err;
        const char* raised;
    };
    const Row rows[] = {
        {DeviceCall::Open, ENOENT, "EBadId"},
        {DeviceCall::Open, ENXIO, "EBadId"},
        {DeviceCall::Open, ENODEV, "EBadId"},
        {DeviceCall::Open, EBUSY, "EAlreadyOpen"},
        {DeviceCall::Open, EACCES, "EInOutError 13 dialout"},
        {DeviceCall::Open, EPERM, "EInOutError 13 dialout"},
        {DeviceCall::Open, EIO, "EInOutError 5"},
        {DeviceCall::Open, EINTR, "EInOutError 4"},
        {DeviceCall::Open, EAGAIN, "EInOutError 11"},
        {DeviceCall::Open, ENOMEM, "bad_alloc"},
        {DeviceCall::Open, ENOTDIR, "EInOutError 20"},
        {DeviceCall::Open, EMFILE, "EInOutError 24"},
        {DeviceCall::Open, ENAMETOOLONG, "EInOutError 36"},
        {DeviceCall::Lock, EWOULDBLOCK, "EAlreadyOpen"},
        {DeviceCall::Lock, ENOLCK, "EInOutError 37"},
        // Once the device is open, an errno is what the system said, whatever its number.
        {DeviceCall::SetLine, ENOENT, "EInOutError 2"},
        {DeviceCall::SetLine, EIO, "EInOutError 5"},
        {DeviceCall::SetLine, ENXIO, "EInOutError 6"},
        {DeviceCall::SetLine, EPERM, "EInOutError 1"},
        {DeviceCall::SetLine, EACCES, "EInOutError 13"},
        {DeviceCall::SetLine, EBUSY, "EInOutError 16"},
        {DeviceCall::SetLine, ENODEV, "EInOutError 19"},
        {DeviceCall::SetLine, ENOTTY, "EInOutError 25"},
    };
    test::HangGuard guard("a failing open", 60);
    for (const auto& r : rows) {
        SCOPED_TRACE(std::string("errno ") + std::to_string(r.err) + " at step " +
                     std::to_string(static_cast<int>(r.call)));
        FailStep fault(r.call, r.err, 1);
        EXPECT_EQ(Raised(port), r.raised);
        EXPECT_FALSE(port.Open());
    }
}

TEST(OsErrorCodes, noErrnoAliasesACodeOfTheLink) {
    for (int err = 1; err <= kLargestErrno; ++err) {
        SCOPED_TRACE(err);
        if (err == ENOMEM) {
            EXPECT_THROW(RaiseSerialError(OsErrorCode(err)), std::bad_alloc);
            continue;
        }
        try {
            RaiseSerialError(OsErrorCode(err));
        } catch (const EInOutError& e) {
            EXPECT_EQ(e.ErrorCode(), err);
        } catch (...) {
            ADD_FAILURE() << "raised something else than the system's error";
        }
    }
    EXPECT_EQ(OsErrorCode(0), OsErrorCode(EIO)) << "not an errno: a plain I/O error";
    EXPECT_EQ(OsErrorCode(4096), OsErrorCode(EIO));
}
