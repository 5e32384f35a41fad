// The chart's rules without a window: the series, the axes, the live view and the sliders.
#include "ChartModel.h"
#include "ChartLabels.h"
#include "DateTime.h"
#include "SliceThinning.h"

#include <gtest/gtest.h>

#include <cmath>

using namespace vg57;

namespace {
constexpr double kSec = kOneSecond;
const double kNow = MakeDateTime(2026, 12, 7, 10, 0, 0);

std::vector<double> Ys(const TPointStore& s) {
    std::vector<double> y;
    for (std::size_t i = 0; i < s.Size(); ++i)
        y.push_back(s.Y(i));
    return y;
}
} // namespace

// ---- the series ----

TEST(PointStore, equalTimesKeepTheirArrivalOrder) {
    TPointStore s;
    s.Add(1.0, 10);
    s.Add(2.0, 20);
    s.Add(1.0, 11);
    s.Add(0.5, 5);
    s.Add(2.0, 21);
    EXPECT_EQ(Ys(s), (std::vector<double>{5, 10, 11, 20, 21}));
}

TEST(PointStore, droppingTheFrontKeepsEveryOtherPointInPlace) {
    TPointStore s;
    for (int i = 0; i < 20000; ++i)
        s.Add(i, i * 2.0);
    for (int i = 0; i < 15000; ++i)
        s.RemoveFirst();
    ASSERT_EQ(s.Size(), 5000u);
    EXPECT_EQ(s.X(0), 15000);
    EXPECT_EQ(s.Y(4999), 39998);
    EXPECT_EQ(s.LowerBound(15500), 500u);
    s.Add(15000.5, -1);
    EXPECT_EQ(s.Y(1), -1);
}

TEST(PointStore, loadedPointsAreOrderedByTimeStably) {
    TPointStore s;
    s.Assign({3, 1, 2, 1}, {30, 10, 20, 11});
    EXPECT_EQ(Ys(s), (std::vector<double>{10, 11, 20, 30}));
}

TEST(TrimOldPoints, aPointExactlyTheWindowOldStaysAndAnOlderOneGoes) {
    TChartModel m(kNow);
    m.TWindow = 0.25; // exact in binary, so "exactly as old" is exact
    const double now = 100.5;
    m.Points().Add(100.25 - 1e-9, 1);
    m.Points().Add(100.25, 2);
    m.Points().Add(100.4, 3);
    m.TrimOldPoints(now);
    EXPECT_EQ(Ys(m.Points()), (std::vector<double>{2, 3}));
    m.TrimOldPoints(now + 0.01);
    EXPECT_EQ(Ys(m.Points()), (std::vector<double>{3}));
}

// ---- axes ----

TEST(AxisLimits, bothLimitsSwapAndWiden) {
    TAxisLimits a;
    a.SetBoth(5, 3);
    EXPECT_EQ(a.Min(), 3);
    EXPECT_EQ(a.Max(), 5);
    EXPECT_FALSE(a.Automatic());
    a.SetBoth(kNow, kNow);
    EXPECT_EQ(a.Min(), kNow);
    EXPECT_EQ(a.Max(), kNow + 1e-10);
    a.SetBoth(-1e-9, -1.0); // an empty file: the swap orders them
    EXPECT_EQ(a.Min(), -1.0);
    EXPECT_EQ(a.Max(), -1e-9);
}

TEST(AxisLimits, singleLimitsThatWouldCrossAreRefused) {
    TAxisLimits a;
    a.SetBoth(10, 20);
    try {
        a.SetMin(21);
        FAIL();
    } catch (const EChartAxisError& e) {
        EXPECT_STREQ(e.what(), "Axis Minimum Value must be <= Maximum");
    }
    try {
        a.SetMax(9);
        FAIL();
    } catch (const EChartAxisError& e) {
        EXPECT_STREQ(e.what(), "Axis Maximum Value must be >= Minimum");
    }
    EXPECT_EQ(a.Min(), 10);
    EXPECT_EQ(a.Max(), 20);
    a.SetMin(20);
    EXPECT_EQ(a.Min(), 20);
}

