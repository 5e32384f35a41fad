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
    m.Points().Assign({0.1, 0.2, 0.3}, {5, -2, 7}); // a loaded file with a negative pressure
    try {
        m.SetLogarithmic(true);
        FAIL();
    } catch (const EChartAxisError& e) {
        EXPECT_STREQ(e.what(), "Logarithmic Axis Min and Max values should be >= 0");
    }
    EXPECT_FALSE(m.PressureAxis().Logarithmic());
    m.Points().Assign({0.1}, {5});
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

TEST(AutoScale, onlyTheFirstFortyPointsInTimeOrderCount) {
    TChartModel m(kNow);
    for (int i = 1; i <= 40; ++i)
        m.AddMeasurementPoint(kNow + i * kSec, i);
    EXPECT_EQ(m.PressureAxis().Min(), 1);
    EXPECT_EQ(m.PressureAxis().Max(), 40);
    m.AddMeasurementPoint(kNow + 41 * kSec, 1e6); // a spike after the 40th point
    EXPECT_EQ(m.PressureAxis().Max(), 40);
    m.TWindow = 1.5 * kSec;
    m.TrimOldPoints(kNow + 3 * kSec); // the oldest go; the spike moves into the first 40
    EXPECT_EQ(m.PressureAxis().Max(), 1e6);
    EXPECT_EQ(m.PressureAxis().Min(), 2);
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
        ASSERT_EQ(m.PressureAxis().Max(), 3) << "pass " << pass;
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
