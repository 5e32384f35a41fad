// What a pressure rise says: whether it rises at all, whether the gauge's steps resolve it, a
// leak (a constant rise) told from outgassing (a rise that slows), and the leak's slope with an
// uncertainty that quantised readings cannot flatter. Over seconds from the interval's first
// reading and plain values, like the fits it judges.
#pragma once

#include "LeakFit.h"

#include <optional>

namespace vg57 {

// `none`: no verdict reached (the pressure does not rise, or the rise is under the resolution).
enum class ELeakVerdict { none, leak, outgassing, leakAndOutgassing, undecided };
enum class ELeakModel { line, lineAndSaturating };
// What bounds the slope's uncertainty: the regression's standard error, or one step of the
// gauge over the interval (two-digit readings leave a saw-tooth, not independent noise).
enum class ESlopeUncertainty { regression, quantisation };

constexpr double kResolutionSteps = 5.0;
// The saturating model is taken when it lowers Akaike's criterion by more than this ("strong
// support") and bends the rise by at least one step: quantised readings of a straight rise can
// lower the residuals a little, never bend it by a step.
constexpr double kAicMargin = 10.0;
constexpr double kBendSteps = 0.5;
// The halves' slopes differ when they part by more than this many combined uncertainties.
constexpr double kHalvesSigmas = 3.0;

struct TRiseJudgement {
    TLineFit line;
    TSaturatingFit saturating; // ok when the rise was resolved and the model fitted
    double aicLine = 0, aicSaturating = 0;
    double step = 0;  // the largest step any reading of the interval takes
    double steps = 0; // the line's rise (or fall) over the interval, in that step
    bool rising = false;
    bool resolved = false;      // at least kResolutionSteps steps
    std::optional<bool> linear; // the halves' slopes agree; none when not compared
    double halfSlope[2] = {0, 0}, halfUncertainty[2] = {0, 0};
    ELeakVerdict verdict = ELeakVerdict::none;
    ELeakModel model = ELeakModel::line;
    double leakSlope = 0;            // the chosen model's constant rise, per second
    double leakSlopeUncertainty = 0; // the larger of the regression's and the step's
    ESlopeUncertainty uncertaintySource = ESlopeUncertainty::regression;
};

// `seconds` ascending from 0 with at least two distinct values; `step` the largest step of the
// readings in the values' unit.
TRiseJudgement JudgeRise(std::span<const double> seconds, std::span<const double> values,
                         double step);

} // namespace vg57
