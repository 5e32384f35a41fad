// The reference curve in the chart's model: where it is laid, what it reads, and that it never
// becomes one of the readings.
#include "ChartModel.h"
#include "DateTime.h"
#include "PressureUnit.h"

#include <gtest/gtest.h>

using namespace vg57;

namespace {
constexpr double kSec = kOneSecond;
const double kNow = MakeDateTime(2026, 12, 7, 10, 0, 0);
const double kOld = MakeDateTime(2026, 11, 1, 9, 0, 0); // when the reference was recorded

// 1000, 10 and 0.1 Pa ten seconds apart: a pump-down of two decades per step.
std::string Lay(TChartModel& m, const std::vector<std::string>& codes = {"0001"},
                std::vector<std::uint8_t> units = {0, 0, 0}) {
    return m.SetReference({kOld, kOld + 10 * kSec, kOld + 20 * kSec}, {1000, 10, 0.1}, units,
                          codes);
}
} // namespace

TEST(ReferenceCurve, isLaidAtTheRunsFirstReadingAndMovesWithRunsAndTheMenu) {
    TChartModel m(kNow);
    ASSERT_EQ(Lay(m), "");
    EXPECT_EQ(m.Reference().Origin(), m.TimeAxis().Min()) << "no run yet";

    m.RunStarted();
    m.AddMissedTick(kNow + 1 * kSec); // a failed tick is no reading
    EXPECT_EQ(m.Reference().Origin(), m.TimeAxis().Min());
    m.AddMeasurementPoint(kNow + 2 * kSec, 500, "0001");
    m.AddMeasurementPoint(kNow + 3 * kSec, 400, "0001");
    EXPECT_EQ(m.Reference().Origin(), kNow + 2 * kSec);
    EXPECT_NEAR(*m.Reference().PressureAt(kNow + 7 * kSec), 100, 1e-6) << "between 1000 and 10";
    EXPECT_FALSE(m.Reference().PressureAt(kNow + 1 * kSec));
    EXPECT_FALSE(m.Reference().PressureAt(kNow + 23 * kSec));

    // Its values follow the display unit as the readings' do.
    m.AddMeasurementPoint(kNow + 4 * kSec, 3, "0002");
    EXPECT_NEAR(*m.Reference().PressureAt(kNow + 2 * kSec), 1000 / kPascalsPerTorr, 1e-9);

    m.MoveReference(kNow + 60 * kSec);
    EXPECT_EQ(m.Reference().Origin(), kNow + 60 * kSec);
    m.RunStarted();
    m.AddMeasurementPoint(kNow + 90 * kSec, 2, "0002");
    EXPECT_EQ(m.Reference().Origin(), kNow + 90 * kSec) << "a new run aligns it again";
}

TEST(ReferenceCurve, neverEntersTheAutomaticRangeOrTheReadings) {
    for (const bool log : {false, true}) {
        TChartModel m(kNow);
        m.SetLogarithmic(log);
        m.RunStarted();
        for (int i = 0; i < 30; ++i)
            m.AddMeasurementPoint(kNow + i * kSec, 1e-3 * (1 + i % 3), "0001");
        m.Slice(600);
        const double lo = m.PressureAxis().Min(), hi = m.PressureAxis().Max();
        ASSERT_EQ(Lay(m), "");
        m.Slice(600);
        EXPECT_EQ(m.PressureAxis().Min(), lo) << log;
        EXPECT_EQ(m.PressureAxis().Max(), hi) << log;
        EXPECT_EQ(m.Readings(0, 1e9).size(), 30u);
    }
}

TEST(ReferenceCurve, anUnknownUnitIsRefusedAndTheCurveHeldBeforeIsKept) {
    TChartModel m(kNow);
    ASSERT_EQ(Lay(m, {"0002"}), ""); // its unit becomes the display unit: none was set
    EXPECT_EQ(Lay(m, {"0001", "0007"}, {0, 1, 0}), "0007");
    EXPECT_EQ(Lay(m, {"0001"}, {0, 0, 100}), "?"); // past the loader's table of codes
    EXPECT_NEAR(*m.Reference().PressureAt(m.Reference().Origin()), 1000, 1e-9)
        << "the curve held before";
}
