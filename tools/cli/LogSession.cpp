#include "LogSession.h"

#include "EventLoop.h"

#include <algorithm>
#include <cstdio>
#include <vector>

namespace vg57::cli {

namespace {

// What a write problem says beyond the file's name: a file that can't be created gets a new
// name each second, and that is no news.
std::string ProblemReason(const std::string& problem) {
    const std::size_t colon = problem.rfind(": ");
    return colon == std::string::npos ? problem : problem.substr(colon + 2);
}

} // namespace

// One gauge on the line: its link, archive and cycle, and what it last told.
class TLogSession::TGauge : public TGaugeView, public TCycleView, private TReadingSink {
public:
    TGauge(TLogSession& session, char address, bool several)
        : session_(session), address_(address),
          prefix_(several ? std::string("прибор ") + address + ": " : std::string()),
          link(session.bus_, *this),
          cycle({session.port_, link, *this, *this, archive, actions, timer, *this}) {
        link.DevAddress = address;
        link.PortConfigured = true;
        archive.SetFolder(session.options_.archiveDir);
        // Several gauges' runs start in the same second: each file carries its gauge.
        if (several) {
            archive.SetNameAddress(address);
            cycle.lineRoundSeconds = [&session] { return session.LineGapSeconds(); };
        }
        archive.onStatusChanged = [this] { StatusChanged(); };
        timer.setInterval(session.options_.intervalMs);
        QObject::connect(&timer, &QTimer::timeout, [this] { session_.Turn(*this); });
    }
    ~TGauge() override { archive.onStatusChanged = nullptr; }

    char Address() const { return address_; }
    void Say(const std::string& text) { session_.say_(prefix_ + text); }

    // ---- TGaugeView: only whether the gauge answers is told ----
    void SetUnitsText(const std::string&) override {}
    void SetPressureText(const std::string&) override {}
    void SetTestText(const std::string&) override {}
    void SetSetPointText(int, const std::string&) override {}
    void SetTransferIndicator(TIndicator colour) override {
        if (colour == TIndicator::green && answer_ != TAnswer::answering) {
            if (answer_ == TAnswer::silent) Say("прибор снова отвечает");
            answer_ = TAnswer::answering;
        } else if (colour == TIndicator::red && answer_ != TAnswer::silent) {
            // A wait cut short by Stop is no news about the gauge.
            if (platform::QuitRequested()) return;
            Say("прибор не отвечает");
            answer_ = TAnswer::silent;
        }
    }
    void ShowMessage(const std::string& text) override { Say(text); }
    bool RunConnectionDialog() override { return true; } // the command line set it up

    // ---- TCycleView ----
    void ShowPortOpenError(const std::string& port, const std::string& reason) override {
        const std::string name = session_.options_.device.empty() ? port : session_.options_.device;
        session_.openError_ =
            "Невозможно открыть порт " + name + (reason.empty() ? "" : ": " + reason);
    }
    void StatusChanged() override {
        session_.NoteAdapter(cycle);
        // A file moved, deleted or begun anew after the clock went back: the notice names the
        // file.
        if (archive.Notice() != archiveNotice_) {
            archiveNotice_ = archive.Notice();
            if (!archiveNotice_.empty()) {
                Say(archiveNotice_);
                archivePath_ = archive.Path();
            }
        }
        if (archive.Path() != archivePath_ && !archive.Path().empty()) {
            archivePath_ = archive.Path();
            Say("архив: " + archivePath_);
        }
        if (ProblemReason(archive.Problem()) != ProblemReason(archiveProblem_)) {
            const bool recovered = archive.Problem().empty();
            archiveProblem_ = archive.Problem();
            Say(recovered ? "архив снова пишется: " + archive.Path() : archiveProblem_);
        }
    }
    const std::string& ArchivePath() const { return archivePath_; }

    // ---- turns ----
    bool queued = false; // its tick waits for the line
    // The times between the starts of its last answered tries, in milliseconds: their median
    // is the interval it gets, which one time-out of another gauge does not move.
    std::deque<double> intervals;
    std::chrono::steady_clock::time_point lastTry{};
    double MedianInterval() const {
        if (intervals.empty()) return 0;
        std::vector<double> sorted(intervals.begin(), intervals.end());
        std::nth_element(sorted.begin(), sorted.begin() + sorted.size() / 2, sorted.end());
        return sorted[sorted.size() / 2];
    }

private:
    // ---- TReadingSink: a service keeps no points, so a week of logging holds no memory; the
    // tap (the live MQTT state) sees them ----
    void RunStarted() override {
        if (tap) tap->RunStarted();
    }
    void Reading(double time, double pressure, const std::string& unitCode) override {
        if (tap) tap->Reading(time, pressure, unitCode);
    }
    void Missed(double time) override {
        if (tap) tap->Missed(time);
    }
    void Demonstration(double, double) override {}

