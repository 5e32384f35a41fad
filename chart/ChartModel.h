// Everything the pressure chart shows, and every rule that changes it, without a widget: the
// series, both axes, the live and loaded views, and the arithmetic of the two range sliders.
#pragma once

#include "AxisLimits.h"
#include "PointStore.h"

#include <functional>
#include <vector>

namespace vg57 {

// Where a slider sits in its track, in pixels.
struct TTimeSliderGeometry {
    int trackWidth = 610; // W
    int left = 296;       // L
    int width = 314;      // w
};
struct TPressureSliderGeometry {
    int trackHeight = 400; // H
    int top = 0;           // T
    int height = 152;      // h
};

class TChartModel {
public:
    static constexpr double kTenMinutes = 1.0 / 144.0;
    static constexpr int kAutoScalePoints = 40; // the first page of the series

    // The window's start values: live view, time axis [now, now + 1 s], pressure axis
    // automatic and linear.
    explicit TChartModel(double now);
    // The window's creation step: series emptied, time axis [time of day, time of day + 1 s] on
    // day 0, so that the first live reading always lies beyond it.
    void FormCreate(double now);

    TPointStore& Points() { return points_; }
    const TPointStore& Points() const { return points_; }
    const TAxisLimits& TimeAxis() const { return time_; }
    TAxisLimits& TimeAxis() { return time_; }
    const TAxisLimits& PressureAxis() const { return pressure_; }
    TAxisLimits& PressureAxis() { return pressure_; }

    // ---- live operation, once per tick ----
    // Deletes points older than TWindow (strictly).
    void TrimOldPoints(double now);
    // Adds (now, pressure); a reading past the time axis moves the window to end at it. Ends by
    // processing pending events, so that the chart repaints and input is handled in the tick.
    void AddMeasurementPoint(double now, double pressure);

    // ---- the loaded view ----
    // Replaces the series by an archive's readings (sorted by time, equal times in file order),
    // sets ViewStart and ViewEnd to [tmin, tmax] and the time axis to that range, and recomputes
    // the automatic pressure range. LoadedView is the load action's to set. Readings already in
    // time order are moved in without a copy.
    void LoadArchive(std::vector<double> times, std::vector<double> pressures, double tmin,
                     double tmax);

    // ---- settings ----
    void SetLogarithmic(bool on);
    void SetAutoScale(bool on);
    bool AutoScaleY() const { return autoScaleY_; }

    // ---- the sliders ----
    void ApplyPressureSlider();
    void ApplyTimeSlider();
    TTimeSliderGeometry timeSlider;
    TPressureSliderGeometry pressureSlider;

    // ---- the automatic pressure range: the first 40 points in time order ----
    void UpdateAutomaticRange();

    // ---- published properties: each setter also sets one axis limit ----
    double Pmin() const { return pmin_; }
    double Pmax() const { return pmax_; }
    double Tmin() const { return tmin_; }
    double Tmax() const { return tmax_; }
    void SetPmin(double v);
    void SetPmax(double v);
    void SetTmin(double v);
    void SetTmax(double v);

    double TWindow = 1.0;
    bool LoadedView = false;
    // The loaded readings lie on their real dates (not day 0): labels may then show the date.
    bool LoadedDates = false;
    // Time labels as "dd.MM HH:MM": a loaded view on real dates over more than one calendar day.
    bool TimeLabelsWithDate() const;
    double ViewStart, ViewEnd;
    double TrackSpan = -kTenMinutes;
    double FullPressureMax = 120000.0, FullPressureMin = 1e-9;
    double PointTime = 0, PointPressure = 0;

    // Set by the view: handle pending events (AddMeasurementPoint), and redraw after a change.
    std::function<void()> processEvents;
    std::function<void()> changed;

private:
    void Changed() {
        if (changed) changed();
    }
    TPointStore points_;
    TAxisLimits time_, pressure_;
    bool autoScaleY_ = true;
    double pmin_ = 1000.0, pmax_ = 120000.0;
    double tmin_ = 0, tmax_ = 0;
};

} // namespace vg57
