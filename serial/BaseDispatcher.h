// The device-independent half of a port dispatcher: the dispatch and output rings, the input
// queue, handler lists and notification cycles, timer slots, the worker thread bookkeeping and
// the process-wide table of dispatchers.
#pragma once

#include "EventLoop.h"
#include "IOQueue.h"
#include "SerialMisc.h"

#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <deque>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

namespace vg57 {

enum TNotification : int { DataAvailable = 1, TimerFired = 2 };

// Called on the dispatch thread with (kind, first argument, second argument); the second
// argument carries the dispatcher's handle in its high 16 bits.
using TDataHandler = std::function<void(int kind, std::uint32_t arg1, std::uint32_t arg2)>;

// Line-event bits of the status records (the classic serial event word).
enum : std::uint32_t {
    evRxChar = 0x0001,
    evCts = 0x0008,
    evDsr = 0x0010,
    evRlsd = 0x0020,
    evBreak = 0x0040,
    evErr = 0x0080,
    evRing = 0x0100,
    evRing2 = 0x2000,
    evStatusMask = 0x21F8,
};
// Modem status bits.
enum : std::uint8_t { msCtsOn = 0x10, msDsrOn = 0x20, msRingOn = 0x40, msRlsdOn = 0x80 };

class TBaseDispatcher;

// One worker thread; counts itself in and out of its dispatcher.
class TDispatcherThread {
public:
    explicit TDispatcherThread(TBaseDispatcher& owner) : owner_(owner) {}
    virtual ~TDispatcherThread();
    // False when the system gives no thread (nothing is counted then).
    bool Start();
    void Join();
    bool Ended() const { return ended_.load(); }
    std::thread::id Id() const { return id_.load(); }
    int Result() const { return result_.load(); }

protected:
    virtual int Execute() = 0; // returns the thread's result code
    TBaseDispatcher& owner_;

private:
    void Run();
    std::thread thread_;
    std::atomic<std::thread::id> id_{};
    std::atomic<bool> ended_{false};
    std::atomic<int> result_{0};
};

// The dispatch loop: moves received bytes into the dispatch ring, runs notification cycles,
// fires timer slots.
class TDispThread : public TDispatcherThread {
public:
    using TDispatcherThread::TDispatcherThread;

protected:
    int Execute() override;
};

class TBaseDispatcher {
public:
    static constexpr std::uint32_t kDispatchBufferSize = 8192;

    TBaseDispatcher();
    virtual ~TBaseDispatcher();
    TBaseDispatcher(const TBaseDispatcher&) = delete;
    TBaseDispatcher& operator=(const TBaseDispatcher&) = delete;

    // Index in the process-wide table.
    int Handle() const { return handle_; }

    // Output: copies n bytes for the writer thread and returns n, or ecOutputBufferTooSmall
    // when they do not fit (nothing is queued then). Once the device is lost, bytes are dropped.
    int QueueOutput(const void* bytes, std::uint32_t n);
    std::uint32_t OutputQueued() const;

    // Input: copies n bytes from the dispatch ring (see the class comment in the .cpp); any
    // thread, inside a cycle or not.
    int ReadBlock(void* destination, std::uint32_t n);
    std::uint32_t InputAvailable() const;
    // When the reader took from the device the first byte that ReadBlock would copy next (the
    // handler's own next byte inside a cycle); -1 when none waits. MonotonicMs.
    std::int64_t NextByteArrivalMs() const;
    // When the reader last took bytes from the device (-1: never): how long the line is quiet.
    std::int64_t LastArrivalMs() const { return lastArrivalMs_.load(); }

    // Handlers. The key identifies the registration; a handler registered with an object is an
    // event handler (called first), one without a procedure handler.
    int RegisterDataHandler(TDataHandler handler, const void* object);
    void UnregisterDataHandler(int key);

    void SetAvailThreshold(std::uint32_t n);

    // Timer slots.
    int AllocTimer();
    int ArmTimer(int handle, std::int32_t ticks, bool on);
    int FreeTimer(int handle);
    struct TTimerSlotCopy {
        int handle;
        std::int32_t length;
    };
    std::vector<TTimerSlotCopy> TimerSlots() const;
    // Registers a slot copied from an earlier dispatcher again, under its old handle.
    void RestoreTimer(const TTimerSlotCopy& slot);

    // Worker threads.
    bool Active() const { return running_.load() > 0; }
    int RunningThreads() const { return running_.load(); }
    bool InNotify() const { return inNotify_.load(); }
    bool ClosePending() const { return closePending_.load(); }
    // Called (on the thread that ended last) when the last worker thread has ended.
    void SetThreadsEndedCallback(std::function<void()> cb);

    // A device read or write error ends the workers; the loss is recorded once, with its reason.
    bool DeviceLost() const { return deviceLost_.load(); }
    int DeviceLossCode() const;
    std::string DeviceLossText() const;
    void SetDeviceLostCallback(std::function<void()> cb);

    std::uint32_t LineErrors() const { return lineErrors_.load(); }
    std::uint8_t ModemStatus() const { return modemStatus_.load(); }