TEST(ChartSettings, logarithmicIsRefusedWithANegativePressureInView) {
    TChartModel m(kNow);
    m.LoadArchive({0.1, 0.2, 0.3}, {5, -2, 7}, 0.1, 0.3); // a file with a negative pressure
    try {
        m.SetLogarithmic(true);
        FAIL();
    } catch (const EChartAxisError& e) {
        EXPECT_STREQ(e.what(), "Logarithmic Axis Min and Max values should be >= 0");
    }
    EXPECT_FALSE(m.PressureAxis().Logarithmic());
    m.LoadArchive({0.1}, {5}, 0.1, 0.1);
    m.SetLogarithmic(true);
    EXPECT_TRUE(m.PressureAxis().Logarithmic());
}

TEST(ChartSettings, publishedLimitSettersUseTheSingleLimitRule) {
    TChartModel m(kNow);
    m.SetPmax(500);
    EXPECT_EQ(m.PressureAxis().Max(), 500);
    EXPECT_THROW(m.SetPmin(600), EChartAxisError);
    EXPECT_EQ(m.Pmin(), 600) << "the value is stored before the axis refuses it";
    EXPECT_THROW(m.SetTmax(-5), EChartAxisError);
}

// ---- automatic pressure range ----

struct AutoScaleCase {
    const char* name;
    bool log;
    std::vector<double> readings; // one a second, the last at the end of the view
    double expectedLo, expectedHi;
};

// Each case starts from the axis [1, 2], which "keeps its last range" must leave alone.
const AutoScaleCase kAutoScale[] = {
    {"pumpDownStaysInView", false, {1e5, 3e4, 4e3, 40}, 0, 1e5 + 0.05 * (1e5 - 40)},
    {"aSpikeLateInTheRunWidensIt", false, {10, 11, 12, 10, 11, 1e6}, 0, 1e6 + 0.05 * (1e6 - 10)},
    {"aSteadyPressureGetsTenPercent", false, {50, 50, 50}, 45, 55},
    {"negativeReadingsHaveNoFloorAtZero", false, {-2, 2}, -2.2, 2.2},
    {"logWidensToOneTwoFive", true, {3e-4, 8e-2, 1.5e-5}, 1e-5, 1e-1},
    {"logLeavesOutZero", true, {0, 2e-3, 0}, 1e-3, 5e-3},
    {"logKeepsAtmosphereOffTheFrame", true, {1e5, 1e5, 2e-4}, 1e-4, 2e5},
    {"logWithOnlyZeroKeepsTheLastRange", true, {0, 0}, 1, 2},
    {"nothingInViewKeepsTheLastRange", false, {}, 1, 2},
};

class AutoScale : public ::testing::TestWithParam<AutoScaleCase> {};

TEST_P(AutoScale, theAxisSpansTheReadingsInView) {
    const AutoScaleCase& c = GetParam();
    TChartModel m(kNow);
    m.SetLogarithmic(c.log);
    m.PressureAxis().SetAutomaticLimits(1, 2);
    // An old reading far out of view must not count.
    m.AddMeasurementPoint(kNow - 3600 * kSec, 1e9);
    for (std::size_t i = 0; i < c.readings.size(); ++i)
        m.AddMeasurementPoint(kNow + (i + 1) * kSec, c.readings[i]);
    m.UpdateAutomaticRange();
    EXPECT_NEAR(m.PressureAxis().Min(), c.expectedLo, std::fabs(c.expectedLo) * 1e-9 + 1e-12);
    EXPECT_NEAR(m.PressureAxis().Max(), c.expectedHi, std::fabs(c.expectedHi) * 1e-9);
}

INSTANTIATE_TEST_SUITE_P(Cases, AutoScale, ::testing::ValuesIn(kAutoScale),
                         [](const auto& info) { return std::string(info.param.name); });

