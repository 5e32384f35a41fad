// The leak rate by pressure rise: the fit and Q against values worked by hand, the judgements of
// resolution and linearity, and what the analysis refuses.
#include "LeakRate.h"

#include <gtest/gtest.h>

#include <cmath>
#include <limits>
#include <random>

using namespace vg57;

namespace {

constexpr double kSecond = 1.0 / 86400.0;
constexpr auto Pa = EPressureUnit::pa, Torr = EPressureUnit::torr, Mbar = EPressureUnit::mbar;

struct Readings {
    std::vector<double> t, p;
    std::vector<EPressureUnit> u;
};

// Readings every `step` seconds from 10:00 (a time of day, as an undated archive keeps it).
Readings Rise(int n, double step, EPressureUnit unit, double (*p)(double seconds)) {
    Readings r;
    for (int i = 0; i < n; ++i) {
        r.t.push_back(10.0 / 24 + i * step * kSecond);
        r.p.push_back(p(i * step));
        r.u.push_back(unit);
    }
    return r;
}

TLeakAnalysis Analyse(const Readings& r, double volume = 2.0) {
    return AnalyseLeak(SelectLeakReadings(r.t, r.p, r.u, -1e9, 1e9), volume);
}

void ExpectNear(double actual, double expected) {
    EXPECT_NEAR(actual, expected, std::fabs(expected) * 1e-9);
}

// By hand, t = 0..4 s, p = 1 2 4 4 5: slope 10/10 = 1 /s, residuals -.2 -.2 .8 -.2 -.2, so the
// residual sum is 0.8, the total sum 10.8, R² = 25/27, the slope's error sqrt(0.8/3/10).
struct HandRow {
    const char* name;
    std::vector<EPressureUnit> units; // per reading; the last sets the interval's unit
    double scale;                     // the readings' values are scale times 1 2 4 4 5
    EPressureUnit unit;
    double paPerUnit;
};

class HandFit : public testing::TestWithParam<HandRow> {};

TEST_P(HandFit, slopeErrorR2AndLeakRateMatchTheHandValues) {
    const HandRow& row = GetParam();
    Readings r = Rise(5, 1.0, Pa, [](double) { return 0.0; });
    const double values[] = {1, 2, 4, 4, 5};
    for (int i = 0; i < 5; ++i)
        r.p[i] = values[i] * (i < 4 ? row.scale : 1.0);
    r.u = row.units;
    const TLeakAnalysis a = Analyse(r, 2.0);
    ASSERT_EQ(a.problem, ELeakProblem::none);
    EXPECT_EQ(a.result.unit, row.unit);
    ExpectNear(a.result.slope, 1.0);
    ExpectNear(a.result.slopeStderr, std::sqrt(0.8 / 3 / 10));
    ASSERT_TRUE(a.result.r2);
    ExpectNear(*a.result.r2, 25.0 / 27.0);
    ExpectNear(a.result.leakRate, 2.0);
    ExpectNear(a.result.leakRatePaM3s, 2.0 * row.paPerUnit * 0.001);
    ExpectNear(a.result.seconds, 4.0);
    ExpectNear(a.result.fitStart, 1.2); // the intercept, 3.2 - 1 * 2
    ExpectNear(a.result.fitEnd, 5.2);
    EXPECT_EQ(a.result.readings, 5u);
}

INSTANTIATE_TEST_SUITE_P(
    Units, HandFit,
    testing::Values(HandRow{"pascal", {Pa, Pa, Pa, Pa, Pa}, 1.0, Pa, 1.0},
                    HandRow{"torr", {Torr, Torr, Torr, Torr, Torr}, 1.0, Torr, 101325.0 / 760},
                    HandRow{"mbar", {Mbar, Mbar, Mbar, Mbar, Mbar}, 1.0, Mbar, 100.0},
                    // The first four in mbar, the last in Torr: converted to Torr first.
                    HandRow{"mbarThenTorr",
                            {Mbar, Mbar, Mbar, Mbar, Torr},
                            101325.0 / 76000,
                            Torr,
                            101325.0 / 760}),
    [](const auto& info) { return std::string(info.param.name); });

// Generated rises in mbar over 600 s (unless stated) at 0.5 s, 10 l. Two-digit rows round every
// reading as the gauge does and are repeated at twelve phases of the saw-tooth (the start shifted
// by twelfths of a step's time); the leak's slope must lie within the tolerance, and within the
// stated uncertainty whenever the tolerance is that uncertainty (tolerance 0).
struct RiseRow {
    const char* name;
    double (*p)(double seconds);
    bool twoDigits;
    double noise; // standard deviation, mbar
    ELeakVerdict verdict;
    double leakSlope; // mbar/s; NaN: no leak rate (the pressure does not rise)
    double tolerance; // relative; 0: the reported uncertainty
    bool upperLimit;  // the rise is under the resolution: Q is given as a bound
    double seconds = 600;
};

double Round2(double v) {
    const double step = ResolutionStep(v);
    return std::round(v / step) * step;
}

constexpr double kNone = std::numeric_limits<double>::quiet_NaN();

class Rises : public testing::TestWithParam<RiseRow> {};

TEST_P(Rises, verdictAndLeakRateWithinTolerance) {
    const RiseRow& row = GetParam();
    std::mt19937 random(7);
    std::normal_distribution<double> noise(0, row.noise > 0 ? row.noise : 1);
    for (int phase = 0; phase < (row.twoDigits ? 12 : 1); ++phase) {
        Readings r;
        for (int i = 0; i <= row.seconds * 2; ++i) {
            // A twelfth of the time a 1E-4 step takes at 2E-6 mbar/s.
            double p = row.p(i * 0.5 + phase * 50.0 / 12);
            if (row.noise > 0) p += noise(random);
            r.t.push_back(10.0 / 24 + i * 0.5 * kSecond);
            r.p.push_back(row.twoDigits ? Round2(p) : p);
            r.u.push_back(Mbar);
        }
        const TLeakAnalysis a = Analyse(r, 10.0);
        ASSERT_EQ(a.problem, ELeakProblem::none);
        const TLeakResult& res = a.result;
        SCOPED_TRACE(testing::Message()
                     << "phase " << phase << ", verdict " << static_cast<int>(res.rise.verdict)
                     << ", slope " << res.rise.leakSlope);
        EXPECT_EQ(res.rise.verdict, row.verdict);
        EXPECT_EQ(res.upperLimit.has_value(), row.upperLimit);
        if (std::isnan(row.leakSlope)) {
            EXPECT_FALSE(res.rising);
            continue;
        }
        EXPECT_TRUE(res.rising);
        const double error = std::fabs(res.rise.leakSlope - row.leakSlope);
        const double allowed =
            row.tolerance > 0 ? row.tolerance * row.leakSlope : res.slopeUncertainty;
        EXPECT_LE(error, allowed);
        // An exact straight rise: dp/dt the same in every window.
        if (row.verdict == ELeakVerdict::leak && !row.twoDigits && row.noise == 0) {
            EXPECT_EQ(res.slopes.size(), 17u);
            for (const TSlopePoint& w : res.slopes)
                EXPECT_NEAR(w.slope, row.leakSlope, row.leakSlope * 1e-9);
        }
        ExpectNear(res.leakRate, 10.0 * res.rise.leakSlope);
        ExpectNear(res.leakRateMbarLs, res.leakRate);
        ExpectNear(res.leakRateSccm, res.leakRate / 0.0168875);
        ExpectNear(res.leakRateAtmCcS, res.leakRate * 100 / 101.325);
        if (res.upperLimit) {
            EXPECT_GE(*res.upperLimit, 10.0 * row.leakSlope);
        }
    }
}

double Outgassing(double t) {
    return 1e-3 + 1e-3 * -std::expm1(-t / 150);
}
double LeakAndOutgassing(double t) {
    return 1e-3 + 1e-6 * t + 5e-4 * -std::expm1(-t / 300);
}

INSTANTIATE_TEST_SUITE_P(
    Generated, Rises,
    testing::Values(
        RiseRow{"leak", [](double t) { return 1e-3 + 2e-6 * t; }, false, 0, ELeakVerdict::leak,
                2e-6, 1e-9, false},
        RiseRow{"outgassing", Outgassing, false, 0, ELeakVerdict::outgassing, 0, 0, false},
        RiseRow{"leakAndOutgassing", LeakAndOutgassing, false, 0, ELeakVerdict::leakAndOutgassing,
                1e-6, 0.02, false},
        // Two digits leave about ten steps in 600 s: the tail needs longer to stand out.
        RiseRow{"leakAndOutgassingInTwoDigits", LeakAndOutgassing, true, 0,
                ELeakVerdict::leakAndOutgassing, 1e-6, 0, false, 1800},
        RiseRow{"noisyLeak", [](double t) { return 1e-3 + 2e-6 * t; }, false, 2e-5,
                ELeakVerdict::leak, 2e-6, 0.03, false},
        RiseRow{"twoDigitLeak", [](double t) { return 1e-3 + 2e-6 * t; }, true, 0,
                ELeakVerdict::leak, 2e-6, 0, false},
        // Six steps: the saw-tooth, not noise, sets the error.
        RiseRow{"sixStepLeak", [](double t) { return 1.2e-3 + 6e-4 / 600 * t; }, true, 0,
                ELeakVerdict::leak, 6e-4 / 600, 0, false},
        // Across 1.0E-3 the step grows tenfold: judged by the coarse steps.
        RiseRow{"decadeCrossingUnderResolution", [](double t) { return 9.5e-4 + 2e-4 / 600 * t; },
                true, 0, ELeakVerdict::none, 2e-4 / 600, 0, true},
        RiseRow{"decadeCrossing", [](double t) { return 9.5e-4 + 8e-4 / 600 * t; }, true, 0,
                ELeakVerdict::leak, 8e-4 / 600, 0, false},
        RiseRow{"falling", [](double t) { return 5e-3 - 3e-3 / 600 * t; }, true, 0,
                ELeakVerdict::none, kNone, 0, false},
        RiseRow{"flat", [](double) { return 2.5e-3; }, true, 0, ELeakVerdict::none, kNone, 0,
                true}),
    [](const auto& info) { return std::string(info.param.name); });

TEST(LeakRate, tooFewReadingsOrAnUnknownUnitIsRefused) {
    Readings r = Rise(4, 1.0, Pa, [](double s) { return 1 + s; });
    EXPECT_EQ(Analyse(r).problem, ELeakProblem::tooFewReadings);
    r = Rise(8, 1.0, Pa, [](double s) { return 1 + s; });
    r.u[3] = EPressureUnit::unknown;
    EXPECT_EQ(Analyse(r).problem, ELeakProblem::unknownUnit);
    // The interval is inclusive at both ends: readings 2..6.
    const TLeakReadings inner = SelectLeakReadings(r.t, r.p, r.u, r.t[2], r.t[6]);
    EXPECT_EQ(inner.times.size() + inner.unknownUnits, 5u);
}

} // namespace
