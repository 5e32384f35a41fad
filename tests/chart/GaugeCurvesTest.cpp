// Several gauges on one chart: the screen's rules hold per curve, one display unit for all,
// and automatic scaling spans every gauge's readings in view.
#include "ChartModel.h"
#include "DateTime.h"

#include <gtest/gtest.h>

#include <cmath>
#include <functional>

using namespace vg57;

namespace {

const double kT = MakeDateTime(2026, 12, 7, 10, 0, 0);
double At(int s) {
    return kT + s * kOneSecond;
}
constexpr double kBreak = NAN;

struct CurvesCase {
    const char* name;
    std::function<void(TChartModel&)> feed;  // gauges 1, 2, 5 are set first
    std::vector<std::vector<double>> values; // per gauge, as drawn; NaN: a break
    const char* displayUnit;
};

const CurvesCase kCases[] = {
    {"eachCurveBreaksAtItsOwnFailures",
     [](TChartModel& m) {
         m.AddGaugeReading(0, At(1), 1, "0001");
         m.AddGaugeReading(1, At(1), 10, "0001");
         m.AddGaugeMissedTick(1, At(2));
         m.AddGaugeReading(0, At(2), 2, "0001");
         m.AddGaugeReading(1, At(3), 30, "0001");
     },
     {{1, 2}, {10, kBreak, 30}, {}},
     "0001"},
    {"otherGaugesAreConvertedAndNeverChangeTheDisplayUnit",
     [](TChartModel& m) {
         m.AddGaugeReading(0, At(1), 100, "0001");
         m.AddGaugeReading(1, At(1), 2, "0003"); // mbar: 200 Pa
         m.AddGaugeReading(2, At(1), 5, "9999"); // no unit: left out, never as bare 5 Pa
         m.AddGaugeReading(2, At(2), 3, "0001");
     },
     {{100}, {200}, {3}},
     "0001"},
    {"demonstrationValuesBreakEveryCurveAndJoinNone",
     [](TChartModel& m) {
         m.AddGaugeReading(0, At(1), 1, "0001");
         m.AddGaugeReading(1, At(1), 5, "0001");
         m.AddDemoPoint(At(2), 777);
         m.BreakLine();
         m.AddGaugeReading(0, At(3), 3, "0001");
         m.AddGaugeReading(1, At(3), 6, "0001");
     },
     {{1, kBreak, 3}, {5, kBreak, 6}, {}},
     "0001"},
    {"choosingAGaugeMovesNoReadingToAnotherCurve",
     [](TChartModel& m) {
         m.AddGaugeReading(0, At(1), 1, "0001");
         m.AddGaugeReading(2, At(1), 50, "0001");
         m.ChooseGauge(2);
         m.AddGaugeReading(0, At(2), 2, "0001");
         m.AddGaugeReading(2, At(2), 60, "0003"); // the chosen gauge sets the unit: mbar
         m.ChooseGauge(1);
     },
     {{0.01, 0.02}, {}, {0.5, 60}},
     "0003"},
};

void PrintTo(const CurvesCase& c, std::ostream* os) {
    *os << c.name;
}

class Curves : public ::testing::TestWithParam<CurvesCase> {};

TEST_P(Curves, eachGaugeDrawsItsOwnReadingsInTheDisplayUnit) {
    const CurvesCase& c = GetParam();
    TChartModel m(kT);
    m.SetGauges({1, 2, 5});
    c.feed(m);
    m.TimeAxis().SetBoth(At(0), At(10));
    m.Slice(600);
    EXPECT_EQ(m.DisplayUnit(), c.displayUnit);
    double lo = INFINITY, hi = -INFINITY;
    for (std::size_t k = 0; k < 3; ++k) {
        const std::vector<double>& got = m.GaugeSlice(k).values;
        ASSERT_EQ(got.size(), c.values[k].size()) << "gauge " << k;
        for (std::size_t i = 0; i < got.size(); ++i) {
            if (std::isnan(c.values[k][i])) {
                EXPECT_TRUE(std::isnan(got[i])) << "gauge " << k << " entry " << i;
                continue;
            }
            EXPECT_DOUBLE_EQ(got[i], c.values[k][i]) << "gauge " << k << " entry " << i;
            lo = std::min(lo, got[i]);
            hi = std::max(hi, got[i]);
        }
    }
    EXPECT_LE(m.PressureAxis().Min(), lo) << "automatic scaling spans every gauge";
    EXPECT_GE(m.PressureAxis().Max(), hi);
}

INSTANTIATE_TEST_SUITE_P(Cases, Curves, ::testing::ValuesIn(kCases),
                         [](const auto& info) { return std::string(info.param.name); });

TEST(Curves, aSingleGaugeKeepsItsReadingsWhenItsAddressIsSetAndLosesNoneToATrim) {
    TChartModel m(kT);
    m.AddMeasurementPoint(At(1), 1, "0001");
    m.SetGauges({3});
    EXPECT_EQ(m.Points().Size(), 1u);
    m.SetGauges({3, 4});
    m.AddGaugeReading(1, At(2), 2, "0001");
    m.TWindow = 1.5 * kOneSecond;
    m.TrimOldPoints(At(3));
    EXPECT_EQ(m.Points().Size(), 0u) << "the window's trim holds for every curve";
    EXPECT_EQ(m.GaugePoints(1).Size(), 1u);
    EXPECT_EQ(m.GaugeIndex(4), 1u);
    EXPECT_EQ(m.GaugeIndex(7), 2u);
}

} // namespace
