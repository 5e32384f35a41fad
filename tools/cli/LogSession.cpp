#include "LogSession.h"

#include "EventLoop.h"

namespace vg57::cli {

TLogSession::TLogSession(const TLogOptions& options, std::function<void(const std::string&)> say)
    : options_(options), say_(std::move(say)), link_(port_, *this),
      cycle_({port_, link_, *this, *this, archive_, actions_, timer_, *this}) {
    // The port and framer as the window sets them.
    port_.SetComNumber(static_cast<std::uint16_t>(options.device.empty() ? options.comNumber : 0));
    port_.SetFixedDevice(options.device);
    port_.SetPromptForPort(false);
    port_.SetBaud(options.baud);
    port_.SetParity(options.parity);
    port_.SetStopBits(options.stopBits);
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
        link_.DataPacket1StringPacket(sender, data);
    };
    port_.OnDeviceLost = [this](TComPort&) { cycle_.DeviceLost(); };
    port_.OnPortOpen = [this](TComPort&) { cycle_.PortOpened(); };

    link_.DevAddress = options.address;
    link_.PortConfigured = true;
    archive_.SetFolder(options.archiveDir);
    archive_.onStatusChanged = [this] { StatusChanged(); };

    timer_.setInterval(options.intervalMs);
    QObject::connect(&timer_, &QTimer::timeout,
                     [this] { RunAsHandler([this] { cycle_.MeasureTimerTimer(); }); });
    cycle_.comPortName = [this] { return "COM" + std::to_string(port_.ComNumber()); };
    cycle_.handlerRunning = [this] { return Busy(); };
    cycle_.asHandler = [this](const std::function<void()>& step) { RunAsHandler(step); };
    // The late set-up waits, like the window's, until no tick is on the stack: it reopens
    // nothing under a wait, and a reconnection never runs inside its own.
    cycle_.afterHandlers = [this](const std::function<void()>& step) {
        QTimer::singleShot(0, &timer_, [this, step] {
            if (Busy())
                deferred_.push_back(step);
            else
                RunAsHandler(step);
        });
    };
}

TLogSession::~TLogSession() {
    deferred_.clear();
    cycle_.Shutdown();
    link_.CancelExchanges();
    timer_.stop();
    archive_.Close();
    // Closing the port handles events: nothing it may call back may reach us half-destroyed.
    port_.OnDeviceLost = nullptr;
    port_.OnPortOpen = nullptr;
    framer_.OnStringPacket = nullptr;
    archive_.onStatusChanged = nullptr;
    try {
        port_.SetOpen(false);
    } catch (...) {
        // Closing releases what the port holds; there is nobody left to tell.
    }
}

void TLogSession::RunAsHandler(const std::function<void()>& step) {
    ++depth_;
    platform::RunShowingErrors(step);
    --depth_;
    // What waits for a calm moment runs once the outermost handler has returned.
    while (depth_ == 0 && !deferred_.empty()) {
        const std::function<void()> next = std::move(deferred_.front());
        deferred_.pop_front();
        RunAsHandler(next);
    }
}

std::string TLogSession::PortText() const {
    const std::string device =
        port_.OpenedDevice().empty() ? port_.DevicePath() : port_.OpenedDevice();
    if (!options_.device.empty()) return device;
    return "COM" + std::to_string(port_.ComNumber()) + (device.empty() ? "" : " (" + device + ")");
}

bool TLogSession::Start(std::string& reason) {
    openError_.clear();
    RunAsHandler([this] { cycle_.ActionStartExecute(); });
    if (!cycle_.Measuring()) {
        reason = openError_.empty() ? "Невозможно открыть порт " + PortText() : openError_;
        return false;
    }
    say_("измерение начато: порт " + PortText() + ", адрес " + std::string(1, options_.address) +
         ", архив в " + (options_.archiveDir.empty() ? "." : options_.archiveDir));
    return true;
}

void TLogSession::Stop() {
    if (!cycle_.Measuring()) return;
    RunAsHandler([this] { cycle_.ActionStopExecute(); });
    say_("измерение остановлено" + (archivePath_.empty() ? "" : ", архив закрыт: " + archivePath_));
}

void TLogSession::SetTransferIndicator(TIndicator colour) {
    if (colour == TIndicator::green && answer_ != TAnswer::answering) {
        if (answer_ == TAnswer::silent) say_("прибор снова отвечает");
        answer_ = TAnswer::answering;
    } else if (colour == TIndicator::red && answer_ != TAnswer::silent) {
        // A wait cut short by Stop is no news about the gauge.
        if (platform::QuitRequested()) return;
        say_("прибор не отвечает");
        answer_ = TAnswer::silent;
    }
}

void TLogSession::ShowPortOpenError(const std::string& port, const std::string& reason) {
    const std::string name = options_.device.empty() ? port : options_.device;
    openError_ = "Невозможно открыть порт " + name + (reason.empty() ? "" : ": " + reason);
}

void TLogSession::StatusChanged() {
    if (cycle_.AdapterGone() != adapterGone_) {
        adapterGone_ = cycle_.AdapterGone();
        say_(adapterGone_ ? cycle_.AdapterText() : "адаптер снова подключён: " + PortText());
    }
    // A file moved, deleted or begun anew after the clock went back: the notice names the file.
    if (archive_.Notice() != archiveNotice_) {
        archiveNotice_ = archive_.Notice();
        if (!archiveNotice_.empty()) {
            say_(archiveNotice_);
            archivePath_ = archive_.Path();
        }
    }
    if (archive_.Path() != archivePath_ && !archive_.Path().empty()) {
        archivePath_ = archive_.Path();
        say_("архив: " + archivePath_);
    }
    if (archive_.Problem() != archiveProblem_) {
        const bool recovered = archive_.Problem().empty();
        archiveProblem_ = archive_.Problem();
        say_(recovered ? "архив снова пишется: " + archive_.Path() : archiveProblem_);
    }
}

} // namespace vg57::cli
