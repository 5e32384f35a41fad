// ReadBlock inside a DataAvailable cycle does not move the tail: each handler reads from the
// same tail, its own count is noted, and the tail advances by the largest count at the end of
// the cycle, so every handler sees every byte. Outside a cycle the tail moves at once.
#include "BaseDispatcher.h"

#include "MonotonicClock.h"
#include "SerialCodes.h"
#include "SerialDevice.h"

#include <algorithm>
#include <cstring>

namespace vg57 {

namespace {
std::mutex gTableLock;
std::vector<TBaseDispatcher*> gTable; // guarded by gTableLock

// Bytes held in a ring of `size` bytes from tail to head; equal ends mean empty unless full.
std::uint32_t RingUsed(std::uint32_t head, std::uint32_t tail, bool full, std::uint32_t size) {
    if (size == 0) return 0;
    return full ? size : (head + size - tail) % size;
}
} // namespace

// ---- worker threads ----

TDispatcherThread::~TDispatcherThread() {
    Join();
}

bool TDispatcherThread::Start() {
    // Counted before it exists, or a thread that ends at once would count itself out first.
    owner_.ThreadStarted();
    try {
        thread_ = platform::StartDeviceThread([this] { Run(); });
    } catch (...) { // no thread to give (std::system_error), or no memory for its state
        // Counted but never run: the owner would wait for it for good.
        owner_.ThreadNotStarted();
        return false;
    }
    return true;
}

void TDispatcherThread::Join() {
    if (thread_.joinable()) thread_.join();
}

void TDispatcherThread::Run() {
    id_.store(std::this_thread::get_id());
    {
        std::lock_guard lock(owner_.readyLock_);
        ++owner_.readyCount_;
        owner_.readyCv_.notify_all();
    }
    int result = 0;
    try {
        result = Execute();
    } catch (const std::bad_alloc&) {
        result = ecNoMemoryForChunk;
    }
    result_.store(result);
    ended_.store(true);
    // Nothing of this object or its owner may be touched after this call.
    owner_.ThreadEnded();
}

int TDispThread::Execute() {
    owner_.dispThreadId_.store(std::this_thread::get_id());
    bool stalled = false;
    while (!owner_.stopThreads_.load()) {
        owner_.inputQueue_.Wait(owner_.NextTimerDeadline(), stalled);
        if (owner_.stopThreads_.load()) break;
        stalled = !owner_.DispatchPass();
    }
    return 0;
}

// ---- table, life ----

TBaseDispatcher::TBaseDispatcher() : dispatchRing_(kDispatchBufferSize) {
    std::lock_guard lock(gTableLock);
    auto free = std::find(gTable.begin(), gTable.end(), nullptr);
    if (free != gTable.end()) {
        *free = this;
        handle_ = static_cast<int>(free - gTable.begin());
    } else {
        handle_ = static_cast<int>(gTable.size());
        gTable.push_back(this);
    }
}

TBaseDispatcher::~TBaseDispatcher() {
    // Handed-over calls of the workers may still need this thread's events to finish.
    threadsEnded_.WaitPumping([this] { return running_.load() == 0; }, -1);
    threads_.clear();
    std::lock_guard lock(gTableLock);
    gTable[handle_] = nullptr;
    while (!gTable.empty() && gTable.back() == nullptr)
        gTable.pop_back();
}

TBaseDispatcher* TBaseDispatcher::FromHandle(int handle) {
    std::lock_guard lock(gTableLock);
    return handle >= 0 && handle < static_cast<int>(gTable.size()) ? gTable[handle] : nullptr;
}

int TBaseDispatcher::TableSize() {
    std::lock_guard lock(gTableLock);
    return static_cast<int>(gTable.size());
}

void TBaseDispatcher::ThreadStarted() {
    running_.fetch_add(1);
}

void TBaseDispatcher::ThreadNotStarted() {
    running_.fetch_sub(1);
}

void TBaseDispatcher::ThreadEnded() {
    // Safe after the count reached zero: the destructor joins this thread before members go.
    const bool last = running_.fetch_sub(1) == 1;
    std::function<void()> callback;
    if (last) {
        std::lock_guard lock(lock_);
        callback = threadsEndedCallback_;
    }
    if (callback) callback();
    threadsEnded_.Wake();
}

bool TBaseDispatcher::StartThread(std::unique_ptr<TDispatcherThread> thread) {
    int before;
    {
        std::lock_guard lock(readyLock_);
        before = readyCount_;
    }
    if (!thread->Start()) return false;
    threads_.push_back(std::move(thread));
    std::unique_lock lock(readyLock_);
    return readyCv_.wait_for(lock, std::chrono::milliseconds(3000),
                             [&] { return readyCount_ != before; });
}

void TBaseDispatcher::SetThreadsEndedCallback(std::function<void()> cb) {
    std::lock_guard lock(lock_);
    threadsEndedCallback_ = std::move(cb);
}

void TBaseDispatcher::SetDeviceLostCallback(std::function<void()> cb) {
    std::lock_guard lock(lock_);
    deviceLostCallback_ = std::move(cb);
}

int TBaseDispatcher::DeviceLossCode() const {
    std::lock_guard lock(lock_);
    return deviceLossCode_;
}

std::string TBaseDispatcher::DeviceLossText() const {
    std::lock_guard lock(lock_);
    return deviceLossText_;
}

void TBaseDispatcher::RecordDeviceLoss(int code, int osError, const std::string& what) {
    std::function<void()> callback;
    {
        std::lock_guard lock(lock_);
        if (!deviceLost_.load()) {
            deviceLossCode_ = code;
            deviceLossText_ = what + ": " + platform::OsErrorText(osError);
            deviceLost_.store(true);
            callback = deviceLostCallback_;
        }
    }
    lineErrors_.store(0xFFFFFFFFu);
    stopThreads_.store(true);
    // The line is gone: what was queued can never leave.
    DiscardOutput();
    OnStopRequested();
    if (callback) callback();
}

// ---- buffers ----

void TBaseDispatcher::ResetBuffers(std::uint32_t outSize) {
    {
        std::lock_guard lock(outputLock_);
        outputRing_.assign(outSize, 0);
        outHead_ = outTail_ = 0;
        outFull_ = false;
    }
    std::lock_guard lock(dispatchLock_);
    dispHead_ = dispTail_ = 0;
    dispFull_ = false;
    headMoved_ = false;
    arrivals_.clear();
    ringOut_ = ringIn_;
}

int TBaseDispatcher::QueueOutput(const void* bytes, std::uint32_t n) {
    if (n == 0) return 0;
    {
        std::lock_guard lock(outputLock_);
        if (deviceLost_.load()) return static_cast<int>(n);
        const auto size = static_cast<std::uint32_t>(outputRing_.size());
        const std::uint32_t used = RingUsed(outHead_, outTail_, outFull_, size);
        if (n > size - used) return ecOutputBufferTooSmall;
        const auto* src = static_cast<const std::uint8_t*>(bytes);
        const std::uint32_t first = std::min(n, size - outHead_);
        std::memcpy(outputRing_.data() + outHead_, src, first);
        std::memcpy(outputRing_.data(), src + first, n - first);
        outHead_ = (outHead_ + n) % size;
        if (used + n == size) outFull_ = true;
    }
    OnOutputQueued();
    return static_cast<int>(n);
}

std::uint32_t TBaseDispatcher::OutputQueued() const {
    std::lock_guard lock(outputLock_);
    return RingUsed(outHead_, outTail_, outFull_, static_cast<std::uint32_t>(outputRing_.size()));
}

std::uint32_t TBaseDispatcher::TakeOutput(std::vector<std::uint8_t>& block) {
    std::lock_guard lock(outputLock_);
    block.clear();
    const auto size = static_cast<std::uint32_t>(outputRing_.size());
    if (size == 0) return 0;
    const std::uint32_t used = RingUsed(outHead_, outTail_, outFull_, size);
    const std::uint32_t first = std::min(used, size - outTail_);
    block.insert(block.end(), outputRing_.begin() + outTail_,
                 outputRing_.begin() + outTail_ + first);
    block.insert(block.end(), outputRing_.begin(), outputRing_.begin() + (used - first));
    outHead_ = outTail_ = 0;
    outFull_ = false;
    outputDrained_.notify_all();
    return used;
}

void TBaseDispatcher::DiscardOutput() {
    std::lock_guard lock(outputLock_);
    outHead_ = outTail_ = 0;
    outFull_ = false;
    outputDrained_.notify_all();
}

bool TBaseDispatcher::WaitOutputDrained(std::int64_t timeoutMs) {
    std::unique_lock lock(outputLock_);
    return outputDrained_.wait_for(lock, std::chrono::milliseconds(timeoutMs),
                                   [&] { return !outFull_ && outHead_ == outTail_; });
}

void TBaseDispatcher::DiscardInput() {
    inputQueue_.Clear();
    std::lock_guard lock(dispatchLock_);
    dispHead_ = dispTail_ = 0;
    dispFull_ = false;
    headMoved_ = false;
    arrivals_.clear();
    ringOut_ = ringIn_;
}

void TBaseDispatcher::TailMovedLocked(std::uint32_t n) {
    ringOut_ += n;
    while (arrivals_.size() > 1 && arrivals_[1].first <= ringOut_)
        arrivals_.pop_front();
    if (ringOut_ == ringIn_) arrivals_.clear();
}

std::int64_t TBaseDispatcher::NextByteArrivalMs() const {
    std::lock_guard lock(dispatchLock_);
    const bool inCycle = inNotify_.load() && std::this_thread::get_id() == dispThreadId_.load();
    const std::uint64_t at = ringOut_ + (inCycle ? cycleHandlerRead_ : 0);
    if (at >= ringIn_) return -1;
    std::int64_t ms = -1;
    for (const auto& [from, arrived] : arrivals_) {
        if (from > at) break;
        ms = arrived;
    }
    return ms;
}

std::uint32_t TBaseDispatcher::InputAvailable() const {
    std::lock_guard lock(dispatchLock_);
    return RingUsed(dispHead_, dispTail_, dispFull_, kDispatchBufferSize);
}

int TBaseDispatcher::ReadBlock(void* destination, std::uint32_t n) {
    bool madeRoom = false;
    {
        std::lock_guard lock(dispatchLock_);
        const bool inCycle = inNotify_.load() && std::this_thread::get_id() == dispThreadId_.load();
        const std::uint32_t used = RingUsed(dispHead_, dispTail_, dispFull_, kDispatchBufferSize);
        const std::uint32_t offset = inCycle ? cycleHandlerRead_ : 0;
        if (n > used - std::min(offset, used)) return ecBufferIsEmpty;
        const std::uint32_t from = (dispTail_ + offset) % kDispatchBufferSize;
        const std::uint32_t first = std::min(n, kDispatchBufferSize - from);
        auto* dst = static_cast<std::uint8_t*>(destination);
        std::memcpy(dst, dispatchRing_.data() + from, first);
        std::memcpy(dst + first, dispatchRing_.data(), n - first);
        if (inCycle) {
            cycleHandlerRead_ += n;
            cycleMaxRead_ = std::max(cycleMaxRead_, cycleHandlerRead_);
        } else if (n > 0) {
            dispTail_ = (dispTail_ + n) % kDispatchBufferSize;
            dispFull_ = false;
            TailMovedLocked(n);
            madeRoom = true;
        }
    }
    // Room was made: the dispatch thread may move more of the input queue now. Outside the
    // dispatch lock, which is never held while the queue's lock is taken.
    if (madeRoom) inputQueue_.Kick();
    return static_cast<int>(n);
}

void TBaseDispatcher::MoveInputToRing() {
    inputQueue_.Locked([this](std::deque<std::unique_ptr<TIOBuffer>>& q) {
        while (!q.empty()) {
            auto* chunk = dynamic_cast<TDataBuffer*>(q.front().get());
            if (!chunk) break; // a status record stops the move until it is taken
            std::lock_guard lock(dispatchLock_);
            const std::uint32_t used =
                RingUsed(dispHead_, dispTail_, dispFull_, kDispatchBufferSize);
            const std::uint32_t n = std::min(kDispatchBufferSize - used, chunk->used - chunk->read);
            if (n == 0 && chunk->used != chunk->read) break; // dispatch buffer full
            const std::uint32_t first = std::min(n, kDispatchBufferSize - dispHead_);
            std::memcpy(dispatchRing_.data() + dispHead_, chunk->data + chunk->read, first);
            std::memcpy(dispatchRing_.data(), chunk->data + chunk->read + first, n - first);
            dispHead_ = (dispHead_ + n) % kDispatchBufferSize;
            if (used + n == kDispatchBufferSize) dispFull_ = true;
            if (n > 0) {
                headMoved_ = true;
                arrivals_.emplace_back(ringIn_, chunk->arrivedMs);
                ringIn_ += n;
            }
            chunk->read += n;
            if (chunk->read < chunk->used) break;
            q.pop_front();
        }
    });
}

// ---- handlers ----

int TBaseDispatcher::RegisterDataHandler(TDataHandler handler, const void* object) {
    std::lock_guard lock(lock_);
    const int key = nextHandlerKey_++;
    auto entry = std::make_shared<HandlerEntry>(HandlerEntry{key, std::move(handler)});
    (object ? eventHandlers_ : procHandlers_).push_back(std::move(entry));
    return key;
}

void TBaseDispatcher::UnregisterDataHandler(int key) {
    std::lock_guard lock(lock_);
    for (auto* list : {&eventHandlers_, &procHandlers_}) {
        for (auto it = list->begin(); it != list->end(); ++it) {
            if ((*it)->key != key) continue;
            // During a cycle the entry is only marked; the cycle deletes it when it ends.
            if (inNotify_.load())
                (*it)->removed = true;
            else
                list->erase(it);
            return;
        }
    }
}

void TBaseDispatcher::PurgeRemovedHandlers() {
    for (auto* list : {&eventHandlers_, &procHandlers_})
        std::erase_if(*list, [](const auto& e) { return e->removed; });
}

void TBaseDispatcher::SetAvailThreshold(std::uint32_t n) {
    availThreshold_.store(n);
}

void TBaseDispatcher::RunNotifyCycle(int kind, std::uint32_t arg1) {
    std::vector<std::shared_ptr<HandlerEntry>> handlers;
    {
        std::lock_guard lock(lock_);
        inNotify_.store(true);
        handlers = eventHandlers_;
        handlers.insert(handlers.end(), procHandlers_.begin(), procHandlers_.end());
    }
    {
        std::lock_guard lock(dispatchLock_);
        cycleMaxRead_ = 0;
    }
    const auto arg2 = static_cast<std::uint32_t>(handle_) << 16;
    // No lock is held while a handler runs: handlers read, arm timers and unregister.
    for (const auto& h : handlers) {
        {
            std::lock_guard lock(lock_);
            if (h->removed) continue;
        }
        {
            std::lock_guard lock(dispatchLock_);
            cycleHandlerRead_ = 0;
        }
        h->handler(kind, arg1, arg2);
        if (closePending_.load()) break;
    }
    if (kind == DataAvailable) {
        std::lock_guard lock(dispatchLock_);
        if (cycleMaxRead_ > 0) {
            dispTail_ = (dispTail_ + cycleMaxRead_) % kDispatchBufferSize;
            dispFull_ = false;
            TailMovedLocked(cycleMaxRead_);
        }
    }
    std::lock_guard lock(lock_);
    inNotify_.store(false);
    PurgeRemovedHandlers();
}

bool TBaseDispatcher::DispatchPass() {
    // 1. A status record at the head of the queue.
    std::uint32_t word = 0;
    const bool haveStatus = inputQueue_.Locked([&](std::deque<std::unique_ptr<TIOBuffer>>& q) {
        if (q.empty()) return false;
        auto* status = dynamic_cast<TStatusBuffer*>(q.front().get());
        if (!status) return false;
        word = status->eventWord;
        q.pop_front();
        return true;
    });
    if (haveStatus) {
        if (word & (evRing | evRing2)) ringIndicated_.store(true);
        if (word & (evCts | evDsr | evRlsd | evRing | evRing2))
            modemStatus_.store(ReadModemStatus());
        if (word & (evBreak | evErr)) lineErrors_.store(ReadLineErrors());
    }
    // 2. Received bytes into the dispatch ring.
    MoveInputToRing();
    // 3. Tell the handlers.
    if (!inNotify_.load()) {
        modemStatus_.store(ReadModemStatus());
        std::uint32_t avail;
        bool moved;
        {
            std::lock_guard lock(dispatchLock_);
            avail = RingUsed(dispHead_, dispTail_, dispFull_, kDispatchBufferSize);
            moved = headMoved_;
        }
        if (avail > 0 && avail >= availThreshold_.load() && moved) {
            {
                std::lock_guard lock(dispatchLock_);
                headMoved_ = false;
            }
            RunNotifyCycle(DataAvailable, avail);
        }
    }
    // 5. Timer slots.
    FireTimers();
    // Progress is possible unless bytes wait in the queue that the full ring cannot take.
    // (The queue's lock is taken before the dispatch lock, never inside it.)
    const bool queued = !inputQueue_.Empty();
    std::lock_guard lock(dispatchLock_);
    return !(dispFull_ && queued);
}

// ---- timer slots ----

int TBaseDispatcher::AllocTimer() {
    std::lock_guard lock(lock_);
    auto used = [this](int h) {
        return std::any_of(timerSlots_.begin(), timerSlots_.end(),
                           [h](const TimerSlot& s) { return s.handle == h; });
    };
    int handle = -1;
    if (timerHandlesGiven_ < 4095) {
        handle = nextTimerHandle_;
        nextTimerHandle_ += 8;
        ++timerHandlesGiven_;
    } else {
        for (int h = 8; h <= 4096 && handle < 0; h += 8)
            if (!used(h)) handle = h;
        if (handle < 0) return ecNoMoreTriggers;
    }
    timerSlots_.push_back(TimerSlot{handle, {}, 0, false});
    return handle;
}

int TBaseDispatcher::ArmTimer(int handle, std::int32_t ticks, bool on) {
    {
        std::lock_guard lock(lock_);
        auto it = std::find_if(timerSlots_.begin(), timerSlots_.end(),
                               [handle](const TimerSlot& s) { return s.handle == handle; });
        if (it == timerSlots_.end()) return ecBadTriggerHandle;
        if (on) {
            if (ticks != 0) it->length = ticks; // 0 keeps the previous length
            StartTickTimer(it->timer, it->length);
            it->armed = true;
        } else {
            it->armed = false;
        }
    }
    // The dispatch thread sleeps until the earliest armed slot; let it recompute.
    inputQueue_.Kick();
    return 0;
}

int TBaseDispatcher::FreeTimer(int handle) {
    std::lock_guard lock(lock_);
    const auto before = timerSlots_.size();
    std::erase_if(timerSlots_, [handle](const TimerSlot& s) { return s.handle == handle; });
    return timerSlots_.size() == before ? ecBadTriggerHandle : 0;
}

std::vector<TBaseDispatcher::TTimerSlotCopy> TBaseDispatcher::TimerSlots() const {
    std::lock_guard lock(lock_);
    std::vector<TTimerSlotCopy> copy;
    for (const auto& s : timerSlots_)
        copy.push_back({s.handle, s.length});
    return copy;
}

void TBaseDispatcher::RestoreTimer(const TTimerSlotCopy& slot) {
    std::lock_guard lock(lock_);
    std::erase_if(timerSlots_, [&](const TimerSlot& s) { return s.handle == slot.handle; });
    timerSlots_.push_back(TimerSlot{slot.handle, {}, slot.length, false});
    nextTimerHandle_ = std::max(nextTimerHandle_, slot.handle + 8);
}

void TBaseDispatcher::RemoveTimerSlots() {
    std::lock_guard lock(lock_);
    timerSlots_.clear();
    nextTimerHandle_ = 8;
    timerHandlesGiven_ = 0;
}

std::int64_t TBaseDispatcher::NextTimerDeadline() const {
    std::lock_guard lock(lock_);
    std::int64_t best = -1;
    const std::int64_t now = platform::MonotonicMs();
    for (const auto& s : timerSlots_) {
        if (!s.armed) continue;
        const std::int64_t at = now + TickTimerRemainingMs(s.timer);
        if (best < 0 || at < best) best = at;
    }
    return best;
}

void TBaseDispatcher::FireTimers() {
    for (;;) {
        int fired = -1;
        {
            std::lock_guard lock(lock_);
            for (auto& s : timerSlots_) {
                if (s.armed && TickTimerExpired(s.timer)) {
                    s.armed = false;
                    fired = s.handle;
                    break;
                }
            }
        }
        if (fired < 0 || closePending_.load()) return;
        RunNotifyCycle(TimerFired, static_cast<std::uint32_t>(fired));
    }
}

} // namespace vg57