TEST(AutoScaleTimeSlider, movingTheSliderBackScalesToTheReadingsThen) {
    TChartModel m(kNow);
    for (int i = 0; i < 1200; ++i) // 10 minutes: 1000 Pa, then 1 Pa for the last 400 s
        m.AddMeasurementPoint(kNow + i * 0.5 * kSec, i < 400 ? 1000 : 1);
    m.UpdateAutomaticRange();
    EXPECT_LT(m.PressureAxis().Max(), 2) << "the last 309 s are in view";
    m.timeSlider = {610, 0, 305}; // the first half of the track: 600 s .. 300 s ago
    m.ApplyTimeSlider();
    m.UpdateAutomaticRange();
    EXPECT_GT(m.PressureAxis().Max(), 1000);
    EXPECT_GE(m.PressureAxis().Min(), 0);
}

// ---- gaps, the demonstration series, units ----

TEST(Gaps, aMissedTickBreaksTheLineAndALoneReadingStandsAlone) {
    TChartModel m(kNow);
    m.AddMeasurementPoint(kNow + 1 * kSec, 10);
    m.AddMeasurementPoint(kNow + 2 * kSec, 11);
    m.AddMissedTick(kNow + 3 * kSec);
    EXPECT_NEAR(m.TimeAxis().Max(), kNow + 3 * kSec, 1e-12) << "the time axis moves on";
    m.AddMeasurementPoint(kNow + 4 * kSec, 12);
    m.BreakLine(); // Stop and Start
    m.AddDemoPoint(kNow + 5 * kSec, 9e-7);
    m.AddMeasurementPoint(kNow + 6 * kSec, 13);
    ASSERT_EQ(m.Points().Size(), 4u) << "neither the missed tick nor the demonstration value";
    const auto& s = m.Slice(600);
    const std::vector<double> v = s.values;
    ASSERT_EQ(v.size(), 6u);
    EXPECT_EQ(v[0], 10);
    EXPECT_EQ(v[1], 11);
    EXPECT_TRUE(std::isnan(v[2]));
    EXPECT_EQ(v[3], 12);
    EXPECT_TRUE(std::isnan(v[4]));
    EXPECT_EQ(v[5], 13);
    const auto r = m.Readings(kNow, kNow + 10 * kSec);
    ASSERT_EQ(r.size(), 4u);
    EXPECT_EQ((std::vector<bool>{r[0].gapBefore, r[1].gapBefore, r[2].gapBefore, r[3].gapBefore}),
              (std::vector<bool>{false, false, true, true}));
    EXPECT_EQ(m.DemoPoints().Size(), 1u);
}

TEST(Gaps, aGapInsideAThinnedColumnIsKeptAndOutputStaysBounded) {
    TPointStore s;
    for (int i = 0; i < 100000; ++i) // a flaky line: every third reading follows a failure
        s.Add(i, 5 + i % 7, 0, i % 3 == 0);
    std::vector<double> k, v;
    TThinOptions o;
    o.xmin = 0;
    o.xmax = 100000;
    o.columns = 100;
    TThinExtremes e;
    ThinVisible(s, o, k, v, &e);
    EXPECT_LE(k.size(), 5u * 100 + 8);
    EXPECT_GT(std::count_if(v.begin(), v.end(), [](double x) { return std::isnan(x); }), 50);
    EXPECT_TRUE(std::is_sorted(k.begin(), k.end()));
    EXPECT_EQ(e.lo, 5);
    EXPECT_EQ(e.hi, 11);
}

TEST(Gaps, aLoadedFileBreaksBeyondThreeMedianStepsAndThreeSeconds) {
    const struct {
        double step, jump; // seconds
        bool gap;
    } rows[] = {{1, 4, true}, {0.5, 2, false}, {10, 25, false}, {10, 40, true}};
    for (const auto& r : rows) {
        std::vector<double> t{0, r.step, 2 * r.step, 2 * r.step + r.jump, 3 * r.step + r.jump};
        for (double& x : t)
            x *= kSec;
        TChartModel m(kNow);
        m.LoadArchive(t, {1, 2, 3, 4, 5}, t.front(), t.back());
        std::vector<bool> gaps;
        for (std::size_t i = 0; i < m.Points().Size(); ++i)
            gaps.push_back(m.Points().GapBefore(i));
        EXPECT_EQ(gaps, (std::vector<bool>{false, false, false, r.gap, false}))
            << r.step << " s, jump " << r.jump << " s";
    }
}