    // Every dispatcher of the process, by handle (nullptr for a free slot).
    static TBaseDispatcher* FromHandle(int handle);
    static int TableSize();

protected:
    friend class TDispatcherThread;
    friend class TDispThread;

    // Buffers for an open device (output ring of outSize bytes) and their reset.
    void ResetBuffers(std::uint32_t outSize);
    void DiscardOutput();
    void DiscardInput();
    std::uint32_t TakeOutput(std::vector<std::uint8_t>& block);
    bool WaitOutputDrained(std::int64_t timeoutMs);

    // Thread start-up and stop. False when the thread could not be created or did not report
    // ready in time; the threads already started keep running until stopped.
    bool StartThread(std::unique_ptr<TDispatcherThread> thread);
    void RemoveTimerSlots();
    // Records the reason of the first device error, stops the threads, tells the port once.
    void RecordDeviceLoss(int code, int osError, const std::string& what);

    // Hooks of the device half.
    virtual void OnOutputQueued() = 0;
    virtual void OnStopRequested() = 0; // wake every worker so it sees stopThreads
    virtual std::uint8_t ReadModemStatus() { return modemStatus_.load(); }
    virtual std::uint32_t ReadLineErrors() { return lineErrors_.load(); }

    // One pass of the dispatch loop; false when the loop is to end.
    bool DispatchPass();
    void RunNotifyCycle(int kind, std::uint32_t arg1);
    void FireTimers();
    std::int64_t NextTimerDeadline() const;

    std::thread::id DispatchThreadId() const { return dispThreadId_.load(); }

    // General lock: handler lists, timer slots, notification state.
    mutable std::mutex lock_;
    std::atomic<bool> stopThreads_{false};
    std::atomic<bool> inNotify_{false};
    std::atomic<bool> closePending_{false};
    std::atomic<int> running_{0};
    std::atomic<std::uint32_t> lineErrors_{0};
    std::atomic<std::uint8_t> modemStatus_{0};
    std::atomic<bool> ringIndicated_{false};
    TIOQueue inputQueue_;
    platform::Waker threadsEnded_;
    std::vector<std::unique_ptr<TDispatcherThread>> threads_; // owned by the opening thread
    std::atomic<std::thread::id> dispThreadId_{};
    std::atomic<std::int64_t> lastArrivalMs_{-1}; // set by the reader thread

private:
    struct HandlerEntry {
        int key;
        TDataHandler handler;
        bool removed = false;
    };
    struct TimerSlot {
        int handle;
        TTickTimer timer;
        std::int32_t length = 0;
        bool armed = false;
    };

    void MoveInputToRing();
    void TailMovedLocked(std::uint32_t n); // under dispatchLock_
    void ThreadStarted();
    void ThreadNotStarted();
    void ThreadEnded();
    void PurgeRemovedHandlers();

    int handle_ = -1;

    // Dispatch ring: bytes received and not yet consumed. Guarded by dispatchLock_.
    // Lock order: the input queue's lock before dispatchLock_; never the queue's (Kick, Empty,
    // Append) while dispatchLock_ is held.
    mutable std::mutex dispatchLock_;
    std::vector<std::uint8_t> dispatchRing_;
    std::uint32_t dispHead_ = 0, dispTail_ = 0;
    bool dispFull_ = false;
    bool headMoved_ = false;             // bytes arrived since the last DataAvailable
    std::uint32_t cycleHandlerRead_ = 0; // read by the handler now running in a cycle
    std::uint32_t cycleMaxRead_ = 0;     // largest count any handler of the cycle read
    // Arrival of the ring's bytes: (position counted since the open, MonotonicMs) where each
    // chunk's bytes begin; entries before the tail's position are let go.
    std::deque<std::pair<std::uint64_t, std::int64_t>> arrivals_;
    std::uint64_t ringIn_ = 0, ringOut_ = 0; // bytes ever put in, and taken from the tail

    // Output ring. Guarded by outputLock_.
    mutable std::mutex outputLock_;
    std::condition_variable outputDrained_;
    std::vector<std::uint8_t> outputRing_;
    std::uint32_t outHead_ = 0, outTail_ = 0;
    bool outFull_ = false;

    // Guarded by lock_.
    std::vector<std::shared_ptr<HandlerEntry>> eventHandlers_, procHandlers_;
    int nextHandlerKey_ = 1;
    std::vector<TimerSlot> timerSlots_;
    int nextTimerHandle_ = 8;
    int timerHandlesGiven_ = 0;
    std::function<void()> threadsEndedCallback_;
    std::function<void()> deviceLostCallback_;
    int deviceLossCode_ = 0;
    std::string deviceLossText_;

    std::atomic<std::uint32_t> availThreshold_{1};
    std::atomic<bool> deviceLost_{false};

    // Ready event: each worker signals it when it starts. Guarded by readyLock_.
    std::mutex readyLock_;
    std::condition_variable readyCv_;
    int readyCount_ = 0;
};

} // namespace vg57
