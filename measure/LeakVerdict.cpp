#include "LeakVerdict.h"

#include <algorithm>
#include <cmath>

namespace vg57 {

namespace {

// The slope's uncertainty over `duration`: the regression's, or one step over the duration.
double Honest(double stderr_, double step, double duration) {
    return std::max(stderr_, duration > 0 ? step / duration : 0.0);
}

void CompareHalves(std::span<const double> t, std::span<const double> p, TRiseJudgement& j) {
    const double middle = t.back() / 2;
    const auto split =
        static_cast<std::size_t>(std::upper_bound(t.begin(), t.end(), middle) - t.begin());
    if (split < 3 || t.size() - split < 3) return;
    const TLineFit first = FitLine(t.first(split), p.first(split));
    const TLineFit second = FitLine(t.subspan(split), p.subspan(split));
    if (!first.ok || !second.ok) return;
    j.halfSlope[0] = first.slope;
    j.halfSlope[1] = second.slope;
    j.halfUncertainty[0] = Honest(first.slopeStderr, j.step, t[split - 1]);
    j.halfUncertainty[1] = Honest(second.slopeStderr, j.step, t.back() - t[split]);
    const double combined = std::hypot(j.halfUncertainty[0], j.halfUncertainty[1]);
    j.linear = std::fabs(first.slope - second.slope) <= kHalvesSigmas * combined;
}

} // namespace

TRiseJudgement JudgeRise(std::span<const double> t, std::span<const double> p, double step) {
    TRiseJudgement j;
    j.line = FitLine(t, p);
    j.step = step;
    if (!j.line.ok) return j;
    const double duration = t.back();
    j.rising = j.line.slope > 0;
    j.steps = step > 0 ? std::fabs(j.line.slope) * duration / step : 0.0;
    j.resolved = step > 0 && j.steps >= kResolutionSteps;
    j.leakSlope = j.line.slope;
    j.leakSlopeUncertainty = Honest(j.line.slopeStderr, step, duration);
    j.uncertaintySource = j.line.slopeStderr >= step / duration ? ESlopeUncertainty::regression
                                                                : ESlopeUncertainty::quantisation;
    if (!j.rising || !j.resolved) return j;

    CompareHalves(t, p, j);
    double scale = 0;
    for (double v : p)
        scale = std::max(scale, std::fabs(v));
    j.aicLine = LeastSquaresAic(j.line.ssResidual, t.size(), 2, scale);
    j.saturating = FitSaturating(t, p);
    if (j.saturating.ok)
        j.aicSaturating = LeastSquaresAic(j.saturating.ssResidual, t.size(), 4, scale);
    const bool curved = j.saturating.ok && j.aicSaturating < j.aicLine - kAicMargin &&
                        j.saturating.Bend(duration) >= kBendSteps * step;
    if (!curved) {
        // A straight rise whose halves agree is a leak; halves that part without a bend the
        // saturating model can take (a rise that quickens, a jump) are no verdict.
        j.verdict = j.linear == false ? ELeakVerdict::undecided : ELeakVerdict::leak;
        return j;
    }
    if (j.saturating.amplitude < 0) {
        j.verdict = ELeakVerdict::undecided; // a rise that quickens is no outgassing
        return j;
    }
    j.model = ELeakModel::lineAndSaturating;
    j.leakSlope = j.saturating.rate;
    j.leakSlopeUncertainty = Honest(j.saturating.rateStderr, step, duration);
    j.uncertaintySource = j.saturating.rateStderr >= step / duration
                              ? ESlopeUncertainty::regression
                              : ESlopeUncertainty::quantisation;
    // The tail's constant rise counts as a leak when it stands clear of its uncertainty.
    j.verdict = j.leakSlope > 2 * j.leakSlopeUncertainty ? ELeakVerdict::leakAndOutgassing
                                                         : ELeakVerdict::outgassing;
    return j;
}

} // namespace vg57