// Files on their real dates may lie within the live day: a Start must not carry them on into the
// run, its export or its leak rate.
TEST(Gaps, aStartAfterALoadKeepsNoneOfTheFilesReadings) {
    TChartModel m(kNow);
    const std::vector<double> t{kNow - 3600 * kSec, kNow - 3599 * kSec};
    m.LoadArchive(t, {5, 6}, t.front(), t.back());
    m.RunStarted();
    m.TrimOldPoints(kNow + kSec);
    m.AddMeasurementPoint(kNow + kSec, 7, "0001");
    const auto r = m.Readings(-1e9, 1e9);
    ASSERT_EQ(r.size(), 1u);
    EXPECT_EQ(r[0].pressure, 7);
}

TEST(Units, aUnitChangeMidRunShowsTheSamePressuresInTheNewUnit) {
    TChartModel m(kNow);
    m.AddMeasurementPoint(kNow + 1 * kSec, 100000, "0001");
    m.AddMeasurementPoint(kNow + 2 * kSec, 100000 / (101325.0 / 760), "0002"); // now in Torr
    m.AddMeasurementPoint(kNow + 3 * kSec, 5, "0003");
    EXPECT_EQ(m.DisplayUnit(), "0003");
    const auto r = m.Readings(kNow, kNow + 4 * kSec);
    ASSERT_EQ(r.size(), 3u);
    EXPECT_NEAR(r[0].pressure, 1000, 1e-9);
    EXPECT_NEAR(r[1].pressure, 1000, 1e-9);
    EXPECT_EQ(r[2].pressure, 5);
    EXPECT_TRUE(m.UnitsMixed());
    EXPECT_EQ(m.ReadingsLeftOut(), 0u);
    m.AddMeasurementPoint(kNow + 4 * kSec, 7, "0009"); // a code that names no unit
    EXPECT_EQ(m.DisplayUnit(), "0003");
    EXPECT_EQ(m.ReadingsLeftOut(), 1u);
    EXPECT_EQ(m.Readings(kNow, kNow + 5 * kSec).size(), 3u);

    TChartModel unknown(kNow); // a run in one unknown code is drawn as it is
    unknown.AddMeasurementPoint(kNow + 1 * kSec, 7, "0009");
    unknown.AddMeasurementPoint(kNow + 2 * kSec, 8, "0009");
    EXPECT_EQ(unknown.DisplayUnit(), "0009");
    EXPECT_EQ(unknown.ReadingsLeftOut(), 0u);
    EXPECT_EQ(unknown.Readings(kNow, kNow + 3 * kSec).size(), 2u);
}

// ---- start-up and the live view ----

TEST(LiveView, startsOnDayZeroSoThatTheFirstReadingMovesTheWindow) {
    TChartModel m(kNow);
    EXPECT_EQ(m.TimeAxis().Min(), kNow);
    m.FormCreate(kNow);
    EXPECT_NEAR(m.TimeAxis().Min(), 10.0 / 24, 1e-9);
    EXPECT_NEAR(m.TimeAxis().Max() - m.TimeAxis().Min(), kSec, 1e-12);
    EXPECT_TRUE(m.PressureAxis().Automatic());
    EXPECT_FALSE(m.PressureAxis().Logarithmic());
    const double t = kNow + 2 * kSec;
    m.AddMeasurementPoint(t, 1.2e-3);
    EXPECT_EQ(m.ViewEnd, t);
    EXPECT_EQ(m.ViewStart, t - TChartModel::kTenMinutes);
    EXPECT_EQ(m.PointTime, t);
    EXPECT_EQ(m.PointPressure, 1.2e-3);
    // The design geometry shows the last 308.85 s.
    EXPECT_NEAR(m.TimeAxis().Max(), t, 1e-12);
    EXPECT_NEAR((m.TimeAxis().Max() - m.TimeAxis().Min()) / kSec, 308.85, 0.01);
}

