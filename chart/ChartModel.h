// Everything the pressure chart shows, and every rule that changes it, without a widget: the
// series, both axes, the live and loaded views, and the arithmetic of the two range sliders.
//
// What the chart holds is what the gauge said. The readings keep the unit they were taken in
// and where the line breaks (a failed tick adds no point, only a gap before the next one); they
// are drawn, scaled and handed out converted into one display unit. The demonstration values
// of a silent line are a series of their own, never joined to readings, never scaled to and
// never handed out with them.
#pragma once

#include "AxisLimits.h"
#include "PointStore.h"
#include "ReferenceCurve.h"
#include "SliceThinning.h"

#include <array>
#include <functional>
#include <optional>
#include <string>
#include <string_view>
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

// One reading as the chart shows it: converted into the display unit.
struct TChartReading {
    double time = 0;        // date-time
    double pressure = 0;    // in the display unit
    bool gapBefore = false; // not joined to the reading before it
};

// The visible slice, thinned per pixel column and converted (ThinVisible); a NaN value marks a
// break in the line. Times in days.
struct TChartSlice {
    std::vector<double> keys, values;
    TThinExtremes extremes;
    TThinState kept; // what the next thinning may keep of this one
};

// One gauge's curve. The chosen gauge's readings live in the model's own store (Points()),
// so that everything written for one gauge acts on the chosen one; its `points` stay empty.
struct TGaugeCurve {
    int address = -1; // 0..15; -1 for the single gauge of a chart that names none
    TPointStore points;
    bool gapPending = false;
    TChartSlice slice;
};

class TChartModel {
public:
    static constexpr double kTenMinutes = 1.0 / 144.0;
    // Loaded readings further apart than this many times the file's median spacing (and than
    // kMinLoadedGap) are not joined.
    static constexpr double kLoadedGapFactor = 3.0;
    static constexpr double kMinLoadedGap = 3.0 / 86400.0;

    // The window's start values: live view, time axis [now, now + 1 s], pressure axis
    // automatic and linear.
    explicit TChartModel(double now);
    // The window's creation step: series emptied, time axis [time of day, time of day + 1 s] on
    // day 0, so that the first live reading always lies beyond it.
    void FormCreate(double now);

    // The readings, each in its own unit (UnitCode of its index).
    TPointStore& Points() { return points_; }
    const TPointStore& Points() const { return points_; }
    // The demonstration values, in no unit.
    const TPointStore& DemoPoints() const { return demo_; }
    const TAxisLimits& TimeAxis() const { return time_; }
    TAxisLimits& TimeAxis() { return time_; }
    const TAxisLimits& PressureAxis() const { return pressure_; }
    TAxisLimits& PressureAxis() { return pressure_; }

    // ---- live operation, once per tick ----
    // Deletes points older than TWindow (strictly), readings and demonstration values alike.
    void TrimOldPoints(double now);
    // Adds a reading (now, pressure) in the unit of `unitCode` (by default the display unit); a
    // reading in another known unit than the display unit makes its unit the display unit, so
    // the chart follows the gauge's setting (an unknown code does so only when it is the only
    // one held). A reading past the time axis moves the window to end at
    // it. Ends by processing pending events, so that the chart repaints and input is handled in
    // the tick.
    void AddMeasurementPoint(double now, double pressure);
    void AddMeasurementPoint(double now, double pressure, std::string_view unitCode);
    // A tick without a reading: no point, the line breaks, the time axis moves as the tick would
    // move it, and pending events are processed.
    void AddMissedTick(double now);
    // A tick that shows a demonstration value: into the demonstration series only; the line of
    // readings breaks as for a missed tick.
    void AddDemoPoint(double now, double value);
    // The next reading (and demonstration value) is not joined to the one before: Stop and
    // Start, an adapter outage.
    void BreakLine();
    // Start: the line breaks, loaded readings go, and the run's first reading will align the
    // reference curve.
    void RunStarted();

