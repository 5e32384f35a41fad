#include "MeasureCycle.h"

#include "ArchiveWriter.h"
#include "ComPort.h"
#include "DateTime.h"
#include "EventLoop.h"
#include "GaugeLink.h"
#include "MetricsBoard.h"
#include "PortIdentity.h"
#include "PressureUnit.h"
#include "SerialExcept.h"

#include <QScopeGuard>

namespace vg57 {

int TMeasureCycle::DemoCounter = 0;

namespace {

// What a person can act on when the port won't open: the system's words, the port and device.
std::string OpenFailureReason(std::exception_ptr error) {
    try {
        std::rethrow_exception(error);
    } catch (const ESerialException& e) {
        return e.Detail().empty() ? e.what() : std::string(e.what()) + ": " + e.Detail();
    } catch (const EInOutError& e) {
        return e.Detail().empty() ? e.what() : std::string(e.what()) + ": " + e.Detail();
    } catch (const std::exception& e) {
        return e.what();
    } catch (...) {
        return {};
    }
}

} // namespace

TMeasureCycle::TMeasureCycle(const TParts& parts) : p_(parts) {
    now = [] { return CurrentLocalMs(); };
    reconnectTimer_.setInterval(kReconnectMs);
    QObject::connect(&reconnectTimer_, &QTimer::timeout, [this] {
        // Never inside a wait: the port is replaced, and a handler lower down may be using it.
        if (handlerRunning && handlerRunning()) return;
        // Closing the port handles events while its threads end: this is a handler, so an
        // operator action arriving meanwhile waits for it.
        auto attempt = [this] { platform::RunShowingErrors([this] { TryReconnect(); }); };
        if (asHandler)
            asHandler(attempt);
        else
            attempt();
    });
}

TMeasureCycle::~TMeasureCycle() = default;

void TMeasureCycle::ActionStartExecute() {
    if (!p_.link.EnsureConfigured()) return;
    try {
        // A port whose adapter dropped out carries nothing until it is opened anew.
        if (p_.port.Open() && p_.port.DeviceLost()) p_.port.SetOpen(false);
        p_.port.SetOpen(true);
    } catch (...) {
        p_.view.ShowPortOpenError(comPortName ? comPortName() : std::string(),
                                  OpenFailureReason(std::current_exception()));
        return;
    }
    p_.actions.Enable(TActionId::Start, false);
    p_.actions.Enable(TActionId::Stop, true);
    p_.actions.Enable(TActionId::ConnectionSetup, false);
    p_.actions.Enable(TActionId::CalibrAtm, false);
    p_.actions.Enable(TActionId::CalibrZero, false);
    p_.actions.Enable(TActionId::LoadfromFile, false);
    ++runNumber_;
    lateSetUpsLeft_ = kLateSetUps;
    const bool answered = p_.link.EnsureGaugeReady();
    if (answered) p_.actions.Enable(TActionId::DeviceSettings, true);
    measuring_ = true;
    UpdateReconnectTimer(); // the adapter may have gone during the "S3" above
    p_.archive.Reset();
    answeredThisRun_ = failing_ = false;
    pace_.Reset();
    // A gauge silent at the first contact is shown as such at once, not after the set-up's
    // time-outs and the first tick's.
    missedThisRun_ = !answered;
    p_.readings.RunStarted();
    if (metrics_) metrics_->Update([](TMetricsSample& m) { m.measuring = true; });
    p_.view.StatusChanged();
    StartPolling(answered);
}

void TMeasureCycle::StartPolling(bool setUpNow) {
    // Not given now, the set-up follows the run's first good reading. A gauge that did not
    // answer the first contact would only spend a time-out on each read.
    setUpDue_ = !setUpNow || !SetUpGauge();
    if (measuring_) p_.measureTimer.start();
}

bool TMeasureCycle::SetUpGauge() {
    // A malformed set point reply is shown, and measuring still starts: the gauge did answer.
    bool good = true, malformed = true;
    platform::RunShowingErrors([&] {
        good = p_.link.ReadSetPoints();
        malformed = false;
    });
    bool unit = false;
    platform::RunShowingErrors([&] { unit = p_.link.ReadUnit(); });
    if (p_.link.GaugeReady && measuring_) p_.actions.Enable(TActionId::DeviceSettings, true);
    // The set points are in the unit read right after them; a malformed one leaves stale values.
    if (good && unit && !malformed) PublishSetPoints();
    return good && unit;
}

void TMeasureCycle::ActionStopExecute() {
    p_.measureTimer.stop();
    measuring_ = false;
    if (metrics_) metrics_->Update([](TMetricsSample& m) { m.measuring = false; });
    UpdateReconnectTimer();
    // Before any wait of Stop's own: no line can reach this run's file afterwards.
    p_.archive.Close();
    p_.port.SetOpen(false);
    p_.actions.Enable(TActionId::Start, true);
    p_.actions.Enable(TActionId::Stop, false);
    p_.actions.Enable(TActionId::ConnectionSetup, true);
    p_.actions.Enable(TActionId::LoadfromFile, true);
    SetDemoShown(false);
    failing_ = false;
    p_.view.StatusChanged();
    // With the adapter gone, the "S3" would only fail to open the port: Stop stays quiet.
    const bool ready = adapterGone_ ? p_.link.GaugeReady : p_.link.EnsureGaugeReady();
    if (ready) {
        p_.actions.Enable(TActionId::CalibrAtm, true);
        p_.actions.Enable(TActionId::CalibrZero, true);
    }
    // The last value stays on the panel, but the line is no longer watched.
    p_.gaugeView.SetTransferIndicator(TIndicator::face);
    p_.view.RunStopped();
}

void TMeasureCycle::MeasureTimerTimer() {
    if (!measuring_ || inTick_) return;
    inTick_ = true;
    const auto leave = qScopeGuard([this] { inTick_ = false; });
    pace_.TickStarted(std::chrono::steady_clock::now());
    // Without its adapter the port carries nothing: no point, no line, nothing written; the
    // chart's time still moves on and the shown value ages.
    if (adapterGone_) {
        Missed(DaysOf(now()));
        pace_.TickEnded(std::chrono::steady_clock::now());
        PublishTick(false, true); // a reading not given, as a silent gauge's
        p_.view.StatusChanged();
        return;
    }

    bool obtained = true;
    const bool read = p_.link.ReadMeasurement(&obtained);
    const std::int64_t ms = now();
    const double t = DaysOf(ms);
    if (read) {
        SetDemoShown(false);
        failing_ = false;
        answeredThisRun_ = haveReading_ = true;
        lastReading_ = std::chrono::steady_clock::now();
        p_.readings.Reading(t, static_cast<double>(p_.link.CurrentPressure), p_.link.UnitCode);
        // Only a reading taken in this tick is archived: never a repeated or demonstration value.
        p_.archive.WriteArchiveLine(ms, p_.link.CurrentPressure, p_.link.UnitCode);
    } else if (!obtained && !p_.link.GaugeReady) {
        ShowDemoValue(t);
    } else {
        Missed(t);
    }
    pace_.TickEnded(std::chrono::steady_clock::now());
    // A refused guard sent nothing (another sequence holds the gauge): it says nothing of it.
    PublishTick(read, obtained || !p_.link.GaugeReady);
    p_.view.StatusChanged();
    if (read && setUpDue_ && !setUpQueued_ && lateSetUpsLeft_ > 0) QueueLateSetUp();
}

void TMeasureCycle::QueueLateSetUp() {
    // A tick may run inside another handler's wait: the set-up waits, as an action does, until
    // every handler has returned.
    setUpQueued_ = true;
    const int run = runNumber_;
    auto step = [this, run] {
        setUpQueued_ = false;
        if (!measuring_ || run != runNumber_ || !setUpDue_) return;
        // A gauge that answers the pressure but never the set points would otherwise lose
        // readings to a set-up's time-outs after every good one.
        --lateSetUpsLeft_;
        setUpDue_ = !SetUpGauge();
    };
    if (afterHandlers)
        afterHandlers(step);
    else
        QTimer::singleShot(0, &reconnectTimer_, step);
}

void TMeasureCycle::Missed(double time) {
    missedThisRun_ = true;
    failing_ = answeredThisRun_;
    p_.readings.Missed(time);
}

bool TMeasureCycle::Stale() const {
    if (!measuring_) return false;
    // Before this run's first reading, only a failed tick says the line is silent.
    if (!answeredThisRun_) return missedThisRun_;
    const std::chrono::duration<double> limit(kStaleIntervals * StalenessSeconds());
    return std::chrono::steady_clock::now() - lastReading_ > limit;
}

double TMeasureCycle::StalenessSeconds() const {
    const double line = lineRoundSeconds ? lineRoundSeconds() : 0;
    return std::max(
        line, StalenessInterval(p_.measureTimer.interval() / 1000.0, pace_.AchievedSeconds()));
}

long long TMeasureCycle::ReadingAgeSeconds() const {
    if (!haveReading_) return -1;
    return std::chrono::duration_cast<std::chrono::seconds>(std::chrono::steady_clock::now() -
                                                            lastReading_)
        .count();
}

void TMeasureCycle::ShowDemoValue(double time) {
    // Drawn in the chart's demonstration series only: the panel has no value to show.
    p_.link.CurrentPressure = (DemoCounter % 100) * 1e-8L + 9e-7L;
    ++DemoCounter;
    missedThisRun_ = true;
    p_.readings.Demonstration(time, static_cast<double>(p_.link.CurrentPressure));
    SetDemoShown(true);
}

void TMeasureCycle::SetDemoShown(bool on) {
    if (demoShown_ == on) return;
    demoShown_ = on;
    p_.view.StatusChanged();
}

void TMeasureCycle::DeviceLost() {
    if (adapterGone_) return;
    adapterGone_ = true;
    // What was open, not what the number maps to now: the adapter's link may already be gone.
    lostIdentity_ = openIdentity_;
    const std::string& device = p_.port.OpenedDevice();
    // The link's own words and the system's are for whoever digs deeper, apart from ours.
    adapterReason_ = p_.port.DeviceLossText();
    const std::string port = p_.port.FixedDevice().empty()
                                 ? "порта COM" + std::to_string(p_.port.ComNumber()) +
                                       (device.empty() ? std::string() : " (" + device + ")")
                                 : device;
    adapterText_ = "Адаптер " + port + " отключён";
    PublishPort(false);
    UpdateReconnectTimer();
    // The last exchange may have been answered: the indicator must not stay green without it.
    p_.gaugeView.SetTransferIndicator(TIndicator::red);
    p_.view.StatusChanged();
}

void TMeasureCycle::PortOpened() {
    if (p_.port.DeviceLost()) return;
    openIdentity_ = CurrentIdentity();
    PublishPort(true);
    if (!adapterGone_) return;
    adapterGone_ = false;
    adapterText_.clear();
    adapterReason_.clear();
    UpdateReconnectTimer();
    p_.view.StatusChanged();
}

bool TMeasureCycle::TryReconnect() {
    if (!adapterGone_) return true;
    // The same adapter, wherever it is now: an automatic number follows the devices present,
    // so ours may come back under another one, and another adapter may have taken ours.
    // A device named by its path is only ever that path.
    const int number = p_.port.FixedDevice().empty() ? platform::FindPortByIdentity(lostIdentity_)
                                                     : p_.port.ComNumber();
    if ((number <= 0 && p_.port.FixedDevice().empty()) || number > 0xFFFF) return false;
    try {
        p_.port.SetOpen(false);
        if (number != p_.port.ComNumber()) {
            p_.port.SetComNumber(static_cast<std::uint16_t>(number));
            if (onRenumbered) onRenumbered(number);
        }
        p_.port.SetOpen(true);
    } catch (const std::exception&) {
        return false; // still away: the next attempt comes in a second
    }
    PortOpened();
    return !adapterGone_;
}

void TMeasureCycle::Shutdown() {
    measuring_ = false;
    reconnectTimer_.stop();
    if (metrics_) metrics_->Update([](TMetricsSample& m) { m.measuring = false; });
}

std::string TMeasureCycle::CurrentIdentity() const {
    const std::string& fixed = p_.port.FixedDevice();
    return fixed.empty() ? platform::PortIdentity(p_.port.ComNumber()) : "device:" + fixed;
}

void TMeasureCycle::SetMetrics(TMetricsBoard* board) {
    metrics_ = board;
    if (metrics_)
        metrics_->Update([this](TMetricsSample& m) {
            m.measuring = measuring_;
            m.intervalSeconds = p_.measureTimer.interval() / 1000.0;
        });
}

void TMeasureCycle::PublishTick(bool read, bool exchanged) {
    if (!metrics_ || (!read && !exchanged)) return;
    const double perUnit = PascalsPerUnit(p_.link.UnitCode);
    const bool archiveFailed = read && !p_.archive.Problem().empty();
    const double pressure = static_cast<double>(p_.link.CurrentPressure);
    const double interval = StalenessSeconds();
    metrics_->Update([&](TMetricsSample& m) {
        m.deviceUp = read;
        m.intervalSeconds = interval;
        if (!read) {
            ++m.readFailures;
            return;
        }
        ++m.readings;
        if (archiveFailed) ++m.archiveWriteErrors;
        m.unit = LatinUnitName(UnitOfCode(p_.link.UnitCode));
        // A reading in a unit we can't convert is counted, never exported as pascals.
        if (perUnit == 0) return;
        m.haveReading = true;
        m.pressurePa = pressure * perUnit;
        m.readingUnixSeconds = UnixSecondsNow();
        m.readingSteadySeconds = SteadySecondsNow();
    });
}

void TMeasureCycle::PublishSetPoints() {
    const double perUnit = PascalsPerUnit(p_.link.UnitCode);
    if (!metrics_ || perUnit == 0) return;
    std::array<double, kSetPointCount> pa{};
    for (std::size_t i = 0; i < pa.size(); ++i)
        pa[i] = static_cast<double>(p_.link.SetPoints[i]) * perUnit; // 0 (off) stays 0
    metrics_->Update([&](TMetricsSample& m) {
        m.setPointsPa = pa;
        m.unit = LatinUnitName(UnitOfCode(p_.link.UnitCode));
    });
}

void TMeasureCycle::PublishPort(bool present) {
    if (!metrics_) return;
    // A device given by path is the port itself.
    const std::string port = !p_.port.FixedDevice().empty() ? p_.port.FixedDevice()
                             : comPortName                  ? comPortName()
                                                            : "";
    const std::string device = p_.port.OpenedDevice();
    const std::string address(1, p_.link.DevAddress);
    metrics_->Update([&](TMetricsSample& m) {
        m.adapterPresent = present;
        if (!present) m.deviceUp = false;
        m.port = port;
        if (!device.empty()) m.device = device;
        m.address = address;
    });
}

void TMeasureCycle::UpdateReconnectTimer() {
    if (adapterGone_ && measuring_)
        reconnectTimer_.start();
    else
        reconnectTimer_.stop();
}

} // namespace vg57
