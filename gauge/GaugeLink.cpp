// The transaction: one exchange on the line, the packet handler, and the guard.
#include "GaugeLink.h"

#include "ComPort.h"
#include "DataPacket.h"
#include "EventLoop.h"
#include "MonotonicClock.h"
#include "SerialMisc.h"

#include <algorithm>

namespace vg57 {

TGaugeLink::TGaugeLink(TComPort& port, TGaugeView& view) : port_(port), view_(view) {}

bool TGaugeLink::SendCommand(const std::string& command, std::string& reply) {
    reply.clear();
    if (TransferState == tsWaiting) return false;
    // Once Stop or the window's close began, nothing more goes out on the line.
    if (!cuts_.empty() || platform::QuitRequested()) return false;

    view_.SetTransferIndicator(TIndicator::yellow);
    TransferState = tsWaiting;
    requestWrittenMs_ = -1;
    const std::uint64_t generation = cancelGeneration_;
    if (replyMayFollow_ && !AwaitQuietLine(generation)) {
        TransferState = tsReady;
        view_.SetTransferIndicator(TIndicator::red);
        return false;
    }
    // Taken before the write: a packet that arrived earlier can't be this request's answer.
    requestWrittenMs_ = platform::MonotonicMs();
    try {
        port_.WriteText(std::string(1, '\x02') + DevAddress + command + '\r');
    } catch (...) {
        // Left waiting, every later exchange of the run would fail at once, even after the
        // operator has mended the port.
        TransferState = tsReady;
        requestWrittenMs_ = -1;
        view_.SetTransferIndicator(TIndicator::red);
        throw;
    }

    TTickTimer timer;
    StartTickTimer(timer, kReplyTimeoutTicks);
    bool cutShort = false;
    bool expired = false;
    for (;;) {
        const std::uint32_t yielded = YieldOnce();
        expired = TickTimerExpired(timer);
        cutShort = yielded == kQuitMessage || generation != cancelGeneration_;
        if (TransferState == tsReady || cutShort || expired) break;
        // Nothing was pending: sleep in the event loop until something arrives or time is up.
        if (yielded == 0) WaitForEventOrExpiry(timer);
    }

    requestWrittenMs_ = -1;
    // A reply in the very pass in which time ran out still counts as a time-out.
    if (expired || cutShort) {
        TransferState = tsReady;
        replyMayFollow_ = true;
        unansweredMs_ = platform::MonotonicMs();
        view_.SetTransferIndicator(TIndicator::red);
        return false;
    }
    replyMayFollow_ = false;
    reply = answer_;
    view_.SetTransferIndicator(TIndicator::green);
    return true;
}

void TGaugeLink::DataPacket1StringPacket(TDataPacket& sender, const std::string& data) {
    LastReply = data;
    const std::int64_t arrived = sender.PacketArrivalMs();
    lastPacketMs_ = std::max(lastPacketMs_, arrived);
    // No sequence numbers on this line: only timing tells a late reply from the answer. One that
    // arrived before the request was written (also one that waited in the hand-over meanwhile)
    // answers an earlier request, and would shift set points onto the wrong relay.
    if (TransferState != tsWaiting || requestWrittenMs_ < 0 || arrived < requestWrittenMs_) return;
    answer_ = data;
    TransferState = tsReady;
}

std::int64_t TGaugeLink::LastLineActivityMs() const {
    std::int64_t last = std::max(unansweredMs_, lastPacketMs_);
    if (const TSerialDispatcher* d = port_.CurrentDispatcher())
        last = std::max(last, d->LastArrivalMs());
    return last;
}

bool TGaugeLink::AwaitQuietLine(std::uint64_t generation) {
    const std::int64_t limit = platform::MonotonicMs() + kQuietLimitMs;
    for (;;) {
        const std::int64_t quietAt = LastLineActivityMs() + kQuietMs;
        const std::int64_t now = platform::MonotonicMs();
        if (now >= quietAt || now >= limit) return true;
        const std::uint32_t yielded = YieldOnce();
        if (yielded == kQuitMessage || generation != cancelGeneration_) return false;
        if (yielded == 0) platform::WaitForEvents(std::min(quietAt, limit));
    }
}

bool TGaugeLink::AcquireGauge() {
    if (AcquireDepth > 0) return false;
    // The holder is suspended lower on this very call stack: it cannot finish while we wait.
    if (GaugeBusy) return false;
    if (!cuts_.empty() || platform::QuitRequested()) return false;

    ++AcquireDepth;
    struct DepthBack {
        std::int32_t& depth;
        ~DepthBack() { --depth; }
    } depthBack{AcquireDepth};

    if (!EnsureConfigured()) return false;
    if (!EnsureGaugeReady()) return false;
    // One pass over waiting events, as a guard with the gauge free always makes.
    if (YieldOnce() == kQuitMessage || GaugeBusy) return false;
    GaugeBusy = true;
    return true;
}

bool TGaugeLink::EnsureConfigured() {
    if (PortConfigured) return true;
    PortConfigured = view_.RunConnectionDialog();
    return PortConfigured;
}

bool TGaugeLink::EnsureGaugeReady() {
    if (!PortConfigured) return false;
    if (GaugeReady) return true;
    std::string reply;
    if (!SendCommand("S3", reply)) return false;
    GaugeReady = true;
    return true;
}

void TGaugeLink::CancelExchanges(const std::string& owner) {
    ++cuts_[owner];
    ++cancelGeneration_;
}

void TGaugeLink::ResumeExchanges(const std::string& owner) {
    cuts_.erase(owner);
}

} // namespace vg57