TEST(LiveView, everyLaterReadingMovesTheWindowAndAnEarlierOneDoesNot) {
    TChartModel m(kNow);
    m.FormCreate(kNow);
    for (int i = 1; i <= 5; ++i) {
        m.AddMeasurementPoint(kNow + i * kSec, i);
        EXPECT_NEAR(m.TimeAxis().Max(), kNow + i * kSec, 1e-12);
    }
    m.AddMeasurementPoint(kNow + 2.5 * kSec, 9); // the clock set back
    EXPECT_NEAR(m.TimeAxis().Max(), kNow + 5 * kSec, 1e-12);
    EXPECT_EQ(Ys(m.Points()), (std::vector<double>{1, 2, 9, 3, 4, 5}));
}

TEST(LiveView, addingAPointProcessesPendingEvents) {
    TChartModel m(kNow);
    int processed = 0;
    m.processEvents = [&] { ++processed; };
    m.AddMeasurementPoint(kNow + kSec, 1);
    EXPECT_EQ(processed, 1);
}

// ---- slider arithmetic ----

TEST(TimeSlider, aSliderAtTheLeftEndWithHalfTheTrackShows600To300Seconds) {
    TChartModel m(kNow);
    m.ViewEnd = kNow;
    m.timeSlider = {610, 0, 305};
    m.ApplyTimeSlider();
    EXPECT_NEAR((kNow - m.TimeAxis().Min()) / kSec, 600, 1e-6);
    EXPECT_NEAR((kNow - m.TimeAxis().Max()) / kSec, 300, 1e-6);
    EXPECT_NEAR(m.Tmin() / kSec, 600, 1e-6);
}

TEST(TimeSlider, theWholeTrackShowsTheFullTenMinutes) {
    TChartModel m(kNow);
    m.ViewEnd = kNow;
    m.timeSlider = {610, 0, 610};
    m.ApplyTimeSlider();
    EXPECT_NEAR((m.TimeAxis().Max() - m.TimeAxis().Min()) / kSec, 600, 1e-6);
    EXPECT_EQ(m.Tmax(), 0);
}

TEST(TimeSlider, theLoadedViewAlwaysShowsTheWholeFile) {
    TChartModel m(kNow);
    m.LoadedView = true;
    m.ViewStart = 0.25;
    m.ViewEnd = 0.5;
    for (TTimeSliderGeometry g :
         {TTimeSliderGeometry{610, 0, 10}, TTimeSliderGeometry{610, 300, 100}}) {
        m.timeSlider = g;
        m.ApplyTimeSlider();
        EXPECT_EQ(m.TimeAxis().Min(), 0.25);
        EXPECT_EQ(m.TimeAxis().Max(), 0.5);
    }
    m.ViewStart = m.ViewEnd = 0.4; // a file with one valid line
    m.ApplyTimeSlider();
    EXPECT_EQ(m.TimeAxis().Max(), 0.4 + 1e-10);
}

TEST(PressureSlider, atTheBottomOfTheTrackTheRangeStartsAtZero) {
    TChartModel m(kNow);
    m.pressureSlider = {400, 400 - 152, 152};
    m.ApplyPressureSlider();
    const double R = 120000.0 - 1e-9;
    EXPECT_EQ(m.Pmin(), 0);
    EXPECT_NEAR(m.Pmax(), R * 152 / 400, 1e-6);
    EXPECT_FALSE(m.PressureAxis().Automatic());
    EXPECT_EQ(m.PressureAxis().Min(), m.Pmin());
}

TEST(PressureSlider, theDesignPlaceGivesAbout74400To120000AndRepeatsChangeNothing) {
    TChartModel m(kNow);
    m.pressureSlider = {400, 0, 152};
    m.ApplyPressureSlider();
    EXPECT_NEAR(m.Pmin(), 74400, 1);
    EXPECT_NEAR(m.Pmax(), 120000, 1e-6);
    int changes = 0;
    m.changed = [&] { ++changes; };
    m.ApplyPressureSlider();
    EXPECT_EQ(changes, 0);
}

