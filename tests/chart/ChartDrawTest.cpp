// The chart widget offscreen: what it draws after a unit change, around gaps, and for the
// demonstration values.
#include "ChartArea.h"
#include "DateTime.h"

#include <gtest/gtest.h>

#include <cmath>

using namespace vg57;

namespace {

const double kNow = MakeDateTime(2026, 12, 7, 10, 0, 0);

std::vector<double> Values(const QCPGraph* g) {
    std::vector<double> v;
    for (auto it = g->data()->constBegin(); it != g->data()->constEnd(); ++it)
        v.push_back(it->value);
    return v;
}

struct ChartDraw : ::testing::Test {
    ChartDraw() : model(kNow), area(model) { area.show(); }
    TPressureChart* Chart() { return area.Chart1(); }
    TChartModel model;
    TChartArea area;
};

} // namespace

TEST_F(ChartDraw, aUnitChangeRedrawsTheSamePressuresUnderTheNewUnitsTitle) {
    model.AddMeasurementPoint(kNow + kOneSecond, 100000, "0001");
    model.AddMeasurementPoint(kNow + 2 * kOneSecond, 100000, "0001");
    Chart()->Refresh(true);
    EXPECT_EQ(Chart()->yAxis->label(), QStringLiteral("Па"));
    model.AddMeasurementPoint(kNow + 3 * kOneSecond, 750.0616, "0002"); // Torr chosen mid-run
    Chart()->Refresh(true);
    EXPECT_EQ(Chart()->yAxis->label(), QStringLiteral("Торр"));
    for (double v : Values(Chart()->Readings()))
        EXPECT_NEAR(v, 750.0616, 1e-3) << "no false drop from 100000 to 750";
    EXPECT_LT(Chart()->yAxis->range().upper, 1000);
    EXPECT_GT(Chart()->yAxis->range().upper, 750.0616);
}

TEST_F(ChartDraw, loneReadingsAreDotsAndDemonstrationValuesStayOutOfTheReadings) {
    model.AddMeasurementPoint(kNow + 1 * kOneSecond, 5);
    model.AddMissedTick(kNow + 2 * kOneSecond);
    model.AddMeasurementPoint(kNow + 3 * kOneSecond, 6);
    model.AddDemoPoint(kNow + 4 * kOneSecond, 5.2);
    model.AddDemoPoint(kNow + 5 * kOneSecond, 5.3);
    Chart()->Refresh(true);
    EXPECT_EQ(Values(Chart()->LoneReadings()), (std::vector<double>{5, 6}));
    EXPECT_EQ(Chart()->Demonstration()->dataCount(), 2);
    EXPECT_EQ(Chart()->Demonstration()->pen().style(), Qt::DashLine);
    EXPECT_TRUE(Chart()->legend->visible());
    EXPECT_EQ(Chart()->legend->itemCount(), 1);
    model.AddDemoPoint(kNow + 6 * kOneSecond, 9e-7);
    model.AddDemoPoint(kNow + 7 * kOneSecond, 9.1e-7);
    model.TWindow = 0;
    model.TrimOldPoints(kNow + 5.5 * kOneSecond); // only the demonstration values below 1E-6
    Chart()->Refresh(true);
    EXPECT_GT(Chart()->yAxis->range().lower, 4) << "the demonstration values never scale the axis";
    EXPECT_FALSE(Chart()->legend->visible()) << "no legend for a line off the axis";
}

// The gauge answered at last: once the demonstration values have left the time axis, the
// legend no longer names them, although the line's neighbour beyond the edge is still fed.
TEST_F(ChartDraw, theDemonstrationLeavesTheLegendWithItsLastValueOutOfView) {
    int changes = 0;
    Chart()->onDemoInViewChanged = [&] { ++changes; };
    model.AddDemoPoint(kNow + kOneSecond, 5.1);
    model.AddDemoPoint(kNow + 2 * kOneSecond, 5.2);
    for (int s = 3; s < 60; s += 10)
        model.AddMeasurementPoint(kNow + s * kOneSecond, 5);
    Chart()->Refresh(true);
    EXPECT_TRUE(Chart()->DemoInView());
    EXPECT_TRUE(Chart()->legend->visible());
    for (int s = 60; s < 900; s += 10) // the view trails the newest reading by ten minutes
        model.AddMeasurementPoint(kNow + s * kOneSecond, 5);
    Chart()->Refresh(true);
    EXPECT_GE(Chart()->Demonstration()->dataCount(), 1) << "the edge's neighbour is still fed";
    EXPECT_FALSE(Chart()->DemoInView());
    EXPECT_FALSE(Chart()->legend->visible());
    EXPECT_EQ(changes, 2);
}
