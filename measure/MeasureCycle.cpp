#include "MeasureCycle.h"

#include "ArchiveWriter.h"
#include "ChartModel.h"
#include "ComPort.h"
#include "DateTime.h"
#include "EventLoop.h"
#include "GaugeLink.h"
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
    p_.chart.LoadedView = false;
    p_.view.StatusChanged();
    StartPolling();
}

void TMeasureCycle::StartPolling() {
    // A malformed set point reply is shown, and measuring still starts.
    platform::RunShowingErrors([this] { p_.link.ReadSetPoints(); });
    platform::RunShowingErrors([this] { p_.link.ReadUnit(); });
    if (measuring_) p_.measureTimer.start();
}

void TMeasureCycle::ActionStopExecute() {
    // Stop was queued behind the wait it cut short; exchanges work again from here on.
    p_.link.ResumeExchanges();
    p_.measureTimer.stop();
    measuring_ = false;
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
    p_.chart.TrimOldPoints(t);
    p_.chart.AddMeasurementPoint(t, static_cast<double>(p_.link.CurrentPressure));
    // Only a reading taken in this tick is archived: never a repeated or demonstration value.
    if (read) p_.archive.WriteArchiveLine(now(), p_.link.CurrentPressure, p_.link.UnitCode);
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
    // The link's own words and the system's are for whoever digs deeper, apart from ours.
    adapterReason_ = p_.port.DeviceLossText();
    adapterText_ = "Адаптер порта COM" + std::to_string(p_.port.ComNumber()) +
                   (device.empty() ? std::string() : " (" + device + ")") + " отключён";
    UpdateReconnectTimer();
    p_.view.StatusChanged();
}

void TMeasureCycle::PortOpened() {
    if (p_.port.DeviceLost()) return;
    openIdentity_ = platform::PortIdentity(p_.port.ComNumber());
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
    const int number = platform::FindPortByIdentity(lostIdentity_);
    if (number <= 0 || number > 0xFFFF) return false;
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
}

void TMeasureCycle::UpdateReconnectTimer() {
    if (adapterGone_ && measuring_)
        reconnectTimer_.start();
    else
        reconnectTimer_.stop();
}

} // namespace vg57