TEST(PressureSlider, onALogAxisTheTrackSpansEveryDecadeFrom1Em9To1_2E5) {
    TChartModel m(kNow);
    m.SetLogarithmic(true);
    struct {
        TPressureSliderGeometry g;
        double lo, hi;
    } const rows[] = {
        {{400, 400 - 20, 20}, 1e-9, std::pow(10.0, -9 + std::log10(1.2e14) / 20)},
        {{400, 0, 20}, std::pow(10.0, std::log10(1.2e5) - std::log10(1.2e14) / 20), 1.2e5},
        {{400, 0, 400}, 1e-9, 1.2e5},
    };
    for (const auto& r : rows) {
        m.pressureSlider = r.g;
        m.SetAutoScale(false);
        EXPECT_NEAR(m.Pmin() / r.lo, 1, 1e-9) << r.g.top;
        EXPECT_NEAR(m.Pmax() / r.hi, 1, 1e-9) << r.g.top;
    }
    m.SetLogarithmic(false); // back on the linear mapping at once
    EXPECT_NEAR(m.Pmax(), 120000, 1e-6);
    EXPECT_EQ(m.Pmin(), 0);
}

TEST(PressureSlider, switchingAutomaticScalingOffAppliesTheSliderAtOnce) {
    TChartModel m(kNow);
    m.SetAutoScale(false);
    EXPECT_FALSE(m.PressureAxis().Automatic());
    EXPECT_NEAR(m.PressureAxis().Min(), 74400, 1);
    m.SetAutoScale(true);
    EXPECT_TRUE(m.PressureAxis().Automatic());
}

TEST(PressureSlider, everySwitchOffOfAutomaticScalingPutsTheAxisOnPminPmax) {
    TChartModel m(kNow);
    for (int pass = 0; pass < 2; ++pass) {
        m.SetAutoScale(true);
        for (int i = 1; i <= 3; ++i)
            m.AddMeasurementPoint(kNow + (pass * 3 + i) * kSec, i);
        m.UpdateAutomaticRange();
        ASSERT_NEAR(m.PressureAxis().Max(), 3.1, 1e-12) << "pass " << pass;
        m.SetAutoScale(false);
        EXPECT_FALSE(m.PressureAxis().Automatic()) << "pass " << pass;
        EXPECT_EQ(m.PressureAxis().Min(), m.Pmin()) << "pass " << pass;
        EXPECT_EQ(m.PressureAxis().Max(), m.Pmax()) << "pass " << pass;
    }
}

// ---- labels ----

TEST(Labels, timeOfDay) {
    EXPECT_EQ(FormatTimeLabel(MakeDateTime(2026, 12, 7, 9, 5, 7)), "09:05:07");
    EXPECT_EQ(FormatTimeLabel(0.5), "12:00:00");
    EXPECT_EQ(FormatTimeLabel(MakeDateTime(2026, 1, 1, 23, 59, 59, 400)), "23:59:59");
    EXPECT_EQ(FormatTimeLabel(10.0 / 24 - 1e-12), "10:00:00");
}

TEST(Labels, dateAndTimeOnlyForALoadedViewOnRealDatesOverSeveralDays) {
    EXPECT_EQ(FormatDateTimeLabel(MakeDateTime(2024, 2, 29, 9, 5, 7)), "29.02 09:05");
    EXPECT_EQ(FormatDateTimeLabel(MakeDateTime(2025, 12, 31, 23, 59, 59, 600)), "01.01 00:00");
    // The readout's date is that of the second shown: 23:59:59.9996 is the next day's 00:00:00.
    EXPECT_EQ(FormatReadoutTime(MakeDateTime(2026, 12, 8) - 0.0004 * kSec, true), "08.12 00:00:00");
    const struct {
        bool loaded, dated;
        double from, to;
        bool withDate;
    } rows[] = {
        {true, true, MakeDateTime(2026, 12, 7, 23), MakeDateTime(2026, 12, 8, 1), true},
        {true, true, MakeDateTime(2026, 12, 7, 1), MakeDateTime(2026, 12, 7, 23), false},
        {true, false, 0.9, 1.1, false}, // day 0 and the next: no real date to show
        {false, true, MakeDateTime(2026, 12, 7, 23), MakeDateTime(2026, 12, 8, 1), false},
    };
    for (const auto& r : rows) {
        TChartModel m(0);
        m.LoadedView = r.loaded;
        m.LoadedDates = r.dated;
        m.ViewStart = r.from;
        m.ViewEnd = r.to;
        EXPECT_EQ(m.TimeLabelsWithDate(), r.withDate) << r.from << " " << r.to;
    }
}

