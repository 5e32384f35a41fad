#include "LineGauge.h"

#include "ChartModel.h"
#include "DateTime.h"
#include "MainForm.h"
#include "NumberFormat.h"

#include <algorithm>
#include <limits>

namespace vg57 {

TLineGauge::TLineGauge(TVG57Form& window, char address)
    : window_(window), feed_(window.Chart()), link(window.Bus, *this),
      cycle({window.Vg57Port, link, *this, *this, archive, window.ActionStates(),
             window.MeasureTimer, *this}) {
    link.DevAddress = address;
}

TLineGauge::~TLineGauge() {
    archive.onStatusChanged = nullptr;
}

void TLineGauge::Readdress(char address) {
    link.DevAddress = address;
    link.GaugeReady = false; // the gauge there has not answered its first contact yet
    link.UnitCode.clear();
    link.SetPoints = {};
    link.CurrentPressure = 0;
    shown_ = {};
    setPointsRead_.fill(std::nullopt);
    hasReading_ = false;
}

bool TLineGauge::OnPanel() const {
    return window_.OnPanel(*this);
}

TGaugeState TLineGauge::State() const {
    TGaugeState s;
    s.address = static_cast<int>(std::string_view(kDevAddressChars).find(Address()));
    s.hasReading = hasReading_;
    s.pressure = pressure_;
    s.unitCode = unitCode_;
    s.readingTime = readingTime_;
    if (cycle.AdapterGone())
        s.state = EGaugeState::adapterGone;
    else if (cycle.NoAnswer() || cycle.Stale() || cycle.NoLinkYet()) // its newest tick failed
        s.state = EGaugeState::silent;
    else if (!cycle.Measuring())
        s.state = EGaugeState::stopped;
    return s;
}

// ---- what the link shows ----

void TLineGauge::SetUnitsText(const std::string& text) {
    shown_.units = text;
    if (OnPanel()) window_.SetUnitsText(text);
    // Set points read just before: the chart draws them in the unit read now. Known only when all
    // six came and the link took each (a malformed one leaves its old value there).
    if (std::none_of(setPointsRead_.begin(), setPointsRead_.end(),
                     [](const auto& v) { return v.has_value(); }))
        return;
    TChartSetPoints points;
    points.unitCode = link.UnitCode;
    points.known = true;
    for (std::size_t i = 0; i < setPointsRead_.size(); ++i) {
        points.known = points.known && setPointsRead_[i] == link.SetPoints[i];
        points.values[i] = static_cast<double>(link.SetPoints[i]);
    }
    setPointsRead_.fill(std::nullopt);
    window_.ShowSetPointLines(*this, points);
    if (points.known) cycle.PublishSetPoints();
}

void TLineGauge::SetPressureText(const std::string& text) {
    shown_.pressure = text;
    shown_.stopped = false;
    if (OnPanel()) window_.SetPressureText(text);
}

void TLineGauge::SetTestText(const std::string& text) {
    shown_.test = text;
    if (OnPanel()) window_.SetTestText(text);
}

void TLineGauge::SetSetPointText(int index, const std::string& text) {
    if (index < 0 || index >= kSetPointCount) return;
    const auto i = static_cast<std::size_t>(index);
    shown_.setPoints[i] = text;
    setPointsRead_[i] = ParseNumber(text).value_or(std::numeric_limits<long double>::quiet_NaN());
    if (OnPanel()) window_.SetSetPointText(index, text);
}

void TLineGauge::SetTransferIndicator(TIndicator colour) {
    shown_.indicator = colour;
    // The line's activity is shown for the panel's gauge, whatever the chart shows.
    if (&window_.PanelGauge() == this) window_.SetTransferIndicator(colour);
}

void TLineGauge::ShowMessage(const std::string& text) {
    // A calibration's result: with several gauges, which one it was.
    window_.ShowMessage(text + window_.GaugeTag(Address()));
}

bool TLineGauge::RunConnectionDialog() {
    return window_.RunConnectionDialog();
}

// ---- what the cycle tells ----

void TLineGauge::ShowPortOpenError(const std::string& port, const std::string& reason) {
    window_.ShowPortOpenError(port, reason);
}

void TLineGauge::StatusChanged() {
    window_.StatusChanged();
}

void TLineGauge::RunStopped() {
    shown_.stopped = true;
    if (OnPanel()) window_.RunStopped();
}

// ---- the chart ----

void TLineGauge::RunStarted() {
    hasReading_ = false;
    window_.LiveRunStarted(*this);
}

void TLineGauge::Reading(double time, double pressure, const std::string& unitCode) {
    hasReading_ = true;
    readingTime_ = time;
    pressure_ = pressure;
    unitCode_ = unitCode;
    if (!window_.Several()) return feed_.Reading(time, pressure, unitCode);
    TChartModel& chart = window_.Chart();
    chart.TrimOldPoints(time);
    chart.AddGaugeReading(chart.GaugeIndex(window_.AddressNumber(*this)), time, pressure, unitCode);
}

void TLineGauge::Missed(double time) {
    if (!window_.Several()) return feed_.Missed(time);
    TChartModel& chart = window_.Chart();
    chart.TrimOldPoints(time);
    chart.AddGaugeMissedTick(chart.GaugeIndex(window_.AddressNumber(*this)), time);
}

void TLineGauge::Demonstration(double time, double value) {
    // The demonstration series is the single gauge's: among several gauges' readings a made-up
    // value would pass for one, so a silent gauge's curve just breaks.
    if (window_.Several()) return Missed(time);
    feed_.Demonstration(time, value);
}

} // namespace vg57
