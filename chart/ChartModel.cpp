#include "ChartModel.h"

#include "DateTime.h"

#include <algorithm>
#include <cmath>

namespace vg57 {

TChartModel::TChartModel(double now) : ViewStart(now + kTenMinutes), ViewEnd(now) {
    time_.SetAutomatic(false);
    pressure_.SetAutomatic(true);
    time_.SetMax(now + kOneSecond);
    time_.SetMin(now);
}

void TChartModel::FormCreate(double now) {
    points_.Clear();
    time_.SetAutomatic(false);
    const double tod = TimeOfDay(now);
    // Minimum first: the axis still ends at today's date, far beyond the time of day.
    time_.SetMin(tod);
    time_.SetMax(tod + kOneSecond);
    Changed();
}

void TChartModel::TrimOldPoints(double now) {
    bool trimmed = false;
    while (!points_.Empty() && now - TWindow > points_.X(0)) {
        points_.RemoveFirst();
        trimmed = true;
    }
    if (!trimmed) return;
    UpdateAutomaticRange();
    Changed();
}

void TChartModel::AddMeasurementPoint(double now, double pressure) {
    PointPressure = pressure;
    PointTime = now;
    if (PointTime > time_.Max()) {
        ViewEnd = PointTime;
        ViewStart = PointTime - kTenMinutes;
        ApplyTimeSlider();
    }
    points_.Add(PointTime, PointPressure);
    UpdateAutomaticRange();
    Changed();
    if (processEvents) processEvents();
}

void TChartModel::LoadArchive(std::vector<double> times, std::vector<double> pressures, double tmin,
                              double tmax) {
    points_.Assign(std::move(times), std::move(pressures));
    ViewStart = tmin;
    ViewEnd = tmax;
    time_.SetBoth(tmin, tmax);
    UpdateAutomaticRange();
    Changed();
}

bool TChartModel::TimeLabelsWithDate() const {
    return LoadedView && LoadedDates && std::floor(ViewStart) != std::floor(ViewEnd);
}

void TChartModel::UpdateAutomaticRange() {
    if (!pressure_.Automatic() || points_.Empty()) return;
    const std::size_t n = std::min<std::size_t>(points_.Size(), kAutoScalePoints);
    double lo = points_.Y(0), hi = points_.Y(0);
    for (std::size_t i = 1; i < n; ++i) {
        lo = std::min(lo, points_.Y(i));
        hi = std::max(hi, points_.Y(i));
    }
    pressure_.SetAutomaticLimits(lo, hi);
}

void TChartModel::SetLogarithmic(bool on) {
    UpdateAutomaticRange();
    pressure_.SetLogarithmic(on);
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
    const long double R = static_cast<long double>(FullPressureMax) - FullPressureMin;
    // The range starts at 0 at the bottom of the track, linear also on a logarithmic axis.
    const double newPmax = static_cast<double>(R * (H - T) / H);
    const double newPmin = static_cast<double>(R * (H - T - h) / H);
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
    if (LoadedView)
        time_.SetBoth(ViewStart, ViewEnd);
    else
        time_.SetBoth(ViewEnd - tmin_, ViewEnd - tmax_);
    Changed();
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
