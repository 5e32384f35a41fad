#include "ChartModel.h"

#include "AutoRange.h"
#include "DateTime.h"
#include "PressureUnit.h"

#include <algorithm>
#include <cmath>
#include <limits>

namespace vg57 {

TChartModel::TChartModel(double now) : ViewStart(now + kTenMinutes), ViewEnd(now) {
    // Index 0 is the display unit at start: points added without a unit are drawn as they are.
    UnitIndex(displayUnit_);
    time_.SetAutomatic(false);
    pressure_.SetAutomatic(true);
    time_.SetMax(now + kOneSecond);
    time_.SetMin(now);
}

void TChartModel::FormCreate(double now) {
    points_.Clear();
    for (TGaugeCurve& c : curves_)
        c.points.Clear();
    time_.SetAutomatic(false);
    const double tod = TimeOfDay(now);
    // Minimum first: the axis still ends at today's date, far beyond the time of day.
    time_.SetMin(tod);
    time_.SetMax(tod + kOneSecond);
    Changed();
}

void TChartModel::TrimOldPoints(double now) {
    bool trimmed = false;
    for (TPointStore* s : {&points_, &demo_}) {
        while (!s->Empty() && now - TWindow > s->X(0)) {
            s->RemoveFirst();
            trimmed = true;
        }
    }
    for (TGaugeCurve& c : curves_) {
        while (!c.points.Empty() && now - TWindow > c.points.X(0)) {
            c.points.RemoveFirst();
            trimmed = true;
        }
    }
    if (!trimmed) return;
    Changed();
}

void TChartModel::MoveWindowTo(double now) {
    if (showAll_ && !LoadedView) {
        // The slider's window stays on the newest tick, for when the whole view ends.
        ViewEnd = std::max(ViewEnd, now);
        ViewStart = ViewEnd - kTenMinutes;
        SpanAll();
        return;
    }
    if (now > time_.Max()) {
        ViewEnd = now;
        ViewStart = now - kTenMinutes;
        ApplyTimeSlider();
    }
}

void TChartModel::AddMeasurementPoint(double now, double pressure) {
    AddMeasurementPoint(now, pressure, displayUnit_);
}

void TChartModel::AddMeasurementPoint(double now, double pressure, std::string_view unitCode) {
    PointPressure = pressure;
    PointTime = now;
    MoveWindowTo(PointTime);
    const std::uint8_t unit = UnitIndex(unitCode);
    // The gauge's unit was changed: everything held is shown as the same pressures in the new
    // one. A code that names no unit becomes the display unit only when nothing else is held.
    if (unitCode != displayUnit_ &&
        (PascalsPerUnit(unitCode) > 0 || points_.Size() == points_.UnitCount(unit)))
        SetDisplayUnit(unitCode);
    points_.Add(PointTime, PointPressure, unit, gapPending_);
    gapPending_ = false;
    if (runStarting_) {
        // The reference moves with the run: its first reading under the run's first.
        runStarting_ = false;
        runFirst_ = PointTime;
        reference_.SetOrigin(PointTime);
    }
    Changed();
    if (processEvents) processEvents();
}

void TChartModel::AddMissedTick(double now) {
    gapPending_ = true;
    MoveWindowTo(now);
    Changed();
    if (processEvents) processEvents();
}

void TChartModel::AddDemoPoint(double now, double value) {
    gapPending_ = true;
    MoveWindowTo(now);
    demo_.Add(now, value, 0, demoGapPending_);
    demoGapPending_ = false;
    Changed();
    if (processEvents) processEvents();
}

void TChartModel::BreakLine() {
    gapPending_ = demoGapPending_ = true;
    for (TGaugeCurve& c : curves_)
        c.gapPending = true;
}

void TChartModel::RunStarted() {
    BreakLine();
    shownTime_ = nullptr; // a run's keys are its local times
    runStarting_ = true;
    // Files on their real dates may lie within the live day: a run never carries them on.
    if (pointsFromFiles_) {
        points_.Clear();
        demo_.Clear();
        for (TGaugeCurve& c : curves_)
            c.points.Clear();
        pointsFromFiles_ = false;
        // The files' gauges go with their readings.
        if (curves_.size() > 1) SetGauges({});
    }
}

void TChartModel::LoadArchive(std::vector<double> times, std::vector<double> pressures, double tmin,
                              double tmax, const std::vector<std::uint8_t>& units,
                              const std::vector<std::string>& unitCodes) {
    pointsFromFiles_ = true;
    shownTime_ = nullptr;
    std::vector<std::uint8_t> ours;
    if (!units.empty()) {
        // The file replaces every point: its codes make the table afresh.
        unitCodes_.clear();
        std::vector<std::uint8_t> map(unitCodes.size());
        for (std::size_t i = 0; i < unitCodes.size(); ++i)
            map[i] = UnitIndex(unitCodes[i]);
        ours.reserve(units.size());
        for (std::uint8_t u : units)
            ours.push_back(u < map.size() ? map[u] : UnitIndex("?"));
    } else {
        ours.assign(std::min(times.size(), pressures.size()), UnitIndex(displayUnit_));
    }
    points_.Assign(std::move(times), std::move(pressures), ours);
    demo_.Clear();
    for (TGaugeCurve& c : curves_)
        c.points.Clear();
    // The unit of the last line; of the last line in a known unit when there is one, so that a
    // stray code at the end does not hide the whole file.
    const auto known = std::find_if(units.rbegin(), units.rend(), [&](std::uint8_t u) {
        return u < unitCodes.size() && PascalsPerUnit(unitCodes[u]) > 0;
    });
    if (known != units.rend())
        SetDisplayUnit(unitCodes[*known]);
    else if (!units.empty() && units.back() < unitCodes.size())
        SetDisplayUnit(unitCodes[units.back()]);
    MarkSpacingGaps(points_, kLoadedGapFactor, kMinLoadedGap);
    showAll_ = false;
    ViewStart = tmin;
    ViewEnd = tmax;
    time_.SetBoth(tmin, tmax);
    // The run's readings are gone: a reference goes under the loaded ones.
    runStarting_ = false;
    runFirst_.reset();
    reference_.SetOrigin(points_.Empty() ? tmin : points_.X(0));
    UpdateAutomaticRange();
    Changed();
}

bool TChartModel::TimeLabelsWithDate() const {
    return LoadedView && LoadedDates &&
           std::floor(ShownTime(ViewStart)) != std::floor(ShownTime(ViewEnd));
}

// ---- units ----

std::uint8_t TChartModel::UnitIndex(std::string_view unitCode) {
    for (std::size_t i = 0; i < unitCodes_.size(); ++i)
        if (unitCodes_[i] == unitCode) return static_cast<std::uint8_t>(i);
    if (unitCodes_.size() + 1 >= TPointStore::kUnits) return TPointStore::kUnits - 1;
    unitCodes_.emplace_back(unitCode);
    UpdateFactors();
    return static_cast<std::uint8_t>(unitCodes_.size() - 1);
}

std::string_view TChartModel::UnitCode(std::uint8_t index) const {
    return index < unitCodes_.size() ? std::string_view(unitCodes_[index]) : std::string_view("?");
}

void TChartModel::SetDisplayUnit(std::string_view unitCode) {
    if (displayUnit_ == unitCode) return;
    displayUnit_ = unitCode;
    UpdateFactors();
    Changed();
}

void TChartModel::UpdateFactors() {
    factors_.fill(std::numeric_limits<double>::quiet_NaN());
    for (std::size_t i = 0; i < unitCodes_.size(); ++i)
        factors_[i] = UnitFactor(unitCodes_[i], displayUnit_);
    reference_.SetDisplayUnit(displayUnit_);
}

std::size_t TChartModel::ReadingsLeftOut() const {
    std::size_t n = 0;
    for (std::size_t i = 0; i < TPointStore::kUnits; ++i)
        if (std::isnan(factors_[i])) n += points_.UnitCount(static_cast<std::uint8_t>(i));
    return n;
}

bool TChartModel::UnitsMixed() const {
    int held = 0;
    for (std::size_t i = 0; i < TPointStore::kUnits; ++i)
        if (points_.UnitCount(static_cast<std::uint8_t>(i)) > 0) ++held;
    return held > 1;
}

// ---- the reference curve ----

std::string TChartModel::SetReference(const std::vector<double>& times,
                                      const std::vector<double>& pressures,
                                      const std::vector<std::uint8_t>& units,
                                      const std::vector<std::string>& unitCodes) {
    std::string refused = reference_.Assign(times, pressures, units, unitCodes);
    if (!refused.empty()) return refused;
    reference_.SetOrigin(ReferenceAnchor());
    if (displayUnit_.empty()) SetDisplayUnit(reference_.LastUnit());
    Changed();
    return {};
}

void TChartModel::RemoveReference() {
    reference_.Clear();
    Changed();
}

void TChartModel::MoveReference(double dateTime) {
    reference_.SetOrigin(dateTime);
    Changed();
}

double TChartModel::ReferenceAnchor() const {
    if (!LoadedView && runFirst_) return *runFirst_;
    if (LoadedView && !points_.Empty()) return points_.X(0);
    return time_.Min();
}

std::vector<TChartReading> TChartModel::Readings(double t0, double t1) const {
    return GaugeReadings(chosen_, t0, t1);
}

std::vector<TChartReading> TChartModel::GaugeReadings(std::size_t k, double t0, double t1) const {
    std::vector<TChartReading> out;
    if (k >= curves_.size()) return out;
    const TPointStore& points = GaugePoints(k);
    const std::size_t last = points.UpperBound(t1);
    bool gap = false;
    for (std::size_t i = points.LowerBound(t0); i < last; ++i) {
        gap = gap || points.GapBefore(i);
        const double f = factors_[points.Unit(i)];
        if (std::isnan(f)) {
            gap = true;
            continue;
        }
        out.push_back({points.X(i), points.Y(i) * f, gap && !out.empty()});
        gap = false;
    }
    return out;
}

// ---- the visible slice and the automatic range ----

const TChartSlice& TChartModel::Slice(int columns) {
    columns_ = std::max(1, columns);
    TThinOptions o;
    o.xmin = time_.Min();
    o.xmax = time_.Max();
    o.columns = columns_;
    o.logarithmic = pressure_.Logarithmic();
    o.factors = factors_.data();
    ThinVisibleKeeping(points_, o, slice_.keys, slice_.values, &slice_.extremes, slice_.kept);
    TThinExtremes e = slice_.extremes;
    // Automatic scaling spans every gauge's readings in view.
    for (std::size_t k = 0; k < curves_.size(); ++k) {
        if (k == chosen_) continue;
        TChartSlice& other = curves_[k].slice;
        ThinVisibleKeeping(curves_[k].points, o, other.keys, other.values, &other.extremes,
                           other.kept);
        if (!other.extremes.any) continue;
        e.lo = e.any ? std::min(e.lo, other.extremes.lo) : other.extremes.lo;
        e.hi = e.any ? std::max(e.hi, other.extremes.hi) : other.extremes.hi;
        e.any = true;
    }
    if (pressure_.Automatic() && e.any) {
        const TPressureRange r = AutomaticRange(e.lo, e.hi, pressure_.Logarithmic());
        pressure_.SetAutomaticLimits(r.lo, r.hi);
    }
    return slice_;
}

void TChartModel::UpdateAutomaticRange() {
    if (pressure_.Automatic()) Slice(columns_);
}

void TChartModel::SetLogarithmic(bool on) {
    UpdateAutomaticRange();
    pressure_.SetLogarithmic(on);
    // The range follows the new scale: its own automatic rule, or the slider's mapping.
    if (autoScaleY_)
        UpdateAutomaticRange();
    else
        ApplyPressureSlider();
    Changed();
}

void TChartModel::SetAutoScale(bool on) {
    autoScaleY_ = on;
    pressure_.SetAutomatic(on);
    if (on) {
        UpdateAutomaticRange();
    } else {
        ApplyPressureSlider();
        // The slider's range may be unchanged since the last time, when it applies nothing: the
        // axis still has to leave the automatic limits for [Pmin, Pmax].
        pressure_.SetBoth(pmin_, pmax_);
    }
    Changed();
}

void TChartModel::ApplyPressureSlider() {
    const long double H = pressureSlider.trackHeight, T = pressureSlider.top,
                      h = pressureSlider.height;
    if (H <= 0) return;
    double newPmax, newPmin;
    if (pressure_.Logarithmic()) {
        // Every decade from FullPressureMin to FullPressureMax has its place on the track: a
        // linear mapping could never show high vacuum.
        const long double lo = std::log10(static_cast<long double>(FullPressureMin)),
                          hi = std::log10(static_cast<long double>(FullPressureMax));
        newPmax = static_cast<double>(std::pow(10.0L, lo + (hi - lo) * (H - T) / H));
        newPmin = static_cast<double>(std::pow(10.0L, lo + (hi - lo) * (H - T - h) / H));
    } else {
        const long double R = static_cast<long double>(FullPressureMax) - FullPressureMin;
        // The range starts at 0 at the bottom of the track.
        newPmax = static_cast<double>(R * (H - T) / H);
        newPmin = static_cast<double>(R * (H - T - h) / H);
    }
    if (std::fabs(pmax_ - newPmax) <= 1e-10 && std::fabs(pmin_ - newPmin) <= 1e-10) return;
    pmax_ = newPmax;
    pmin_ = newPmin;
    pressure_.SetBoth(pmin_, pmax_);
    Changed();
}

void TChartModel::ApplyTimeSlider() {
    const long double W = timeSlider.trackWidth, L = timeSlider.left, w = timeSlider.width;
    if (W <= 0) return;
    tmin_ = static_cast<double>((-(W - L) / W) * TrackSpan);
    tmax_ = static_cast<double>((-(W - L - w) / W) * TrackSpan);
    if (showAll_)
        SpanAll();
    else if (LoadedView)
        time_.SetBoth(ViewStart, ViewEnd);
    else
        time_.SetBoth(ViewEnd - tmin_, ViewEnd - tmax_);
    Changed();
}

void TChartModel::ShowAll() {
    showAll_ = true;
    SpanAll();
    UpdateAutomaticRange();
    Changed();
}

void TChartModel::SpanAll() {
    // Live, up to the newest tick (a silent end shows as such); loaded, the file's whole span.
    double lo = LoadedView ? ViewStart : ViewEnd, hi = ViewEnd;
    auto span = [&](const TPointStore& s) {
        if (s.Empty()) return;
        lo = std::min(lo, s.X(0));
        hi = std::max(hi, s.X(s.Size() - 1));
    };
    span(points_);
    span(demo_);
    for (const TGaugeCurve& c : curves_)
        span(c.points);
    time_.SetBoth(std::min(lo, hi - kOneSecond), hi);
}

void TChartModel::SetPmin(double v) {
    pmin_ = v;
    pressure_.SetMin(v);
    Changed();
}

void TChartModel::SetPmax(double v) {
    pmax_ = v;
    pressure_.SetMax(v);
    Changed();
}

void TChartModel::SetTmin(double v) {
    tmin_ = v;
    time_.SetMin(v);
    Changed();
}

void TChartModel::SetTmax(double v) {
    tmax_ = v;
    time_.SetMax(v);
    Changed();
}

} // namespace vg57
