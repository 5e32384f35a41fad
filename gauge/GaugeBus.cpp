// The line's one exchange at a time, its packet handler, and resynchronisation.
#include "GaugeBus.h"

#include "EventLoop.h"
#include "MonotonicClock.h"
#include "SerialMisc.h"

#include <algorithm>

namespace vg57 {

namespace {

const char kEchoNotice[] = "адаптер возвращает отправленные байты";

// Requests whose replies are read-only and can't be confused with each other's: the sentinels,
// tried in this order.
const char* const kSentinels[] = {"S1", "R2", "R1"};

bool HasShape(const std::string& reply, const TReplyShape& shape) {
    return reply.size() == shape.length && reply.size() >= 2 && reply[1] == shape.echo;
}

} // namespace

std::optional<TReplyShape> ReplyShapeOf(const std::string& command) {
    if (command.size() < 2) return std::nullopt;
    const char letter = command[0], number = command[1];
    switch (letter) {
    case 'R':
        if (number == '1') return TReplyShape{6, 'R'};
        if (number >= '2' && number <= '4') return TReplyShape{10, 'R'};
        break;
    case 'S':
        if (number == '1') return TReplyShape{6, 'S'};
        break; // "S3": the first contact; its reply is not documented
    case 'W':
        if (number >= '1' && number <= '4') return TReplyShape{2, 'W'};
        break;
    case 'C':
        if (number == '1' || number == '2') return TReplyShape{6, 'C'};
        break;
    default:
        break;
    }
    return std::nullopt;
}

TGaugeBus::TGaugeBus() {
    port_.SetRTS(false);
    port_.SetRS485Mode(true);
    framer_.StartString = std::string(1, '\x02');
    framer_.SetEndString("\r");
    framer_.SetEndCond(ecString);
    framer_.IgnoreCase = false;
    framer_.IncludeStrings = false;
    framer_.SetComPort(&port_);
    framer_.SetEnabled(true);
    framer_.OnStringPacket = [this](TDataPacket& sender, const std::string& data) {
        OnPacket(sender, data);
    };
    // Echoing is a property of the adapter: looked for afresh at every open.
    port_.RegisterPortUser(
        [this](TComPort&, TPortEvent e) {
            if (e == portOpened) echoing_ = false;
        },
        this);
}

TGaugeBus::~TGaugeBus() {
    framer_.OnStringPacket = nullptr;
    port_.UnregisterPortUser(this);
}

bool TGaugeBus::Cut() const {
    return !cuts_.empty() || platform::QuitRequested();
}

bool TGaugeBus::Confusable(const TGauge& gauge, const std::string& command) {
    if (gauge.owed.empty()) return false;
    const auto shape = ReplyShapeOf(command);
    // An undocumented reply may look like any: nothing owed can be told from it, nor it from them.
    if (!shape) return true;
    for (const std::string& owed : gauge.owed) {
        const auto owedShape = ReplyShapeOf(owed);
        if (!owedShape || *owedShape == *shape) return true;
    }
    return false;
}

std::optional<std::string> TGaugeBus::Sentinel(const TGauge& gauge) {
    for (const char* sentinel : kSentinels)
        if (!Confusable(gauge, sentinel)) return std::string(sentinel);
    return std::nullopt;
}

bool TGaugeBus::Exchange(char address, const std::string& command, std::string& reply) {
    reply.clear();
    if (Refuses()) return false;
    TransferState = tsWaiting;
    struct TReady {
        TTransferState& state;
        ~TReady() { state = tsReady; }
    } ready{TransferState};
    const std::uint64_t generation = cancelGeneration_;
    TGauge& gauge = gauges_[address];
    gauge.lastTryMs = platform::MonotonicMs();

    // Its reply could be taken for one still owed: first make sure every owed one is behind us.
    if (Confusable(gauge, command)) {
        ++counters_.resyncs;
        if (const auto sentinel = Sentinel(gauge)) {
            std::string ignored;
            // A sentinel that fails costs this try; the next one picks another shape.
            if (Transact(gauge, address, *sentinel, ignored, generation) != TWait::answered ||
                !gauge.owed.empty()) {
                ++gauge.failuresRunning;
                return false;
            }
        } else {
            if (!AwaitQuiet(gauge, generation)) return false;
            gauge.owed.clear();
        }
    }
    const TWait outcome = Transact(gauge, address, command, reply, generation);
    if (outcome == TWait::answered && gauge.owed.empty())
        gauge.failuresRunning = 0;
    else
        ++gauge.failuresRunning;
    return outcome == TWait::answered;
}

TGaugeBus::TWait TGaugeBus::Transact(TGauge& gauge, char address, const std::string& command,
                                     std::string& reply, std::uint64_t generation) {
    reply.clear();
    waitingAddress_ = address;
    waitingRequest_ = std::string(1, address) + command;
    waitingOwed_.clear();
    for (const std::string& owed : gauge.owed)
        waitingOwed_.push_back(std::string(1, address) + owed);
    waitingShape_ = ReplyShapeOf(command);
    // Confusable requests were resynchronised before: with replies owed, this one's shape is known
    // and differs from theirs, so only that shape answers it.
    filtering_ = !gauge.owed.empty() && waitingShape_.has_value();
    answer_.clear();
    answered_ = false;
    // Counted before the write: a packet whose first byte came in a later chunk was read after it.
    const TDataPacketManager* manager = framer_.Manager();
    writtenChunk_ = manager ? manager->ChunksReceived() : 0;
    transacting_ = true;
    struct TDone {
        bool& flag;
        ~TDone() { flag = false; }
    } done{transacting_};
    port_.WriteText(std::string(1, '\x02') + waitingRequest_ + '\r');
    ++counters_.exchanges;
    gauge.lastRequestMs = platform::MonotonicMs();

    TTickTimer timer;
    StartTickTimer(timer, kReplyTimeoutTicks);
    bool cutShort = false, expired = false;
    for (;;) {
        const std::uint32_t yielded = YieldOnce();
        expired = TickTimerExpired(timer);
        cutShort = yielded == kQuitMessage || generation != cancelGeneration_;
        if (answered_ || cutShort || expired) break;
        // Nothing was pending: sleep in the event loop until something arrives or time is up.
        if (yielded == 0) WaitForEventOrExpiry(timer);
    }
    // A reply in the very pass in which time ran out still counts as a time-out.
    if (expired || cutShort) {
        gauge.owed.push_back(command);
        return cutShort ? TWait::cut : TWait::failed;
    }
    reply = answer_;
    const bool wellFormed = !waitingShape_ || HasShape(reply, *waitingShape_);
    if (filtering_)
        gauge.owed.clear(); // the gauge answers in order: every older reply is behind us
    else if (!wellFormed)
        gauge.owed.push_back(command); // it may have been an older reply: its own may follow
    return TWait::answered;
}

void TGaugeBus::OnPacket(TDataPacket& sender, const std::string& data) {
    LastReply = data;
    if (!data.empty())
        if (auto it = gauges_.find(data[0]); it != gauges_.end())
            it->second.lastPacketMs = platform::MonotonicMs();
    if (onPacket) onPacket(data);
    if (!transacting_ || answered_) return;
    // Read before the request was written (or waiting in the hand-over meanwhile): it answers
    // an earlier one.
    if (sender.PacketChunk() <= writtenChunk_) return;
    // Our own request (or an owed one) handed back by the adapter: never an answer.
    if (data == waitingRequest_ ||
        std::find(waitingOwed_.begin(), waitingOwed_.end(), data) != waitingOwed_.end()) {
        ++counters_.echoes;
        echoing_ = true;
        if (!echoSaid_) {
            echoSaid_ = true;
            if (onNotice) onNotice(kEchoNotice);
        }
        return;
    }
    if (!data.empty() && data[0] != waitingAddress_) {
        ++counters_.strays;
        return;
    }
    if (filtering_ && !HasShape(data, *waitingShape_)) {
        ++counters_.dropped;
        return;
    }
    answer_ = data;
    answered_ = true;
}

bool TGaugeBus::AwaitQuiet(const TGauge& gauge, std::uint64_t generation) {
    for (;;) {
        const std::int64_t quietAt =
            std::max(gauge.lastRequestMs, gauge.lastPacketMs) + kQuietLimitMs;
        if (platform::MonotonicMs() >= quietAt) return true;
        const std::uint32_t yielded = YieldOnce();
        if (yielded == kQuitMessage || generation != cancelGeneration_) return false;
        if (yielded == 0) platform::WaitForEvents(quietAt);
    }
}

bool TGaugeBus::TurnDue(char address) const {
    const auto it = gauges_.find(address);
    if (it == gauges_.end() || it->second.failuresRunning < 2) return true;
    return platform::MonotonicMs() - it->second.lastTryMs >= kSilentRetryMs;
}

int TGaugeBus::FailuresRunning(char address) const {
    const auto it = gauges_.find(address);
    return it == gauges_.end() ? 0 : it->second.failuresRunning;
}

void TGaugeBus::CancelExchanges(const std::string& owner) {
    ++cuts_[owner];
    ++cancelGeneration_;
}

void TGaugeBus::ResumeExchanges(const std::string& owner) {
    cuts_.erase(owner);
}

} // namespace vg57
