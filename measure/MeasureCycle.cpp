#include "MeasureCycle.h"

#include "ArchiveWriter.h"
#include "ChartModel.h"
#include "ComPort.h"
#include "DateTime.h"
#include "EventLoop.h"
#include "GaugeLink.h"
#include "MetricsBoard.h"
#include "NumberFormat.h"
#include "PortIdentity.h"
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
    now = [] { return CurrentDateTime(); };
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
    if (p_.link.EnsureGaugeReady()) p_.actions.Enable(TActionId::DeviceSettings, true);
    measuring_ = true;
    UpdateReconnectTimer(); // the adapter may have gone during the "S3" above
    p_.archive.Reset();
    if (p_.chart) p_.chart->LoadedView = false;
    if (metrics_) metrics_->Update([](TMetricsSample& m) { m.measuring = true; });
    p_.view.StatusChanged();
    StartPolling();
}

void TMeasureCycle::StartPolling() {
    // A malformed set point reply is shown, and measuring still starts.
    bool setPoints = false;
    platform::RunShowingErrors([&] { setPoints = p_.link.ReadSetPoints(); });
    // The set points are in the unit read right after them.
    platform::RunShowingErrors([&] { setPoints = p_.link.ReadUnit() && setPoints; });
    if (setPoints) PublishSetPoints();
    if (measuring_) p_.measureTimer.start();
}

void TMeasureCycle::ActionStopExecute() {
    // Stop was queued behind the wait it cut short; exchanges work again from here on.
    p_.link.ResumeExchanges();
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
    p_.view.StatusChanged();
    // With the adapter gone, the "S3" would only fail to open the port: Stop stays quiet.
    const bool ready = adapterGone_ ? p_.link.GaugeReady : p_.link.EnsureGaugeReady();
    if (ready) {
        p_.actions.Enable(TActionId::CalibrAtm, true);
        p_.actions.Enable(TActionId::CalibrZero, true);
    }
}

void TMeasureCycle::MeasureTimerTimer() {
    if (!measuring_ || inTick_) return;
    // Without its adapter the port carries nothing: no point, no line, nothing written.
    if (adapterGone_) return;
    inTick_ = true;
    const auto leave = qScopeGuard([this] { inTick_ = false; });

    bool obtained = true;
    const bool read = p_.link.ReadMeasurement(&obtained);
    if (!read && !obtained && !p_.link.GaugeReady)
        ShowDemoValue();
    else if (read)
        SetDemoShown(false);
    const double t = now();
    if (p_.chart) {
        p_.chart->TrimOldPoints(t);
        p_.chart->AddMeasurementPoint(t, static_cast<double>(p_.link.CurrentPressure));
    }
    // Only a reading taken in this tick is archived: never a repeated or demonstration value.
    if (read) p_.archive.WriteArchiveLine(now(), p_.link.CurrentPressure, p_.link.UnitCode);
    // A refused guard sent nothing (another sequence holds the gauge): it says nothing of it.
    PublishTick(read, obtained || !p_.link.GaugeReady);
    p_.view.StatusChanged();
}

void TMeasureCycle::ShowDemoValue() {
    p_.link.CurrentPressure = (DemoCounter % 100) * 1e-8L + 9e-7L;
    p_.gaugeView.SetPressureText(FormatGeneral(p_.link.CurrentPressure));
    ++DemoCounter;
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
    const std::string why = p_.port.DeviceLossText();
    const std::string port = p_.port.FixedDevice().empty()
                                 ? "порта COM" + std::to_string(p_.port.ComNumber()) +
                                       (device.empty() ? std::string() : " (" + device + ")")
                                 : device;
    adapterText_ = "Адаптер " + port + " отключён" + (why.empty() ? std::string() : ": " + why);
    PublishPort(false);
    UpdateReconnectTimer();
    p_.view.StatusChanged();
}

void TMeasureCycle::PortOpened() {
    if (p_.port.DeviceLost()) return;
    openIdentity_ = CurrentIdentity();
    PublishPort(true);
    if (!adapterGone_) return;
    adapterGone_ = false;
    adapterText_.clear();
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
    const std::optional<double> perUnit = PascalsPerUnit(p_.link.UnitCode);
    const bool archiveFailed = read && !p_.archive.Problem().empty();
    const double pressure = static_cast<double>(p_.link.CurrentPressure);
    const double interval = p_.measureTimer.interval() / 1000.0;
    metrics_->Update([&](TMetricsSample& m) {
        m.deviceUp = read;
        m.intervalSeconds = interval;
        if (!read) {
            ++m.readFailures;
            return;
        }
        ++m.readings;
        if (archiveFailed) ++m.archiveWriteErrors;
        m.unit = UnitSymbol(p_.link.UnitCode);
        // A reading in a unit we can't convert is counted, never exported as pascals.
        if (!perUnit) return;
        m.haveReading = true;
        m.pressurePa = pressure * *perUnit;
        m.readingUnixSeconds = UnixSecondsNow();
        m.readingSteadySeconds = SteadySecondsNow();
    });
}

void TMeasureCycle::PublishSetPoints() {
    const std::optional<double> perUnit = PascalsPerUnit(p_.link.UnitCode);
    if (!metrics_ || !perUnit) return;
    std::array<double, kSetPointCount> pa{};
    for (std::size_t i = 0; i < pa.size(); ++i)
        pa[i] = static_cast<double>(p_.link.SetPoints[i]) * *perUnit; // 0 (off) stays 0
    metrics_->Update([&](TMetricsSample& m) {
        m.setPointsPa = pa;
        m.unit = UnitSymbol(p_.link.UnitCode);
    });
}

void TMeasureCycle::PublishPort(bool present) {
    if (!metrics_) return;
    const std::string port = p_.port.FixedDevice().empty() && comPortName ? comPortName() : "";
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