// A ratio of two-digit readings claims two digits, never "×45478".
TEST(Labels, ratioCarriesTwoSignificantDigits) {
    const std::pair<double, const char*> rows[] = {
        {45478.3, "4.5E+4"}, {2, "2"},         {1.849, "1.8"},
        {0.55, "0.55"},      {10.4, "1.0E+1"}, {0.00301, "3.0E-3"},
        {1.2e12, "1.2E+12"},
    };
    for (const auto& [ratio, text] : rows)
        EXPECT_EQ(FormatRatio(ratio), text) << ratio;
}

TEST(Labels, pressure) {
    EXPECT_EQ(FormatPressureLabel(120000), "1.2E5");
    EXPECT_EQ(FormatPressureLabel(0.00125), "1.25E-3");
    EXPECT_EQ(FormatPressureLabel(1000), "1E3");
    EXPECT_EQ(FormatPressureLabel(1), "1E0");
    EXPECT_EQ(FormatPressureLabel(0.5), "5E-1");
    EXPECT_EQ(FormatPressureLabel(1.23456e-7), "1.235E-7");
    EXPECT_EQ(FormatPressureLabel(-2500), "-2.5E3");
    EXPECT_EQ(FormatPressureLabel(0), "0E0");
}

// ---- the slice fed to the plot ----

TEST(Thinning, aLongSliceKeepsEachColumnsExtremesAndTheEdgeNeighbours) {
    TPointStore s;
    for (int i = 0; i < 10000; ++i)
        s.Add(i, std::sin(i * 0.01) + (i == 5000 ? 50 : 0));
    std::vector<double> k, v;
    TThinOptions o;
    o.xmin = 1000;
    o.xmax = 9000;
    o.columns = 100;
    ThinVisible(s, o, k, v);
    EXPECT_LE(k.size(), 2u * 100 + 4);
    EXPECT_EQ(k.front(), 999) << "one neighbour left of the view";
    EXPECT_EQ(k.back(), 9001) << "and one right of it";
    EXPECT_EQ(*std::max_element(v.begin(), v.end()), std::sin(50.0) + 50)
        << "a one-point spike survives";
    EXPECT_TRUE(std::is_sorted(k.begin(), k.end()));
}

TEST(Thinning, aShortSliceIsCopiedAndLogLeavesOutNonPositivePoints) {
    TPointStore s;
    s.Assign({1, 2, 3, 4, 5}, {1, 0, -1, 2, 3});
    std::vector<double> k, v;
    TThinOptions o{1.5, 4.5, 500, false, 10.0};
    ThinVisible(s, o, k, v);
    EXPECT_EQ(k, (std::vector<double>{10, 20, 30, 40, 50}));
    o.logarithmic = true;
    ThinVisible(s, o, k, v);
    EXPECT_EQ(v, (std::vector<double>{1, 2, 3})) << "never drawn as a drop";
}

TEST(TimeLabels, theTickStepIsAWholeMultipleOfWhatTheLabelsTellApart) {
    EXPECT_EQ(DistinctTimeLabelStep(2.5, kSecondLabels), 3);
    EXPECT_EQ(DistinctTimeLabelStep(30, kMinuteLabels), 60);
    EXPECT_EQ(DistinctTimeLabelStep(150, kMinuteLabels), 180);
    EXPECT_EQ(DistinctTimeLabelStep(60.0000001, kMinuteLabels), 60) << "arithmetic's dust";
}
