#include "DataPacket.h"

#include "MonotonicClock.h"
#include "SerialExcept.h"

#include <algorithm>

namespace vg57 {

namespace {
std::uint8_t Upper(std::uint8_t b) {
    return (b >= 'a' && b <= 'z') ? static_cast<std::uint8_t>(b - 32) : b;
}
} // namespace

// ---- the framer ----

TDataPacket::TDataPacket() = default;

TDataPacket::~TDataPacket() {
    if (unbindPort_) unbindPort_(*this);
    if (manager_) manager_->Unbind(*this);
}

TDataPacket::Pattern TDataPacket::Prepare(const std::string& text, bool ignoreCase) {
    Pattern p;
    for (std::size_t i = 0; i < text.size(); ++i) {
        char c = text[i];
        bool wildcard = false;
        if (c == '\\') {
            if (i + 1 >= text.size()) break; // a final lone backslash is dropped
            c = text[++i];
        } else if (c == '?') {
            wildcard = true;
        }
        if (ignoreCase) c = static_cast<char>(Upper(static_cast<std::uint8_t>(c)));
        p.bytes += c;
        p.wildcard.push_back(wildcard);
    }
    return p;
}

bool TDataPacket::MatchStart(std::uint8_t b, std::size_t at) const {
    if (start_.wildcard[at]) return true;
    return static_cast<std::uint8_t>(start_.bytes[at]) == (IgnoreCase ? Upper(b) : b);
}

bool TDataPacket::MatchEnd(std::uint8_t b, std::size_t at) const {
    if (end_.wildcard[at]) return true;
    return static_cast<std::uint8_t>(end_.bytes[at]) == (IgnoreCase ? Upper(b) : b);
}

bool TDataPacket::Enabled() const {
    return enabled_;
}

void TDataPacket::SetEnabled(bool v) {
    if (manager_) {
        manager_->SetEnabled(*this, v); // decided under the lock the dispatch thread frames under
        return;
    }
    if (v == enabled_) return;
    enabled_ = v;
    enabledTouched_ = true;
}

void TDataPacket::SetEndCond(TEndCond v) {
    if (manager_) manager_->Disarm(*this);
    endCond_ = v;
    if (manager_ && enabled_) manager_->Arm(*this);
}

void TDataPacket::SetEndString(const std::string& v) {
    if (manager_) manager_->Disarm(*this);
    endString_ = v;
    if (manager_ && enabled_) manager_->Arm(*this);
}

void TDataPacket::SetManager(TDataPacketManager* manager) {
    if (manager == manager_) return;
    if (manager_) manager_->Unbind(*this);
    if (manager) manager->Bind(*this);
}

TPacketState TDataPacket::State() const {
    return state_;
}

// ---- the collector ----

TDataPacketManager::TDataPacketManager() = default;

TDataPacketManager::~TDataPacketManager() {
    for (TDataPacket* f : framers_)
        f->manager_ = nullptr;
}

void TDataPacketManager::Bind(TDataPacket& framer) {
    {
        std::lock_guard lock(lock_);
        framers_.push_back(&framer);
        framer.manager_ = this;
        framer.binding_ = ++bindings_;
    }
    if (framer.enabled_) Arm(framer);
}

void TDataPacketManager::Unbind(TDataPacket& framer) {
    std::lock_guard lock(lock_);
    DisarmLocked(framer);
    // Its delivery ends with the binding: enabled again as after one, wherever it goes next.
    if (framer.delivering_) EndDelivery(framer);
    std::erase(framers_, &framer);
    framer.manager_ = nullptr;
    framer.binding_ = 0;
}

void TDataPacketManager::Install(TArmTimer armTimer, TDeliver deliver) {
    std::unique_lock lock(lock_);
    armTimer_ = std::move(armTimer);
    deliver_ = std::move(deliver);
    installed_ = true;
    ++generation_;
    for (TDataPacket* f : framers_)
        if (f->enabled_) ArmLocked(*f);
}

void TDataPacketManager::Uninstall() {
    std::lock_guard lock(lock_);
    for (TDataPacket* f : framers_) {
        DisarmLocked(*f);
        // A delivery in flight ends with the installation (the port closed inside its events):
        // reopened, the port arms the framer at once, before any byte can arrive. Its thread,
        // when it returns, finds the generation changed and leaves everything alone.
        if (f->delivering_) EndDelivery(*f);
    }
    installed_ = false;
    ++generation_;
    busy_ = false;
    armTimer_ = nullptr;
    buffer_.clear();
    buffer_.shrink_to_fit();
    arrivals_.clear();
    scanIndex_ = -1;
    deferredScan_ = -1;
    scanning_ = false;
}

bool TDataPacketManager::Installed() const {
    std::lock_guard lock(lock_);
    return installed_;
}

bool TDataPacketManager::Busy() const {
    std::lock_guard lock(lock_);
    return busy_;
}

std::size_t TDataPacketManager::Held() const {
    std::lock_guard lock(lock_);
    return buffer_.size();
}

std::size_t TDataPacketManager::Capacity() const {
    std::lock_guard lock(lock_);
    return buffer_.capacity();
}

void TDataPacketManager::SetEnabled(TDataPacket& f, bool v) {
    std::lock_guard lock(lock_);
    if (v == f.enabled_) return;
    f.enabled_ = v;
    f.enabledTouched_ = true;
    if (v)
        ArmLocked(f);
    else
        DisarmLocked(f);
}

void TDataPacketManager::Arm(TDataPacket& f) {
    std::lock_guard lock(lock_);
    ArmLocked(f);
}

void TDataPacketManager::Disarm(TDataPacket& f) {
    std::lock_guard lock(lock_);
    DisarmLocked(f);
}

void TDataPacketManager::ArmLocked(TDataPacket& f) {
    if (installed_) {
        if (busy_) {
            f.enablePending_ = true; // armed when the delivery ends
            return;
        }
        if (f.StartCond == scString) {
            if (f.StartString.empty()) RaiseSerialError(-5501);
            if ((f.endCond_ & ecPacketSize) &&
                f.PacketSize <
                    static_cast<std::int32_t>(TDataPacket::Prepare(f.StartString, false).size()))
                RaiseSerialError(-5502);
            f.start_ = TDataPacket::Prepare(f.StartString, f.IgnoreCase);
            f.state_ = TPacketState::waitingForStart;
        } else {
            if (f.endCond_ == 0) RaiseSerialError(-5503);
        }
        if (f.endCond_ & ecString) {
            if (f.endString_.empty()) RaiseSerialError(-5504);
            f.end_ = TDataPacket::Prepare(f.endString_, f.IgnoreCase);
        }
        if ((f.endCond_ & ecPacketSize) && f.PacketSize == 0) RaiseSerialError(-5505);
    }
    f.enablePending_ = false;
    f.startPos_ = -1;
    f.startIndex_ = 1;
    f.endIndex_ = 1;
    f.endStart_ = -1;
    if (installed_ && f.StartCond == scAnyData && !collecting_) EnterCollecting(f);
}

void TDataPacketManager::DisarmLocked(TDataPacket& f) {
    if (f.state_ == TPacketState::idle && !f.enablePending_) return;
    f.enablePending_ = false;
    if (collecting_ == &f) LeaveCollecting();
    f.state_ = TPacketState::idle;
}

void TDataPacketManager::EnterCollecting(TDataPacket& f) {
    f.state_ = TPacketState::collecting;
    if (f.TimeOut != 0 && armTimer_) armTimer_(f.TimeOut);
    collecting_ = &f;
    // Any partial match another framer held is lost.
    for (TDataPacket* other : framers_) {
        if (other == &f || !other->enabled_) continue;
        DisarmLocked(*other);
        ArmLocked(*other);
    }
}

void TDataPacketManager::LeaveCollecting() {
    if (armTimer_) armTimer_(0);
    collecting_ = nullptr;
}

void TDataPacketManager::Receive(const std::uint8_t* bytes, std::size_t n, std::int64_t arrivedMs) {
    std::lock_guard lock(lock_);
    if (!installed_ || n == 0) return;
    if (buffer_.size() + n >= buffer_.capacity())
        buffer_.reserve(buffer_.capacity() + ((n / kGrowStep) + 1) * kGrowStep);
    const long first = static_cast<long>(buffer_.size());
    buffer_.insert(buffer_.end(), bytes, bytes + n);
    arrivals_.push_back(
        {first, arrivedMs < 0 ? platform::MonotonicMs() : arrivedMs, chunks_.load() + 1});
    ++chunks_;
    Scan(first);
}

TDataPacketManager::TArrival TDataPacketManager::ArrivalAt(long i) const {
    TArrival at{i, -1, 0};
    for (const TArrival& run : arrivals_) {
        if (run.first > i) break;
        at = run;
    }
    return at;
}

void TDataPacketManager::DropArrivals(long n) {
    if (buffer_.empty()) {
        arrivals_.clear();
        return;
    }
    // The run that holds the new first byte keeps its time from there.
    std::size_t keep = 0;
    while (keep + 1 < arrivals_.size() && arrivals_[keep + 1].first <= n)
        ++keep;
    arrivals_.erase(arrivals_.begin(), arrivals_.begin() + static_cast<long>(keep));
    for (TArrival& run : arrivals_)
        run.first = std::max<long>(0, run.first - n);
}

void TDataPacketManager::Scan(long from) {
    if (busy_) {
        if (deferredScan_ < 0 || from < deferredScan_) deferredScan_ = from;
        return;
    }
    const auto generation = generation_;
    scanning_ = true;
    for (scanIndex_ = from; scanIndex_ < static_cast<long>(buffer_.size()); ++scanIndex_) {
        if (collecting_) {
            Offer(*collecting_, scanIndex_);
        } else {
            // Each byte goes to the framers in binding order until one starts collecting.
            for (std::size_t k = 0; k < framers_.size(); ++k) {
                Offer(*framers_[k], scanIndex_);
                if (generation != generation_ || buffer_.empty()) break;
                if (collecting_ || scanIndex_ < 0) break;
            }
        }
        if (generation != generation_) {
            scanning_ = false;
            return;
        }
    }
    scanning_ = false;
    // Bytes that belong to no packet are discarded, unless a framer holds a partial start.
    if (collecting_) return;
    for (TDataPacket* f : framers_)
        if (f->enabled_ && f->state_ != TPacketState::idle && f->startPos_ >= 0) return;
    buffer_.clear();
    buffer_.shrink_to_fit();
    arrivals_.clear();
}

void TDataPacketManager::Offer(TDataPacket& f, long i) {
    if (!f.enabled_) return;
    const std::uint8_t b = buffer_[static_cast<std::size_t>(i)];
    if (f.state_ == TPacketState::waitingForStart)
        OfferWaiting(f, i, b);
    else if (f.state_ == TPacketState::collecting)
        OfferCollecting(f, i, b);
}

// True when the bytes from..to match the beginning of the framer's start or end pattern.
bool TDataPacketManager::PrefixMatches(const TDataPacket& f, bool endPattern, long from,
                                       long to) const {
    const std::size_t len = static_cast<std::size_t>(to - from + 1);
    if (len > (endPattern ? f.end_.size() : f.start_.size())) return false;
    for (std::size_t k = 0; k < len; ++k) {
        const std::uint8_t b = buffer_[static_cast<std::size_t>(from) + k];
        if (!(endPattern ? f.MatchEnd(b, k) : f.MatchStart(b, k))) return false;
    }
    return true;
}

void TDataPacketManager::OfferWaiting(TDataPacket& f, long i, std::uint8_t b) {
    if (f.MatchStart(b, f.startIndex_ - 1)) {
        if (f.startPos_ < 0) f.startPos_ = i;
        if (f.startIndex_ < f.start_.size()) {
            ++f.startIndex_;
        } else if (f.endCond_ == 0) {
            Deliver(f, i, false); // no end condition: the start string is the packet
        } else {
            EnterCollecting(f);
        }
        return;
    }
    if (f.startPos_ < 0) return;
    // Re-check only the bytes of the failed partial match, the earliest restart first.
    for (long s = f.startPos_ + 1; s <= i; ++s) {
        if (PrefixMatches(f, false, s, i)) {
            f.startPos_ = s;
            f.startIndex_ = static_cast<std::size_t>(i - s + 1) + 1;
            return;
        }
    }
    f.startPos_ = -1;
    f.startIndex_ = 1;
}

void TDataPacketManager::OfferCollecting(TDataPacket& f, long i, std::uint8_t b) {
    if (f.startPos_ < 0) f.startPos_ = i;
    if (f.endCond_ & ecString) {
        if (f.MatchEnd(b, f.endIndex_ - 1)) {
            if (f.endIndex_ == 1) f.endStart_ = i;
            if (f.endIndex_ == f.end_.size()) {
                Deliver(f, i, true);
                return;
            }
            ++f.endIndex_;
        } else if (f.endIndex_ != 1) {
            const long failedFrom = f.endStart_;
            f.endIndex_ = 1;
            f.endStart_ = -1;
            for (long s = failedFrom + 1; s <= i; ++s) {
                if (PrefixMatches(f, true, s, i)) {
                    f.endStart_ = s;
                    f.endIndex_ = static_cast<std::size_t>(i - s + 1) + 1;
                    if (f.endIndex_ > f.end_.size()) { // the suffix completes the end string
                        Deliver(f, i, true);
                        return;
                    }
                    break;
                }
            }
        }
    }
    if ((f.endCond_ & ecPacketSize) && i - f.startPos_ + 1 >= f.PacketSize) Deliver(f, i, false);
}

void TDataPacketManager::BeginDelivery(TDataPacket& f) {
    busy_ = true;
    for (TDataPacket* other : framers_)
        if (other->enabled_) DisarmLocked(*other);
    f.enabled_ = false;
    f.enabledTouched_ = false;
    f.delivering_ = true;
    ++f.delivery_;
}

void TDataPacketManager::EndDelivery(TDataPacket& f) {
    f.delivering_ = false;
    if (f.AutoEnable && !f.enabledTouched_) f.enabled_ = true;
}

void TDataPacketManager::Deliver(TDataPacket& f, long endAt, bool byEndString) {
    // 1-2. Busy; every enabled framer disarmed; this one disabled.
    BeginDelivery(f);

    // 3. The data, with or without the start and end strings.
    long from = f.startPos_;
    long length = endAt - f.startPos_ + 1;
    if (f.StartCond == scString && !f.IncludeStrings) {
        from += static_cast<long>(f.start_.size());
        length -= static_cast<long>(f.start_.size());
    }
    if (!f.IncludeStrings && byEndString) length -= static_cast<long>(f.end_.size());
    if (length < 0) length = 0;
    auto data = std::make_shared<std::string>(reinterpret_cast<const char*>(buffer_.data()) + from,
                                              static_cast<std::size_t>(length));
    const TArrival arrived = ArrivalAt(f.startPos_);

    // 4. The events, with the lock released: handlers may arm, disarm or close. They run on
    // the user-interface thread, which may have unbound or destroyed the framer meanwhile (and
    // bound it, or another framer at its address, again).
    const auto generation = generation_;
    const auto binding = f.binding_;
    const auto delivery = f.delivery_;
    TDataPacket* framer = &f;
    auto events = [this, framer, binding, data, arrived] {
        if (!Bound(framer, binding)) return;
        framer->arrivalMs_ = arrived.ms;
        framer->arrivalChunk_ = arrived.chunk;
        if (framer->OnPacket)
            framer->OnPacket(*framer, reinterpret_cast<const std::uint8_t*>(data->data()),
                             data->size());
        if (!Bound(framer, binding)) return;
        if (framer->OnStringPacket) framer->OnStringPacket(*framer, *data);
    };
    RunEventsUnlocked(events);
    if (generation != generation_) {
        // The port closed during the events (and may have opened again): the bytes are gone,
        // and the close has ended the delivery.
        AfterClosedDuringEvents(f, binding, delivery);
        return;
    }
    if (!BoundLocked(&f, binding)) {
        EndBusy(); // the framer left during its own event
        return;
    }
    f.delivering_ = false;

    // 5. The packet's bytes (and any before it) leave the buffer.
    const long removed = endAt + 1;
    buffer_.erase(buffer_.begin(),
                  buffer_.begin() + std::min<long>(removed, static_cast<long>(buffer_.size())));
    DropArrivals(removed);
    scanIndex_ -= removed;
    if (deferredScan_ >= 0) deferredScan_ = std::max<long>(0, deferredScan_ - removed);
    for (TDataPacket* other : framers_) {
        if (other == &f || !other->enabled_ || other->startPos_ < 0) continue;
        if (other->startPos_ <= endAt)
            other->startPos_ = -1;
        else
            other->startPos_ -= removed;
    }
    FreeIfEmpty();

    // 6-7. Re-armed, and the scan goes on.
    if (f.AutoEnable && !f.enabledTouched_) f.enabled_ = true;
    EndBusy();
}

void TDataPacketManager::RunEventsUnlocked(const std::function<void()>& events) {
    if (!deliver_) return;
    // A copy: a close and reopen inside the events installs another deliver_ while this one
    // still runs.
    const TDeliver deliver = deliver_;
    // Handlers may arm, disarm, close the port or feed bytes: the lock is theirs meanwhile.
    lock_.unlock();
    try {
        deliver(events);
    } catch (...) {
        // An error a handler let escape is shown, and framing goes on.
        if (onError) onError(std::current_exception());
    }
    if (afterEventsForTests) afterEventsForTests();
    lock_.lock();
}

void TDataPacketManager::EndBusy() {
    busy_ = false;
    for (TDataPacket* f : framers_)
        if (f->enabled_ || f->enablePending_) ArmLocked(*f);
    // Bytes that arrived during the delivery: an interrupted scan reaches them anyway.
    const long deferred = deferredScan_;
    deferredScan_ = -1;
    if (deferred >= 0 && !scanning_) Scan(deferred);
}

void TDataPacketManager::AfterClosedDuringEvents(TDataPacket& f, std::uint64_t binding,
                                                 std::uint64_t delivery) {
    // Normally the close has ended this delivery already, and the framer may be collecting for
    // the reopened port: touching it would lose that packet.
    if (!BoundLocked(&f, binding) || !f.delivering_ || f.delivery_ != delivery) return;
    EndDelivery(f);
    if (installed_ && !busy_ && f.enabled_) ArmLocked(f);
}

bool TDataPacketManager::Bound(const TDataPacket* f, std::uint64_t binding) const {
    std::lock_guard lock(lock_);
    return BoundLocked(f, binding);
}

bool TDataPacketManager::BoundLocked(const TDataPacket* f, std::uint64_t binding) const {
    // The address first: only a framer in the list may be read.
    return std::find(framers_.begin(), framers_.end(), f) != framers_.end() &&
           f->binding_ == binding;
}

void TDataPacketManager::FreeIfEmpty() {
    if (buffer_.empty()) buffer_.shrink_to_fit();
}

void TDataPacketManager::TimerExpired() {
    std::lock_guard lock(lock_);
    if (!installed_ || !collecting_) return;
    TDataPacket& f = *collecting_;
    BeginDelivery(f);

    const auto generation = generation_;
    const auto binding = f.binding_;
    const auto delivery = f.delivery_;
    if (f.OnTimeout) {
        TDataPacket* framer = &f;
        RunEventsUnlocked([this, framer, binding] {
            if (Bound(framer, binding) && framer->OnTimeout) framer->OnTimeout(*framer);
        });
    }
    if (generation != generation_) {
        AfterClosedDuringEvents(f, binding, delivery);
        return;
    }
    buffer_.clear();
    buffer_.shrink_to_fit();
    arrivals_.clear();
    scanIndex_ = -1;
    if (!BoundLocked(&f, binding)) {
        EndBusy();
        return;
    }
    f.delivering_ = false;
    deferredScan_ = -1;
    // A timed-out framer waits for the next start string again (unless its handler decided
    // otherwise): left disabled, it would never receive another reply until a restart.
    if (f.AutoEnable && !f.enabledTouched_) f.enabled_ = true;
    EndBusy();
}

} // namespace vg57
