// The transaction: one exchange on the line, the packet handler, and the guard.
#include "GaugeLink.h"

#include "ComPort.h"
#include "EventLoop.h"
#include "SerialMisc.h"

namespace vg57 {

TGaugeLink::TGaugeLink(TComPort& port, TGaugeView& view) : port_(port), view_(view) {}

bool TGaugeLink::SendCommand(const std::string& command, std::string& reply) {
    reply.clear();
    if (TransferState == tsWaiting) return false;
    // Once Stop or the window's close began, nothing more goes out on the line.
    if (cancelled_ || platform::QuitRequested()) return false;

    view_.SetTransferIndicator(TIndicator::yellow);
    TransferState = tsWaiting;
    try {
        port_.WriteText(std::string(1, '\x02') + DevAddress + command + '\r');
    } catch (...) {
        // Left waiting, every later exchange of the run would fail at once, even after the
        // operator has mended the port.
        TransferState = tsReady;
        view_.SetTransferIndicator(TIndicator::red);
        throw;
    }

    TTickTimer timer;
    StartTickTimer(timer, kReplyTimeoutTicks);
    const std::uint64_t generation = cancelGeneration_;
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

    // A reply in the very pass in which time ran out still counts as a time-out.
    if (expired || cutShort) {
        TransferState = tsReady;
        view_.SetTransferIndicator(TIndicator::red);
        return false;
    }
    reply = LastReply;
    view_.SetTransferIndicator(TIndicator::green);
    return true;
}

void TGaugeLink::DataPacket1StringPacket(TDataPacket&, const std::string& data) {
    LastReply = data;
    TransferState = tsReady;
}

bool TGaugeLink::AcquireGauge() {
    if (AcquireDepth > 0) return false;
    // The holder is suspended lower on this very call stack: it cannot finish while we wait.
    if (GaugeBusy) return false;
    if (cancelled_ || platform::QuitRequested()) return false;

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

void TGaugeLink::CancelExchanges() {
    cancelled_ = true;
    ++cancelGeneration_;
}

void TGaugeLink::ResumeExchanges() {
    cancelled_ = false;
}

} // namespace vg57