    TLogSession& session_;
    const char address_;
    const std::string prefix_;
    enum class TAnswer { unknown, answering, silent } answer_ = TAnswer::unknown;
    std::string archivePath_, archiveProblem_, archiveNotice_;

public:
    TReadingSink* tap = nullptr;
    TGaugeLink link;
    TArchiveWriter archive;
    TActionStates actions;
    QTimer timer;
    TMeasureCycle cycle;
};

TLogSession::TLogSession(const TLogOptions& options, std::function<void(const std::string&)> say)
    : options_(options), say_(std::move(say)) {
    // The port as the window sets it (the bus frames and drives the line).
    port_.SetComNumber(static_cast<std::uint16_t>(options.device.empty() ? options.comNumber : 0));
    port_.SetFixedDevice(options.device);
    port_.SetPromptForPort(false);
    port_.SetBaud(options.baud);
    port_.SetParity(options.parity);
    port_.SetStopBits(options.stopBits);
    port_.SetRtsOnSend(options.rtsOnSend);
    port_.OnLineNotice = [this](TComPort&, const std::string& text) { say_(text); };
    bus_.onNotice = [this](const std::string& text) { say_(text); };
    const bool several = options.addresses.size() > 1;
    for (char address : options.addresses)
        gauges_.push_back(std::make_unique<TGauge>(*this, address, several));
    // One adapter for all: its loss and return are every gauge's.
    port_.OnDeviceLost = [this](TComPort&) {
        for (auto& g : gauges_)
            g->cycle.DeviceLost();
    };
    port_.OnPortOpen = [this](TComPort&) {
        for (auto& g : gauges_)
            g->cycle.PortOpened();
    };
    for (auto& g : gauges_) {
        TMeasureCycle& cycle = g->cycle;
        cycle.comPortName = [this] { return "COM" + std::to_string(port_.ComNumber()); };
        cycle.handlerRunning = [this] { return Busy(); };
        cycle.asHandler = [this](const std::function<void()>& step) { RunAsHandler(step); };
        // The late set-up waits, like the window's, until no tick is on the stack: it reopens
        // nothing under a wait, and a reconnection never runs inside its own.
        QTimer* timer = &g->timer;
        cycle.afterHandlers = [this, timer](const std::function<void()>& step) {
            QTimer::singleShot(0, timer, [this, step] {
                if (Busy())
                    deferred_.push_back(step);
                else
                    RunAsHandler(step);
            });
        };
    }
}

TLogSession::~TLogSession() {
    deferred_.clear();
    for (auto& g : gauges_) {
        g->cycle.Shutdown();
        g->timer.stop();
        g->archive.Close();
    }
    bus_.CancelExchanges();
    // Closing the port handles events: nothing it may call back may reach us half-destroyed.
    port_.OnDeviceLost = nullptr;
    port_.OnPortOpen = nullptr;
    port_.OnLineNotice = nullptr;
    bus_.onNotice = nullptr;
    try {
        port_.SetOpen(false);
    } catch (...) {
        // Closing releases what the port holds; there is nobody left to tell.
    }
}

char TLogSession::Address(std::size_t gauge) const {
    return gauges_.at(gauge)->Address();
}

void TLogSession::SetReadingTap(std::size_t gauge, TReadingSink* tap) {
    gauges_.at(gauge)->tap = tap;
}

TMeasureCycle& TLogSession::Cycle(std::size_t gauge) {
    return gauges_.at(gauge)->cycle;
}

TArchiveWriter& TLogSession::Archive(std::size_t gauge) {
    return gauges_.at(gauge)->archive;
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

void TLogSession::Turn(TGauge& gauge) {
    // Another gauge's exchange is on the stack: this one takes the next free turn, once, in the
    // order the ticks came. With one gauge a tick inside a wait is dropped, as the window's.
    if (Busy() && gauges_.size() > 1) {
        if (gauge.queued) return;
        gauge.queued = true;
        deferred_.push_back([this, &gauge] {
            gauge.queued = false;
            TakeTurn(gauge);
        });
        return;
    }
    TakeTurn(gauge);
}

void TLogSession::TakeTurn(TGauge& gauge) {
    // A gauge that failed twice running costs the others at most one time-out per 10 s.
    if (gauges_.size() > 1 && !bus_.TurnDue(gauge.Address())) return;
    const auto now = std::chrono::steady_clock::now();
    const auto previous = gauge.lastTry;
    gauge.lastTry = now;
    RunAsHandler([&gauge] { gauge.cycle.MeasureTimerTimer(); });
    if (bus_.FailuresRunning(gauge.Address()) > 0) {
        gauge.lastTry = {}; // a silent gauge is not polled at the interval on purpose
    } else if (previous != std::chrono::steady_clock::time_point{}) {
        gauge.intervals.push_back(
            std::chrono::duration<double, std::milli>(now - previous).count());
        if (gauge.intervals.size() > 9) gauge.intervals.pop_front();
        gaps_.emplace_back(now, gauge.intervals.back() / 1000);
        // Kept over two silent gauges' retries, so a gap they caused is still known at the next.
        const auto kept = std::chrono::milliseconds(2 * TGaugeBus::kSilentRetryMs + 5000);
        while (!gaps_.empty() && (now - gaps_.front().first > kept || gaps_.size() > 512))
            gaps_.pop_front();
    }
    NoteInterval();
    if (busBoard_) {
        const TGaugeBus::TCounters& c = bus_.Counters();
        busBoard_->Set({c.exchanges, c.resyncs, c.strays, AchievedIntervalMs() / 1000});
    }
}

double TLogSession::LineGapSeconds() const {
    const auto kept = std::chrono::milliseconds(2 * TGaugeBus::kSilentRetryMs + 5000);
    const auto now = std::chrono::steady_clock::now();
    double longest = 0;
    for (const auto& [end, seconds] : gaps_)
        if (now - end < kept) longest = std::max(longest, seconds);
    return longest;
}

double TLogSession::AchievedIntervalMs() const {
    double slowest = 0;
    for (const auto& g : gauges_)
        // A gauge that does not answer is not polled at the interval on purpose.
        if (bus_.FailuresRunning(g->Address()) == 0)
            slowest = std::max(slowest, g->MedianInterval());
    return slowest;
}

void TLogSession::NoteInterval() {
    if (gauges_.size() < 2) return; // one gauge waits for the line only while it is silent
    const double achieved = AchievedIntervalMs(), asked = options_.intervalMs;
    char text[64];
    if (!slowSaid_ && achieved > asked * 1.1) {
        slowSaid_ = true;
        std::snprintf(text, sizeof text, "%.3f с (задан %.3f с)", achieved / 1000, asked / 1000);
        say_(std::string("линия не успевает: интервал опроса ") + text);
    } else if (slowSaid_ && achieved > 0 && achieved < asked * 1.05) {
        slowSaid_ = false;
        std::snprintf(text, sizeof text, "%.3f с", asked / 1000);
        say_(std::string("интервал опроса снова ") + text);
    }
}

void TLogSession::NoteAdapter(const TMeasureCycle& cycle) {
    if (cycle.AdapterGone() == adapterGone_) return;
    adapterGone_ = cycle.AdapterGone();
    say_(adapterGone_ ? cycle.AdapterText() : "адаптер снова подключён: " + PortText());
}

std::string TLogSession::PortText() const {
    const std::string device =
        port_.OpenedDevice().empty() ? port_.DevicePath() : port_.OpenedDevice();
    if (!options_.device.empty()) return device;
    return "COM" + std::to_string(port_.ComNumber()) + (device.empty() ? "" : " (" + device + ")");
}

bool TLogSession::Start(std::string& reason) {
    openError_.clear();
    for (auto& g : gauges_) {
        RunAsHandler([&g] { g->cycle.ActionStartExecute(); });
        if (!g->cycle.Measuring()) {
            for (auto& started : gauges_)
                if (started->cycle.Measuring())
                    RunAsHandler([&started] { started->cycle.ActionStopExecute(); });
            reason = openError_.empty() ? "Невозможно открыть порт " + PortText() : openError_;
            return false;
        }
    }
    std::string addresses;
    for (auto& g : gauges_)
        addresses += (addresses.empty() ? "" : ", ") + std::string(1, g->Address());
    say_("измерение начато: порт " + PortText() + (gauges_.size() > 1 ? ", адреса " : ", адрес ") +
         addresses + ", архив в " + (options_.archiveDir.empty() ? "." : options_.archiveDir) +
         "; " + port_.Rs485Text());
    return true;
}

void TLogSession::Stop() {
    for (auto& g : gauges_)
        g->timer.stop(); // no gauge's turn between the others' stops
    bool any = false;
    for (auto& g : gauges_) {
        if (!g->cycle.Measuring()) continue;
        any = true;
        RunAsHandler([&g] { g->cycle.ActionStopExecute(); });
    }
    if (!any) return;
    if (gauges_.size() == 1) {
        const std::string& path = gauges_.front()->ArchivePath();
        say_("измерение остановлено" + (path.empty() ? "" : ", архив закрыт: " + path));
        return;
    }
    say_("измерение остановлено");
    for (auto& g : gauges_)
        if (!g->ArchivePath().empty()) g->Say("архив закрыт: " + g->ArchivePath());
}

void TLogSession::ReopenArchive() {
    const auto step = [this] {
        for (auto& g : gauges_) {
            g->archive.ReopenFile();
            g->Say("архив будет открыт заново" +
                   (g->ArchivePath().empty() ? std::string() : ": " + g->ArchivePath()));
        }
    };
    if (Busy())
        deferred_.push_back(step);
    else
        RunAsHandler(step);
}

} // namespace vg57::cli
