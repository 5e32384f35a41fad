// The pressure axis's automatic range from the lowest and highest reading in view.
#pragma once

namespace vg57 {

struct TPressureRange {
    double lo = 0, hi = 0;
};

// Linear: 5 % of the span as a margin on each side, never below 0 when lo >= 0; a steady
// pressure gets ±10 % of itself (±1 at 0). Logarithmic (lo > 0): widened outwards to the nearest
// 1, 2 or 5 × 10^n beyond each end, so no reading lies on the frame.
TPressureRange AutomaticRange(double lo, double hi, bool logarithmic);

// The nearest 1, 2 or 5 × 10^n at or below v, and at or above it (v > 0).
double StepAtOrBelow(double v);
double StepAtOrAbove(double v);

} // namespace vg57
