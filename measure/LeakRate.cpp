#include "LeakRate.h"

#include <algorithm>
#include <cmath>
#include <numeric>

namespace vg57 {

namespace {

constexpr double kMsPerDay = 86400000.0;

// Q in its units from the chosen model's constant rise; its uncertainty; the upper limit of a
// rise under the resolution; the net of the baseline and the limit's verdict.
void Throughputs(TLeakResult& r) {
    const TRiseJudgement& j = r.rise;
    const double siPerUnit = PascalsPer(r.unit) * kCubicMetresPerLitre; // Pa·m³ per unit·l
    const double accuracy = r.options.gaugeAccuracyPercent / 100;
    const double volume = r.options.volumeUncertaintyPercent / 100;
    r.slopeUncertainty = j.leakSlopeUncertainty;
    r.leakRate = r.volumeLitres * j.leakSlope;
    r.leakRatePaM3s = r.leakRate * siPerUnit;
    r.leakRateMbarLs = r.leakRatePaM3s / kPaM3sPerMbarLs;
    r.leakRateAtmCcS = r.leakRatePaM3s / kPaM3sPerAtmCcS;
    r.leakRateSccm = r.leakRatePaM3s / kPaM3sPerSccm;
    r.risePerHour = j.leakSlope * 3600;
    // A gauge's error is mostly a factor common to the readings of an interval: it scales dp/dt
    // and Q alike. The three parts are independent and add in quadrature.
    const double riseShare = std::hypot(r.slopeUncertainty, j.leakSlope * accuracy); // unit/s
    r.leakRateUncertainty = std::hypot(r.volumeLitres * riseShare, r.leakRate * volume);
    if (!r.resolved)
        r.upperLimit = r.volumeLitres * (std::max(r.slope, 0.0) + r.step / r.seconds) *
                       (1 + std::hypot(accuracy, volume));

    // The highest Q (Pa·m³/s) and rise (Pa/s) the readings allow, net of the baseline.
    const double baseline = r.options.baselinePaM3s.value_or(0);
    const double baselineLow = baseline - r.options.baselineUncertaintyPaM3s;
    const double m3 = r.volumeLitres * kCubicMetresPerLitre;
    std::optional<double> highQ, highRise;
    if (r.rising && r.resolved) {
        if (r.options.baselinePaM3s) {
            r.netLeakRatePaM3s = r.leakRatePaM3s - baseline;
            r.netUncertaintyPaM3s =
                std::hypot(r.leakRateUncertainty * siPerUnit, r.options.baselineUncertaintyPaM3s);
        }
        highQ = r.leakRatePaM3s - baselineLow + r.leakRateUncertainty * siPerUnit;
        highRise = (r.leakRatePaM3s - baselineLow) / m3 + riseShare * PascalsPer(r.unit);
    } else if (r.upperLimit) {
        highQ = *r.upperLimit * siPerUnit - baselineLow;
        highRise = *highQ / m3;
    }
    if (r.options.limit && highQ) {
        const TLimit& limit = *r.options.limit;
        const double bound = IsRiseRate(limit.unit) ? *highRise : *highQ;
        r.pass = bound <= limit.value * SiPerLimitUnit(limit.unit);
    }
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
    double largestOfUnit[4] = {0, 0, 0, 0};
    out.times.reserve(last - first);
    out.pressures.reserve(last - first);
    for (std::size_t k = first; k < last; ++k) {
        const std::size_t i = index(k);
        const EPressureUnit u = unitOf(i);
        if (u == EPressureUnit::unknown) {
            ++out.unknownUnits;
            continue;
        }
        out.converted = out.converted || u != out.unit;
        // A reading's step grows with its magnitude: the largest reading of each unit has the
        // largest step, so no step is looked up per reading.
        const double magnitude = std::fabs(pressures[i]);
        double& largest = largestOfUnit[static_cast<int>(u) & 3];
        if (magnitude > largest) largest = magnitude;
        out.times.push_back(times[i]);
        out.pressures.push_back(u == out.unit ? pressures[i]
                                              : pressures[i] * UnitFactor(u, out.unit));
    }
    for (int u = 1; u < 4; ++u) {
        const auto unit = static_cast<EPressureUnit>(u);
        out.maxStep =
            std::max(out.maxStep, ResolutionStep(largestOfUnit[u]) * UnitFactor(unit, out.unit));
    }
    return out;
}

TLeakAnalysis AnalyseLeak(const TLeakReadings& in, double volumeLitres,
                          const TLeakOptions& options) {
    TLeakAnalysis a;
    const std::size_t n = in.times.size();
    if (in.unknownUnits > 0)
        a.problem = ELeakProblem::unknownUnit;
    else if (n < kLeakMinReadings)
        a.problem = ELeakProblem::tooFewReadings;
    if (a.problem != ELeakProblem::none) return a;

    // Seconds from the first reading, rounded to whole milliseconds (the readings' own
    // resolution), so that a date-time's rounding does not enter the slope.
    std::vector<double> seconds(n);
    for (std::size_t i = 0; i < n; ++i)
        seconds[i] = std::round((in.times[i] - in.times[0]) * kMsPerDay) / 1000.0;
    if (!(seconds.back() > 0)) {
        a.problem = ELeakProblem::oneInstant;
        return a;
    }

    TLeakResult& r = a.result;
    r.rise = JudgeRise(seconds, in.pressures, in.maxStep);
    const TLineFit& whole = r.rise.line;
    r.readings = n;
    r.start = in.times.front();
    r.end = in.times.back();
    r.seconds = seconds.back();
    r.pStart = in.pressures.front();
    r.pEnd = in.pressures.back();
    r.unit = in.unit;
    r.slope = whole.slope;
    r.slopeStderr = whole.slopeStderr;
    r.fitStart = whole.intercept;
    r.fitEnd = whole.intercept + whole.slope * r.seconds;
    // Equal readings leave R² undefined; asked of the readings themselves, since a mean that
    // rounds leaves a total sum of squares a hair above zero.
    const bool allEqual = std::all_of(in.pressures.begin(), in.pressures.end(),
                                      [&](double p) { return p == in.pressures.front(); });
    if (!allEqual && whole.ssTotal > 0) r.r2 = 1.0 - whole.ssResidual / whole.ssTotal;
    r.volumeLitres = volumeLitres;
    r.step = r.rise.step;
    r.resolved = r.rise.resolved;
    r.linear = r.rise.linear;
    r.rising = r.rise.rising;
    r.options = options;
    r.slopes = SlidingSlopes(seconds, in.pressures);
    Throughputs(r);
    if (options.threshold) r.secondsToThreshold = SecondsToReach(r, *options.threshold);
    return a;
}

std::optional<double> SecondsToReach(const TLeakResult& r, double pressure) {
    const TSaturatingFit& s = r.rise.saturating;
    const bool curve = r.rise.model == ELeakModel::lineAndSaturating && s.ok;
    const auto at = [&](double t) { return curve ? s.At(t) : r.fitStart + r.slope * t; };
    const double now = at(r.seconds);
    if (now >= pressure) return 0.0;
    if (!curve) {
        if (!(r.slope > 0)) return std::nullopt;
        return (pressure - now) / r.slope;
    }
    // The curve's highest point from now on: unbounded with a rising tail, else where the
    // saturating term's rise is spent.
    double hi = r.seconds;
    if (s.rate > 0) {
        for (int i = 0; at(hi) < pressure; ++i) {
            if (i > 200) return std::nullopt;
            hi = r.seconds + (hi - r.seconds + r.seconds + 1) * 2;
        }
    } else {
        const double peak = s.rate < 0 && s.amplitude > 0
                                ? s.tau * std::log(s.amplitude / (s.tau * -s.rate))
                                : 1e3 * s.tau + r.seconds;
        hi = std::max(r.seconds, peak);
        if (at(hi) < pressure) return std::nullopt;
    }
    double lo = r.seconds;
    for (int i = 0; i < 200 && hi - lo > 1e-3; ++i) {
        const double mid = (lo + hi) / 2;
        (at(mid) < pressure ? lo : hi) = mid;
    }
    return hi - r.seconds;
}

} // namespace vg57
