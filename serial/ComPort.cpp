#include "ComPort.h"

#include "CrossThreadCall.h"
#include "PortMap.h"
#include "SerialCodes.h"
#include "SerialExcept.h"

#include <QCoreApplication>

namespace vg57 {

namespace {

TPortPrompt& Prompt() {
    static TPortPrompt prompt;
    return prompt;
}

// Runs fn on the application's thread later, if the port still exists then.
void PostToPort(const std::weak_ptr<TComPort*>& alive, std::function<void(TComPort&)> fn) {
    platform::PostCall(QCoreApplication::instance(), [alive, fn = std::move(fn)] {
        if (auto p = alive.lock()) fn(**p);
    });
}

} // namespace

TComPort::TComPort() : alive_(std::make_shared<TComPort*>(this)) {}

TComPort::~TComPort() {
    alive_.reset();
    if (state_ == TOpenState::open) DoClose();
    Notify(portDestroying);
    // A close still deferred: each dispatcher waits for its threads when destroyed.
    dispatcher_.reset();
    retiring_.clear();
}

void TComPort::SetPortPrompt(TPortPrompt prompt) {
    Prompt() = std::move(prompt);
}

std::string TComPort::PortLabel() const {
    const std::string device = device_.empty() ? DevicePath() : device_;
    if (comNumber_ == 0 && !device.empty()) return device;
    return "COM" + std::to_string(comNumber_) + (device.empty() ? "" : " (" + device + ")");
}

std::string TComPort::DevicePath() const {
    return fixedDevice_.empty() ? platform::PortDevice(comNumber_) : fixedDevice_;
}

bool TComPort::DeviceLost() const {
    return dispatcher_ && dispatcher_->DeviceLost();
}

std::string TComPort::DeviceLossText() const {
    return dispatcher_ ? dispatcher_->DeviceLossText() : std::string();
}

// ---- open and close ----

void TComPort::SetOpen(bool v) {
    if (v && state_ == TOpenState::closed)
        DoOpen();
    else if (!v && state_ == TOpenState::open)
        DoClose();
    // While a close is deferred, Open reads true and setting it does nothing.
}

void TComPort::DoOpen() {
    if (comNumber_ == 0 && fixedDevice_.empty()) {
        if (!promptForPort_ || !Prompt()) RaiseSerialError(ecNoPortSelected);
        const int chosen = Prompt()();
        if (chosen <= 0) RaiseSerialError(ecNoPortSelected);
        comNumber_ = static_cast<std::uint16_t>(chosen);
    }
    if (DeviceLayer != dlWin32) RaiseSerialError(ecNullApi);

    dispatcher_ = std::make_unique<TSerialDispatcher>();
    device_ = DevicePath();
    const std::string label = PortLabel();
    // Set before the open: the direction control may have something to say at once.
    dispatcher_->SetNoticeCallback(
        [alive = std::weak_ptr<TComPort*>(alive_), label](const std::string& text) {
            PostToPort(alive, [text = label + ": " + text](TComPort& port) {
                if (port.OnLineNotice) port.OnLineNotice(port, text);
            });
        });
    try {
        int code = ecBadId;
        if (!device_.empty()) {
            std::uint32_t options = 0;
            if (dtr_) options |= loDTR;
            if (rts_) options |= loRTS;
            if (hwFlow_ & hwfUseDTR) options |= loUseDTR;
            if (hwFlow_ & hwfUseRTS) options |= loUseRTS;
            code = dispatcher_->OpenDevice(device_, static_cast<std::uint32_t>(baud_), parity_,
                                           dataBits_, stopBits_, inSize_, outSize_, options);
        }
        if (code != 0) RaiseSerialError(code, label);

        state_ = TOpenState::open;
        ApplyAfterOpen();
    } catch (...) {
        state_ = TOpenState::closed;
        open_ = false;
        dispatcher_.reset(); // closes the device and ends the threads
        device_.clear();
        throw;
    }
    open_ = true;
    lossReported_ = false;
    std::weak_ptr<TComPort*> alive = alive_;
    dispatcher_->SetDeviceLostCallback([alive] {
        PostToPort(alive, [](TComPort& port) {
            if (port.lossReported_ || !port.dispatcher_ || !port.dispatcher_->DeviceLost()) return;
            port.lossReported_ = true;
            if (port.OnDeviceLost) port.OnDeviceLost(port);
        });
    });
    for (const auto& t : savedTimers_)
        dispatcher_->RestoreTimer(t);
    savedTimers_.clear();
    Notify(portOpened);
    if (OnPortOpen) OnPortOpen(*this);
}

void TComPort::ApplyAfterOpen() {
    // Every setting once more, each even if unchanged, in this order.
    ApplyHandshake();
    ApplySoftwareHandshake();
    ApplyHandshakeChars();
    dispatcher_->SetAvailThreshold(1);
    CheckSerial(dispatcher_->SetDTRLine(dtr_), PortLabel());
    CheckSerial(dispatcher_->SetRTSLine(rts_), PortLabel());
    ApplyRS485();
}

void TComPort::DoClose() {
    state_ = TOpenState::closing;
    Notify(portClosing);
    savedTimers_ = dispatcher_->TimerSlots();

    std::weak_ptr<TComPort*> alive = alive_;
    dispatcher_->SetThreadsEndedCallback(
        [alive] { PostToPort(alive, [](TComPort& port) { port.ReapRetired(); }); });
    dispatcher_->CloseDevice();
    if (dispatcher_->RunningThreads() == 0) {
        FinishRelease();
    } else {
        // Closed from inside a packet handed over by the dispatch thread: that thread ends once
        // we return. Its dispatcher retires beside the port until then (destroying it here would
        // wait for that very thread), and Open reads true until it is gone.
        retiring_.push_back(std::move(dispatcher_));
    }

    Notify(portClosed);
    if (OnPortClose) OnPortClose(*this);
}

void TComPort::FinishRelease() {
    dispatcher_.reset();
    device_.clear();
    state_ = TOpenState::closed;
    open_ = false;
}

void TComPort::ReapRetired() {
    std::erase_if(retiring_, [](const auto& d) { return d->RunningThreads() == 0; });
    if (state_ == TOpenState::closing && !dispatcher_ && retiring_.empty()) FinishRelease();
}

void TComPort::Notify(TPortEvent e) {
    // Users are told in reverse order of registration; a user may unregister meanwhile.
    const auto users = users_;
    for (auto it = users.rbegin(); it != users.rend(); ++it)
        it->callback(*this, e);
}

void TComPort::RegisterPortUser(TPortCallback callback, const void* object) {
    users_.push_back({std::move(callback), object});
}

void TComPort::UnregisterPortUser(const void* object) {
    std::erase_if(users_, [object](const User& u) { return u.object == object; });
}

TSerialDispatcher& TComPort::Dispatcher() {
    if (state_ == TOpenState::closed && autoOpen_) DoOpen();
    if (!dispatcher_) RaiseSerialError(ecCommNotOpen, PortLabel());
    return *dispatcher_;
}

void TComPort::WriteText(const std::string& text) {
    if (text.empty() || state_ == TOpenState::closing) return;
    if (state_ == TOpenState::closed && autoOpen_) DoOpen();
    if (!dispatcher_) RaiseSerialError(ecCommNotOpen, PortLabel());
    CheckSerial(dispatcher_->QueueOutput(text.data(), static_cast<std::uint32_t>(text.size())),
                PortLabel());
}

// ---- settings ----

namespace {
// Stores v; false when the setting already had that value (which then does nothing).
template <typename T> bool Changed(T& field, T v) {
    if (field == v) return false;
    field = v;
    return true;
}
} // namespace

bool TComPort::RequireOpenForChange() {
    return state_ == TOpenState::open && dispatcher_;
}

void TComPort::SetComNumber(std::uint16_t v) {
    if (v == comNumber_) return;
    lastRs485Text_.clear();
    if (RequireOpenForChange()) {
        DoClose();
        comNumber_ = v;
        // A close deferred inside a packet event left the old dispatcher retiring; the port
        // itself is free to open again at once.
        if (state_ == TOpenState::closing) FinishRelease();
        DoOpen();
    } else {
        comNumber_ = v;
    }
}

void TComPort::ApplyLine() {
    if (!RequireOpenForChange()) return;
    CheckSerial(dispatcher_->ApplyLineSettings(static_cast<std::uint32_t>(baud_), parity_,
                                               dataBits_, stopBits_),
                PortLabel());
}

void TComPort::SetBaud(std::int32_t v) {
    if (Changed(baud_, v)) ApplyLine();
}

void TComPort::SetParity(TParity v) {
    if (Changed(parity_, v)) ApplyLine();
}

void TComPort::SetDataBits(std::uint16_t v) {
    if (Changed(dataBits_, v)) ApplyLine();
}

void TComPort::SetStopBits(std::uint16_t v) {
    if (Changed(stopBits_, v)) ApplyLine();
}

void TComPort::SetInSize(std::uint16_t v) {
    if (v == inSize_) return;
    inSize_ = v;
    if (RequireOpenForChange())
        CheckSerial(dispatcher_->SetQueueSizes(inSize_, outSize_), PortLabel());
}

void TComPort::SetOutSize(std::uint16_t v) {
    if (v == outSize_) return;
    outSize_ = v;
    // The dispatcher's output ring keeps its size until the next open.
    if (RequireOpenForChange())
        CheckSerial(dispatcher_->SetQueueSizes(inSize_, outSize_), PortLabel());
}

void TComPort::SetDTR(bool v) {
    if (v == dtr_) return;
    if (RequireOpenForChange()) {
        // While the driver drives the line the request is ignored and the value kept.
        if (CheckSerial(dispatcher_->SetDTRLine(v), PortLabel()) == 1) return;
    }
    dtr_ = v;
}

void TComPort::SetRTS(bool v) {
    if (v == rts_) return;
    if (RequireOpenForChange()) {
        if (CheckSerial(dispatcher_->SetRTSLine(v), PortLabel()) == 1) return;
    }
    rts_ = v;
}

std::uint16_t TComPort::EffectiveFull(bool software) const {
    const int share = software ? 75 : 90;
    if (bufferFull_ == 0 || bufferFull_ > inSize_)
        return static_cast<std::uint16_t>((inSize_ * share + 50) / 100);
    return bufferFull_;
}

std::uint16_t TComPort::EffectiveResume(bool software) const {
    const int share = software ? 25 : 10;
    if (bufferResume_ == 0 || bufferResume_ > bufferFull_)
        return static_cast<std::uint16_t>((inSize_ * share + 50) / 100);
    return bufferResume_;
}

void TComPort::ApplyHandshake() {
    if (hwFlow_ != 0) {
        bufferFull_ = EffectiveFull(false);
        bufferResume_ = EffectiveResume(false);
    }
    if (!RequireOpenForChange()) return;
    CheckSerial(dispatcher_->SetHandshake(bufferFull_, bufferResume_, hwFlow_), PortLabel());
}

void TComPort::ApplySoftwareHandshake() {
    if (swFlow_ != swfNone) {
        bufferFull_ = EffectiveFull(true);
        bufferResume_ = EffectiveResume(true);
    }
    if (!RequireOpenForChange()) return;
    CheckSerial(dispatcher_->SetSoftwareHandshake(swFlow_, bufferFull_, bufferResume_),
                PortLabel());
}

void TComPort::ApplyRS485() {
    if (!RequireOpenForChange()) return;
    CheckSerial(dispatcher_->SetRS485(rs485_, rtsOnSend_), PortLabel());
    lastRs485Text_ = DescribeRs485(dispatcher_->Rs485State());
    if (rs485_) {
        // Applying the handshake again hands RTS to the direction control.
        CheckSerial(dispatcher_->SetHandshake(bufferFull_, bufferResume_,
                                              hwFlow_ & ~(hwfUseRTS | hwfRequireCTS)),
                    PortLabel());
        dispatcher_->SetRTSLine(false); // ignored while the direction control drives RTS
        rts_ = false;
    }
}

void TComPort::SetHWFlowOptions(THWFlowOptions v) {
    if (v == hwFlow_) return;
    hwFlow_ = v;
    if (v & (hwfUseRTS | hwfRequireCTS)) rs485_ = false;
    ApplyHandshake();
    if (RequireOpenForChange() && !rs485_) CheckSerial(dispatcher_->SetRS485(false), PortLabel());
}

void TComPort::SetSWFlowOptions(TSWFlowOptions v) {
    if (Changed(swFlow_, v)) ApplySoftwareHandshake();
}

void TComPort::ApplyHandshakeChars() {
    if (!RequireOpenForChange()) return;
    CheckSerial(dispatcher_->SetHandshakeChars(static_cast<std::uint8_t>(xonChar_),
                                               static_cast<std::uint8_t>(xoffChar_)),
                PortLabel());
}

void TComPort::SetXOnChar(char v) {
    if (Changed(xonChar_, v)) ApplyHandshakeChars();
}

void TComPort::SetXOffChar(char v) {
    if (Changed(xoffChar_, v)) ApplyHandshakeChars();
}

void TComPort::SetBufferFull(std::uint16_t v) {
    if (Changed(bufferFull_, v)) ApplyHandshake();
}

void TComPort::SetBufferResume(std::uint16_t v) {
    if (Changed(bufferResume_, v)) ApplyHandshake();
}

void TComPort::SetRtsOnSend(TRtsOnSend v) {
    if (Changed(rtsOnSend_, v) && rs485_) ApplyRS485();
}

std::string TComPort::Rs485Text() const {
    if (dispatcher_ && state_ == TOpenState::open) return DescribeRs485(dispatcher_->Rs485State());
    return lastRs485Text_.empty() ? std::string() : "при последнем открытии: " + lastRs485Text_;
}

void TComPort::SetRS485Mode(bool v) {
    if (v == rs485_) return;
    rs485_ = v;
    if (v) {
        hwFlow_ &= ~(hwfUseRTS | hwfRequireCTS);
        rts_ = false;
    }
    ApplyRS485();
    if (!v && RequireOpenForChange()) ApplyHandshake();
}

} // namespace vg57