    // ---- the loaded view ----
    // Replaces the series by an archive's readings (sorted by time, equal times in file order),
    // sets ViewStart and ViewEnd to [tmin, tmax] and the time axis to that range, and recomputes
    // the automatic pressure range. `units` holds per reading an index into `unitCodes` (empty:
    // all in the display unit); the display unit becomes that of the file's last line in a known
    // unit (of its last line when none is known). The line
    // breaks where two readings lie more than kLoadedGapFactor times the median spacing apart,
    // and more than kMinLoadedGap. LoadedView is the load action's to set.
    // Readings already in time order are moved in without a copy.
    void LoadArchive(std::vector<double> times, std::vector<double> pressures, double tmin,
                     double tmax, const std::vector<std::uint8_t>& units = {},
                     const std::vector<std::string>& unitCodes = {});

    // ---- units ----
    // The gauge unit code the chart shows; empty before the first reading.
    const std::string& DisplayUnit() const { return displayUnit_; }
    void SetDisplayUnit(std::string_view unitCode);
    // The index of a code in the chart's table of units, added when new. Past the table's room
    // all further codes share one index that never converts.
    std::uint8_t UnitIndex(std::string_view unitCode);
    std::string_view UnitCode(std::uint8_t index) const;
    // Readings that can't be converted into the display unit (left out of the drawing), and
    // whether the readings held come in more than one unit.
    std::size_t ReadingsLeftOut() const;
    bool UnitsMixed() const;
    // The factor that takes a reading of this unit index into the display unit; NaN when none.
    double DisplayFactor(std::uint8_t unit) const { return factors_[unit % TPointStore::kUnits]; }

    // ---- the reference curve: drawn behind the readings, never one of them ----
    const TReferenceCurve& Reference() const { return reference_; }
    // Lays readings loaded from an archive (in time order) under the chart, its first reading at
    // ReferenceAnchor(). Refused, keeping the curve held before, when a reading's unit can't be
    // converted: returns that unit's code, else empty. Without a display unit yet, the
    // reference's own becomes it.
    std::string SetReference(const std::vector<double>& times, const std::vector<double>& pressures,
                             const std::vector<std::uint8_t>& units,
                             const std::vector<std::string>& unitCodes);
    void RemoveReference();
    // Its first reading goes to this date-time ("Сдвинуть эталон сюда").
    void MoveReference(double dateTime);
    // Where a reference's first reading goes: the first reading of the current run; with no
    // run, the first reading of the loaded view, or the start of the visible time range.
    double ReferenceAnchor() const;

    // ---- what analysis and export read ----
    // The readings with times in [t0, t1], in time order, converted into the display unit. Those
    // that can't be converted are left out, and the reading after one has gapBefore set.
    std::vector<TChartReading> Readings(double t0, double t1) const;
    // The same for gauge k (the chosen one's are Readings()); none for a gauge not held.
    std::vector<TChartReading> GaugeReadings(std::size_t k, double t0, double t1) const;
    // Reading i of Points() in the display unit; NaN when its unit can't be converted.
    double DisplayValue(std::size_t i) const { return points_.Y(i) * factors_[points_.Unit(i)]; }

    // ---- the visible slice ----
    // The readings in the time axis's range, thinned for `columns` pixel columns and converted.
    // The same pass sets the automatic pressure range (while automatic): this is the one scan of
    // the visible readings per repaint.
    const TChartSlice& Slice(int columns);
    // The columns the last slice was thinned for.
    int SliceColumns() const { return columns_; }

