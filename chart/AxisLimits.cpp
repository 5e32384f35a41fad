#include "AxisLimits.h"

#include <utility>

namespace vg57 {

void TAxisLimits::SetBoth(double lo, double hi) {
    automatic_ = false;
    if (lo > hi) std::swap(lo, hi);
    min_ = lo;
    max_ = hi;
    if (max_ - min_ < 1e-10) max_ = min_ + 1e-10;
}

void TAxisLimits::SetMin(double v) {
    if (v > max_) throw EChartAxisError("Axis Minimum Value must be <= Maximum");
    min_ = v;
}

void TAxisLimits::SetMax(double v) {
    if (v < min_) throw EChartAxisError("Axis Maximum Value must be >= Minimum");
    max_ = v;
}

void TAxisLimits::SetAutomaticLimits(double lo, double hi) {
    if (!automatic_) return;
    min_ = lo;
    max_ = hi;
}

void TAxisLimits::SetLogarithmic(bool on) {
    if (on && (min_ < 0 || max_ < 0))
        throw EChartAxisError("Logarithmic Axis Min and Max values should be >= 0");
    logarithmic_ = on;
}

} // namespace vg57
