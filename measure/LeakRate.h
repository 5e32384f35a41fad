// The leak rate by pressure rise: the chamber isolated, the pressure rises, and Q = V·dp/dt
// comes from a least-squares line through the readings of an interval. Plain C++, shared by the
// window's dialog and vg57-cli.
#pragma once

#include "LeakUnits.h"
#include "LeakVerdict.h"
#include "PressureUnit.h"

#include <cstddef>
#include <optional>
#include <vector>

namespace vg57 {

// The readings of an interval in time order, every pressure in one unit.
struct TLeakReadings {
    std::vector<double> times; // date-times (days): instants (InstantDays), or times of day
    std::vector<double> pressures;
    EPressureUnit unit = EPressureUnit::unknown; // the unit of the interval's last reading
    // The largest step any reading takes in the unit the gauge gave it, in the interval's unit:
    // across a decade the coarser steps limit what the readings can tell.
    double maxStep = 0;
    std::size_t unknownUnits = 0; // readings whose unit code is none of the three
    bool converted = false;       // some readings were taken in another unit
};

// The readings with from <= time <= to, ordered by time (equal times in input order), converted
// to the unit of the last of them. Readings of unknown unit are counted, not taken.
TLeakReadings SelectLeakReadings(const std::vector<double>& times,
                                 const std::vector<double>& pressures,
                                 const std::vector<EPressureUnit>& units, double from, double to);

// What the operator states besides the volume.
struct TLeakOptions {
    double gaugeAccuracyPercent = 30; // of the reading, as wide-range gauges state it
    double volumeUncertaintyPercent = 0;
    std::optional<TLimit> limit;
    // Q of an interval measured with the leak closed (outgassing alone), subtracted from Q.
    std::optional<double> baselinePaM3s;
    double baselineUncertaintyPaM3s = 0;
    // A pressure (in the interval's unit) whose time of arrival the fit is asked for.
    std::optional<double> threshold;
};

struct TLeakResult {
    std::size_t readings = 0;
    double start = 0, end = 0; // date-times of the first and the last reading
    double seconds = 0;
    double pStart = 0, pEnd = 0;
    EPressureUnit unit = EPressureUnit::unknown;
    double slope = 0, slopeStderr = 0; // the line's, unit/s
    double fitStart = 0, fitEnd = 0;   // the fitted line's pressure at start and at end
    std::optional<double> r2;          // none when every reading is equal
    double volumeLitres = 0;
    TRiseJudgement rise;        // the verdict, the models and the leak's own slope
    double step = 0;            // the largest step of the interval's readings, in unit
    bool resolved = false;      // the rise is at least kResolutionSteps of those steps
    std::optional<bool> linear; // the halves agree; none when not compared
    bool rising = false;
    // Q from the chosen model's constant rise: unit·l/s, Pa·m³/s and the usual others. Not a
    // leak rate when the pressure does not rise (`rising` false).
    double leakRate = 0, leakRatePaM3s = 0, leakRateMbarLs = 0, leakRateAtmCcS = 0,
           leakRateSccm = 0;
    double risePerHour = 0;         // unit/h
    double slopeUncertainty = 0;    // unit/s, the honest one
    double leakRateUncertainty = 0; // unit·l/s, with the gauge's accuracy and the volume's
    // Q is below this (unit·l/s) when the rise is not resolved.
    std::optional<double> upperLimit;
    TLeakOptions options;
    std::optional<double> netLeakRatePaM3s; // Q less the baseline
    double netUncertaintyPaM3s = 0;
    // Within the limit: Q (net of the baseline) with its uncertainty, or its upper limit, at
    // or below it. None without a limit or for a falling pressure.
    std::optional<bool> pass;
    std::vector<TSlopePoint> slopes; // dp/dt in sliding windows, seconds from start
    // Seconds from the last reading until the threshold is reached; none when it never is.
    std::optional<double> secondsToThreshold;
};

constexpr std::size_t kLeakMinReadings = 5;

enum class ELeakProblem { none, tooFewReadings, unknownUnit, oneInstant };

struct TLeakAnalysis {
    ELeakProblem problem = ELeakProblem::none;
    TLeakResult result; // meaningful when problem is none
};

// The fit and its judgements. Fewer than kLeakMinReadings readings, a reading of unknown unit,
// or every reading at the same instant give a problem instead.
TLeakAnalysis AnalyseLeak(const TLeakReadings& readings, double volumeLitres,
                          const TLeakOptions& options = {});

// Seconds from the interval's last reading until the chosen model reaches `pressure` (in the
// result's unit); 0 when it is there already, none when it never will.
std::optional<double> SecondsToReach(const TLeakResult& r, double pressure);

// The step of a two-significant-digit reading: 10^(floor(log10 |p|) - 1); 0 for p = 0.
double ResolutionStep(double pressure);

} // namespace vg57