    // ---- several gauges: one curve each ----
    static constexpr int kNoAddress = -1;
    // The gauges by address (0..15), in the order their curves are listed; the first is
    // chosen. A gauge kept from the list before keeps its readings. One address or none is the
    // chart of a single gauge, as ever.
    void SetGauges(const std::vector<int>& addresses);
    std::size_t GaugeCount() const { return curves_.size(); }
    int GaugeAddress(std::size_t k) const { return curves_[k].address; }
    // The index of a gauge's curve by address; GaugeCount() when there is none.
    std::size_t GaugeIndex(int address) const;
    // The panel's gauge: Points(), Readings(), the tools and the set point lines are its.
    std::size_t ChosenGauge() const { return chosen_; }
    void ChooseGauge(std::size_t k);
    const TPointStore& GaugePoints(std::size_t k) const;
    // Gauge k's part of the last Slice().
    const TChartSlice& GaugeSlice(std::size_t k) const;
    // A reading or a failed tick of gauge k: as AddMeasurementPoint and AddMissedTick for the
    // chosen gauge. Only the chosen gauge's readings change the display unit; the others'
    // are converted into it.
    void AddGaugeReading(std::size_t k, double now, double pressure, std::string_view unitCode);
    void AddGaugeMissedTick(std::size_t k, double now);
    // The loaded view of files of several gauges: one curve per address, in the order given
    // (LoadArchive's rules per curve), the time axis over all of them.
    struct TGaugeArchive {
        int address = kNoAddress;
        std::vector<double> times, pressures;
        std::vector<std::uint8_t> units;
        std::vector<std::string> unitCodes;
    };
    void LoadGaugeArchives(std::vector<TGaugeArchive> archives, double tmin, double tmax);

    // ---- settings ----
    void SetLogarithmic(bool on);
    void SetAutoScale(bool on);
    bool AutoScaleY() const { return autoScaleY_; }

    // ---- the sliders ----
    void ApplyPressureSlider();
    // While the whole run is shown, the time axis keeps spanning it (the slider's place is
    // still taken, for when that ends).
    void ApplyTimeSlider();
    TTimeSliderGeometry timeSlider;

    // ---- "Показать всё": the whole run in view ----
    // The time axis spans every reading and demonstration value held (a loaded view: its whole
    // span), and while measuring each tick extends it, until EndShowAll (the operator moves the
    // time slider) or a load.
    void ShowAll();
    void EndShowAll() { showAll_ = false; }
    bool ShowingAll() const { return showAll_; }
    TPressureSliderGeometry pressureSlider;

    // ---- the automatic pressure range: the readings inside the visible time range ----
    // With none there (or none above 0 on a log axis), the axis keeps its last range.
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
    // The wall-clock date-time a time key shows in labels and the readout: the key itself,
    // unless a load set another rule (readings kept as instants, shown in local time). A load
    // without one, and every run, show keys as they are.
    double ShownTime(double key) const { return shownTime_ ? shownTime_(key) : key; }
    void SetShownTime(std::function<double(double)> shown) { shownTime_ = std::move(shown); }
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
    void MoveWindowTo(double now);
    void SpanAll();
    void UpdateFactors();
    // The chosen gauge's readings into its place in curves_, and back.
    void SwapChosen();
    TPointStore points_, demo_;
    std::vector<TGaugeCurve> curves_{1};
    std::size_t chosen_ = 0;
    bool gapPending_ = false, demoGapPending_ = false;
    TReferenceCurve reference_;
    bool runStarting_ = false;           // the next reading is the first of a run
    std::optional<double> runFirst_;     // the current run's first reading
    std::vector<std::string> unitCodes_; // the table of unit indices
    std::string displayUnit_;
    std::array<double, TPointStore::kUnits> factors_{}; // per unit index, into displayUnit_
    std::function<double(double)> shownTime_;           // see ShownTime
    TChartSlice slice_;
    int columns_ = 600; // of the last slice
    TAxisLimits time_, pressure_;
    bool autoScaleY_ = true;
    bool showAll_ = false;
    bool pointsFromFiles_ = false; // the points are a load's, not a run's
    double pmin_ = 1000.0, pmax_ = 120000.0;
    double tmin_ = 0, tmax_ = 0;
};

} // namespace vg57
