#include "AutoRange.h"

#include <cmath>

namespace vg57 {

namespace {

constexpr double kMantissas[] = {1, 2, 5, 10};
// Readings are decimal numbers held in binary: 2E-3 may be a hair off 2 × 10^-3.
constexpr double kSlack = 1e-9;

} // namespace

double StepAtOrBelow(double v) {
    const double decade = std::pow(10.0, std::floor(std::log10(v)));
    const double m = v / decade;
    double step = 1;
    for (double s : kMantissas)
        if (s <= m * (1 + kSlack)) step = s;
    return step * decade;
}

double StepAtOrAbove(double v) {
    const double decade = std::pow(10.0, std::floor(std::log10(v)));
    const double m = v / decade;
    for (double s : kMantissas)
        if (s >= m * (1 - kSlack)) return s * decade;
    return 10 * decade;
}

TPressureRange AutomaticRange(double lo, double hi, bool logarithmic) {
    if (logarithmic) {
        // Strictly outwards: a reading on a step (atmosphere at 1E5) would lie on the frame.
        return {StepAtOrBelow(lo * (1 - 1e-6)), StepAtOrAbove(hi * (1 + 1e-6))};
    }
    const double margin = hi > lo ? 0.05 * (hi - lo) : (lo != 0 ? std::fabs(lo) * 0.1 : 1.0);
    TPressureRange r{lo - margin, hi + margin};
    if (lo >= 0 && r.lo < 0) r.lo = 0;
    return r;
}

} // namespace vg57
