// One gauge's exchanges through the bus, the guard, and the first contact.
#include "GaugeLink.h"

#include "SerialMisc.h"

namespace vg57 {

TGaugeLink::TGaugeLink(TGaugeBus& bus, TGaugeView& view) : bus_(bus), view_(view) {}

bool TGaugeLink::SendCommand(const std::string& command, std::string& reply) {
    reply.clear();
    if (bus_.Refuses()) return false;
    view_.SetTransferIndicator(TIndicator::yellow);
    bool answered = false;
    try {
        answered = bus_.Exchange(DevAddress, command, reply);
    } catch (...) {
        view_.SetTransferIndicator(TIndicator::red);
        throw;
    }
    view_.SetTransferIndicator(answered ? TIndicator::green : TIndicator::red);
    return answered;
}

bool TGaugeLink::AcquireGauge() {
    if (bus_.AcquireDepth > 0) return false;
    // The holder is suspended lower on this very call stack: it cannot finish while we wait.
    if (bus_.GaugeBusy) return false;
    if (bus_.Cut()) return false;

    ++bus_.AcquireDepth;
    struct DepthBack {
        std::int32_t& depth;
        ~DepthBack() { --depth; }
    } depthBack{bus_.AcquireDepth};

    if (!EnsureConfigured()) return false;
    if (!EnsureGaugeReady()) return false;
    // One pass over waiting events, as a guard with the gauge free always makes.
    if (YieldOnce() == kQuitMessage || bus_.GaugeBusy) return false;
    bus_.GaugeBusy = true;
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
    // With an adapter that echoes, the bus drops the echo: only the gauge's own answer counts.
    if (!SendCommand("S3", reply)) return false;
    GaugeReady = true;
    return true;
}

} // namespace vg57
