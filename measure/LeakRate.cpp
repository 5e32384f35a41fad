#include "LeakRate.h"

#include <algorithm>
#include <cmath>
#include <numeric>

namespace vg57 {

namespace {

constexpr double kMsPerDay = 86400000.0;

struct TLine {
    double slope = 0, intercept = 0, stderr_ = 0;
    double ssResidual = 0, ssTotal = 0;
    bool ok = false;
};

// Least squares over [first, last). Times are seconds from the first reading, rounded to whole
// milliseconds (the readings' own resolution), so that a date-time's rounding does not enter
// the slope; sums are taken about the means, for the small slopes of a tight chamber.
TLine Fit(const std::vector<double>& seconds, const std::vector<double>& p, std::size_t first,
          std::size_t last) {
    TLine line;
    const std::size_t n = last - first;
    if (n < 2) return line;
    double tMean = 0, pMean = 0;
    for (std::size_t i = first; i < last; ++i) {
        tMean += seconds[i];
        pMean += p[i];
    }
    tMean /= static_cast<double>(n);
    pMean /= static_cast<double>(n);
    double sxx = 0, sxy = 0, syy = 0;
    for (std::size_t i = first; i < last; ++i) {
        const double dt = seconds[i] - tMean, dp = p[i] - pMean;
        sxx += dt * dt;
        sxy += dt * dp;
        syy += dp * dp;
    }
    if (!(sxx > 0)) return line;
    line.slope = sxy / sxx;
    line.intercept = pMean - line.slope * tMean;
    for (std::size_t i = first; i < last; ++i) {
        const double r = p[i] - (line.intercept + line.slope * seconds[i]);
        line.ssResidual += r * r;
    }
    line.ssTotal = syy;
    line.stderr_ = n > 2 ? std::sqrt(line.ssResidual / static_cast<double>(n - 2) / sxx) : 0.0;
    line.ok = true;
    return line;
}

} // namespace

double ResolutionStep(double pressure) {
    const double p = std::fabs(pressure);
    if (!(p > 0) || !std::isfinite(p)) return 0.0;
    double e = std::floor(std::log10(p));
    // log10 may land a hair off a power of ten.
    if (std::pow(10.0, e) > p)
        e -= 1;
    else if (std::pow(10.0, e + 1) <= p)
        e += 1;
    return std::pow(10.0, e - 1);
}

TLeakReadings SelectLeakReadings(const std::vector<double>& times,
                                 const std::vector<double>& pressures,
                                 const std::vector<EPressureUnit>& units, double from, double to) {
    // A file in time order, the usual case: the interval is one run of it, taken in place.
    std::size_t first = 0, last = 0;
    std::vector<std::size_t> order;
    const bool sorted = std::is_sorted(times.begin(), times.end());
    if (sorted) {
        first = static_cast<std::size_t>(std::lower_bound(times.begin(), times.end(), from) -
                                         times.begin());
        last =
            std::max(first, static_cast<std::size_t>(
                                std::upper_bound(times.begin(), times.end(), to) - times.begin()));
    } else {
        for (std::size_t i = 0; i < times.size(); ++i)
            if (times[i] >= from && times[i] <= to) order.push_back(i);
        std::stable_sort(order.begin(), order.end(),
                         [&](std::size_t a, std::size_t b) { return times[a] < times[b]; });
        last = order.size();
    }
    const auto index = [&](std::size_t k) { return sorted ? k : order[k]; };
    auto unitOf = [&](std::size_t i) {
        return i < units.size() ? units[i] : EPressureUnit::unknown;
    };
    TLeakReadings out;
    for (std::size_t k = last; k-- > first;)
        if (unitOf(index(k)) != EPressureUnit::unknown) {
            out.unit = unitOf(index(k));
            break;
        }
    out.times.reserve(last - first);
    out.pressures.reserve(last - first);
    for (std::size_t k = first; k < last; ++k) {
        const std::size_t i = index(k);
        const EPressureUnit u = unitOf(i);
        if (u == EPressureUnit::unknown) {
            ++out.unknownUnits;
            continue;
        }
        if (out.times.empty()) {
            out.firstAsRead = pressures[i];
            out.firstUnit = u;
        }
        out.converted = out.converted || u != out.unit;
        out.times.push_back(times[i]);
        out.pressures.push_back(u == out.unit ? pressures[i]
                                              : pressures[i] * UnitFactor(u, out.unit));
    }
    return out;
}

TLeakAnalysis AnalyseLeak(const TLeakReadings& in, double volumeLitres) {
    TLeakAnalysis a;
    const std::size_t n = in.times.size();
    if (in.unknownUnits > 0)
        a.problem = ELeakProblem::unknownUnit;
    else if (n < kLeakMinReadings)
        a.problem = ELeakProblem::tooFewReadings;
    if (a.problem != ELeakProblem::none) return a;

    std::vector<double> seconds(n);
    for (std::size_t i = 0; i < n; ++i)
        seconds[i] = std::round((in.times[i] - in.times[0]) * kMsPerDay) / 1000.0;
    const TLine whole = Fit(seconds, in.pressures, 0, n);
    if (!whole.ok) {
        a.problem = ELeakProblem::oneInstant;
        return a;
    }

    TLeakResult& r = a.result;
    r.readings = n;
    r.start = in.times.front();
    r.end = in.times.back();
    r.seconds = seconds.back();
    r.pStart = in.pressures.front();
    r.pEnd = in.pressures.back();
    r.unit = in.unit;
    r.slope = whole.slope;
    r.slopeStderr = whole.stderr_;
    r.fitStart = whole.intercept;
    r.fitEnd = whole.intercept + whole.slope * r.seconds;
    // Equal readings leave R² undefined; asked of the readings themselves, since a mean that
    // rounds leaves a total sum of squares a hair above zero.
    const bool allEqual = std::all_of(in.pressures.begin(), in.pressures.end(),
                                      [&](double p) { return p == in.pressures.front(); });
    if (!allEqual && whole.ssTotal > 0) r.r2 = 1.0 - whole.ssResidual / whole.ssTotal;
    r.volumeLitres = volumeLitres;
    r.leakRate = volumeLitres * r.slope;
    r.leakRatePaM3s = r.leakRate * PascalsPer(r.unit) * kCubicMetresPerLitre;
    // The step of the first reading in the unit the gauge gave it, then in the interval's unit.
    r.step = ResolutionStep(in.firstAsRead) * UnitFactor(in.firstUnit, in.unit);
    r.resolved = r.step > 0 && std::fabs(r.slope) * r.seconds >= kResolutionSteps * r.step;

    // Outgassing flattens the rise: the halves' slopes, split at the middle time, part.
    if (r.slope > 0 && r.resolved) {
        const double middle = r.seconds / 2;
        const std::size_t split = static_cast<std::size_t>(
            std::upper_bound(seconds.begin(), seconds.end(), middle) - seconds.begin());
        const TLine first = Fit(seconds, in.pressures, 0, split);
        const TLine second = Fit(seconds, in.pressures, split, n);
        if (first.ok && second.ok)
            r.linear = std::fabs(first.slope - second.slope) <= kNonlinearShare * r.slope;
    }
    return a;
}

} // namespace vg57
