// The least-squares models of a pressure rise, over seconds from the interval's first reading and
// plain values: a line (a leak: a constant rise), and a line plus a saturating exponential
// p0 + R·t + A·(1 − e^(−t/τ)) (outgassing that slows, over a leak). Nothing here knows units,
// dates or files, so the fits are tested and timed on generated rises alone.
#pragma once

#include <cstddef>
#include <span>
#include <vector>

namespace vg57 {

struct TLineFit {
    double slope = 0, intercept = 0, slopeStderr = 0;
    double ssResidual = 0, ssTotal = 0;
    bool ok = false; // at least two distinct times
};

// `t` ascending. Sums are taken about the means, for the small slopes of a tight chamber.
TLineFit FitLine(std::span<const double> t, std::span<const double> p);

struct TSaturatingFit {
    double p0 = 0, rate = 0, amplitude = 0, tau = 0;
    double rateStderr = 0; // from the four parameters' covariance
    double ssResidual = 0;
    bool ok = false;
    double At(double t) const;
    double SlopeAt(double t) const;
    // The largest distance between the curve and its chord over [0, duration]: how far the
    // rise bends, to be set against the gauge's step.
    double Bend(double duration) const;
};

// τ is searched from a fiftieth of the interval to ten times it; at most kSaturatingSearchPoints
// (means of consecutive readings beyond that) take part in the search, all of them in the final
// solve at the τ found. Needs at least five readings; `t` ascending from 0.
constexpr std::size_t kSaturatingSearchPoints = 2048;
TSaturatingFit FitSaturating(std::span<const double> t, std::span<const double> p);

// Akaike's criterion of a least-squares fit with k parameters over n readings; the residual sum
// is floored at what double arithmetic can tell apart from a perfect fit at `scale`.
double LeastSquaresAic(double ssResidual, std::size_t n, int k, double scale);

// dp/dt in sliding windows: the slope of a line through the readings of each window, the
// windows a fifth of the interval wide and stepped by a tenth (fewer when readings are few).
struct TSlopePoint {
    double t = 0; // the window's middle, seconds from the start
    double slope = 0, stderr_ = 0;
};
std::vector<TSlopePoint> SlidingSlopes(std::span<const double> t, std::span<const double> p);

} // namespace vg57
