// The leak rate by pressure rise: the chamber isolated, the pressure rises, and Q = V·dp/dt
// comes from a least-squares line through the readings of an interval. Plain C++, shared by the
// window's dialog and vg57-cli.
#pragma once

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
    // The first reading as the gauge gave it: its two digits set the resolution.
    double firstAsRead = 0;
    EPressureUnit firstUnit = EPressureUnit::unknown;
    std::size_t unknownUnits = 0; // readings whose unit code is none of the three
    bool converted = false;       // some readings were taken in another unit
};

// The readings with from <= time <= to, ordered by time (equal times in input order), converted
// to the unit of the last of them. Readings of unknown unit are counted, not taken.
TLeakReadings SelectLeakReadings(const std::vector<double>& times,
                                 const std::vector<double>& pressures,
                                 const std::vector<EPressureUnit>& units, double from, double to);

struct TLeakResult {
    std::size_t readings = 0;
    double start = 0, end = 0; // date-times of the first and the last reading
    double seconds = 0;
    double pStart = 0, pEnd = 0;
    EPressureUnit unit = EPressureUnit::unknown;
    double slope = 0, slopeStderr = 0; // unit/s
    double fitStart = 0, fitEnd = 0;   // the fitted line's pressure at start and at end
    std::optional<double> r2;          // none when every reading is equal
    double volumeLitres = 0;
    double leakRate = 0;      // unit·l/s
    double leakRatePaM3s = 0; // Pa·m³/s
    double step = 0;          // the gauge's resolution at the start pressure, in unit
    bool resolved = false;    // the fitted rise is at least kResolutionSteps steps
    bool linear = true;       // false: the outgassing warning applies
};

constexpr std::size_t kLeakMinReadings = 5;
constexpr double kResolutionSteps = 5.0;
constexpr double kNonlinearShare = 0.3;

enum class ELeakProblem { none, tooFewReadings, unknownUnit, oneInstant };

struct TLeakAnalysis {
    ELeakProblem problem = ELeakProblem::none;
    TLeakResult result; // meaningful when problem is none
};

// The fit and its judgements. Fewer than kLeakMinReadings readings, a reading of unknown unit,
// or every reading at the same instant give a problem instead.
TLeakAnalysis AnalyseLeak(const TLeakReadings& readings, double volumeLitres);

// The step of a two-significant-digit reading: 10^(floor(log10 |p|) - 1); 0 for p = 0.
double ResolutionStep(double pressure);

} // namespace vg57
