// The leak rate by pressure rise: the fit and Q against values worked by hand, the judgements of
// resolution and linearity, and what the analysis refuses.
#include "LeakRate.h"

#include <gtest/gtest.h>

#include <cmath>

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
    testing::Values(
        HandRow{"pascal", {Pa, Pa, Pa, Pa, Pa}, 1.0, Pa, 1.0},
        HandRow{"torr", {Torr, Torr, Torr, Torr, Torr}, 1.0, Torr, 133.322368},
        HandRow{"mbar", {Mbar, Mbar, Mbar, Mbar, Mbar}, 1.0, Mbar, 100.0},
        // The first four in mbar, the last in Torr: converted to Torr first.
        HandRow{"mbarThenTorr", {Mbar, Mbar, Mbar, Mbar, Torr}, 1.33322368, Torr, 133.322368}),
    [](const auto& info) { return std::string(info.param.name); });

TEST(LeakRate, straightRiseHasR2OfOneAndNoWarning) {
    const Readings r = Rise(41, 0.5, Pa, [](double s) { return 1e-3 + 1e-4 * s; });
    const TLeakResult res = Analyse(r).result;
    ASSERT_TRUE(res.r2);
    EXPECT_NEAR(*res.r2, 1.0, 1e-12);
    EXPECT_TRUE(res.resolved);
    EXPECT_TRUE(res.linear);
}

TEST(LeakRate, riseThatFlattensLikeOutgassingIsWarned) {
    const Readings r =
        Rise(41, 0.5, Pa, [](double s) { return 1e-3 + 2e-3 * (1 - std::exp(-s / 8)); });
    const TLeakResult res = Analyse(r).result;
    EXPECT_GT(res.slope, 0);
    EXPECT_TRUE(res.resolved);
    EXPECT_FALSE(res.linear);
}

TEST(LeakRate, fallingPressureIsANegativeRateWithoutWarning) {
    const Readings r = Rise(41, 0.5, Pa, [](double s) { return 1e-2 * std::exp(-s / 8); });
    const TLeakResult res = Analyse(r).result;
    EXPECT_LT(res.leakRate, 0);
    EXPECT_TRUE(res.linear);
}

TEST(LeakRate, equalReadingsLeaveR2UndefinedAndTheRiseUnresolved) {
    const TLeakResult res = Analyse(Rise(10, 1.0, Pa, [](double) { return 2.5e-3; })).result;
    EXPECT_FALSE(res.r2);
    EXPECT_EQ(res.slope, 0);
    EXPECT_FALSE(res.resolved);
}

// At 1.0E-3 the gauge's step is 1E-4: a rise of 4 steps is not judged, one of 5 is.
TEST(LeakRate, riseUnderFiveStepsAtTheStartPressureIsUnresolved) {
    EXPECT_FALSE(
        Analyse(Rise(5, 1.0, Pa, [](double s) { return 1e-3 + 1e-4 * s; })).result.resolved);
    EXPECT_TRUE(
        Analyse(Rise(6, 1.0, Pa, [](double s) { return 1e-3 + 1e-4 * s; })).result.resolved);
    EXPECT_DOUBLE_EQ(ResolutionStep(9.9e-4), 1e-5);
    EXPECT_DOUBLE_EQ(ResolutionStep(1000), 100);
}

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
