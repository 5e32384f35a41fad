// The chart widget offscreen: what it draws after a unit change, around gaps, and for the
// demonstration values.
#include "ChartArea.h"
#include "CurveImage.h"
#include "DateTime.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <functional>

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

namespace {

// Four gauges measuring live, each row breaking a rule of the screen on the way; the image that
// the ticks moved and drew in part must show what a chart drawing everything afresh shows.
struct LiveCase {
    const char* name;
    // Gauge k's tick i: a reading (true) or a failure (false); may also act on the model.
    std::function<bool(TChartModel&, std::size_t k, int i)> tick;
    bool drawnInPart;           // most ticks keep the image
    bool thinnedInPart = false; // most ticks keep the thinned columns of every gauge
};

// Before the first tick: several readings a pixel column for nine minutes, so that the slices
// are thinned, and readings that stay in view (the columns kept then leave at the left). They end
// a few columns before the first tick: the ticks' readings lie on the columns' edges, where a grid
// kept from an earlier tick and a fresh one may put a reading in either column, which matters
// only in a column of several readings.
bool DenseHistory(TChartModel& m, std::size_t k, int i) {
    if (i == 0) {
        m.TWindow = 2 * TChartModel::kTenMinutes;
        for (int j = 0; j < 3000; ++j) {
            const double t = kNow - 545 * kOneSecond + j * 0.18 * kOneSecond;
            if (k == 2 && j % 700 < 5) {
                m.AddGaugeMissedTick(k, t);
                continue;
            }
            m.AddGaugeReading(k, t, 1 + k + 0.8 * std::sin(j * 0.01 + k) + 0.3 * std::sin(j * 1.3),
                              "0001");
        }
    }
    return k != 2 || i < 40 || i > 43;
}

const LiveCase kLiveCases[] = {
    {"steadyReadings", [](TChartModel&, std::size_t, int) { return true; }, true},
    {"aGaugeFailsAndComesBack",
     [](TChartModel&, std::size_t k, int i) { return k != 2 || i < 40 || i > 43; }, true},
    {"aLoneReadingIsADotUntilJoined",
     [](TChartModel&, std::size_t k, int i) {
         // Gauge 3 alone at 51, and gauge 1's newest reading alone at the end.
         return !(k == 3 && (i == 50 || i == 52)) && !(k == 1 && i == 97);
     },
     true},
    {"theClockSetBack",
     [](TChartModel& m, std::size_t k, int i) {
         if (k == 0 && i == 70) m.AddGaugeReading(0, m.PointTime - 30 * kOneSecond, 3.5, "0001");
         return true;
     },
     true},
    {"aUnitChange",
     [](TChartModel& m, std::size_t k, int i) {
         if (k == 0 && i == 60) m.SetDisplayUnit("0003");
         return true;
     },
     true},
    {"thinnedColumnsKeptAsTheViewMoves", DenseHistory, true, true},
    {"thinnedColumnsDroppedOnAUnitChange",
     [](TChartModel& m, std::size_t k, int i) {
         // After the chosen gauge's reading: one tick drawn in that unit, until its next reading.
         if (k == 3 && i == 60) m.SetDisplayUnit("0003");
         return DenseHistory(m, k, i);
     },
     true, true},
};

void PrintTo(const LiveCase& c, std::ostream* os) {
    *os << c.name;
}

class LiveImage : public ::testing::TestWithParam<LiveCase> {};

QImage Shot(TPressureChart& chart) {
    chart.Refresh(true);
    return chart.grab().toImage().convertToFormat(QImage::Format_ARGB32);
}

TEST_P(LiveImage, theMovedImageShowsWhatAFreshDrawingShows) {
    const LiveCase& c = GetParam();
    TChartModel model(kNow);
    model.SetGauges({1, 2, 3, 5});
    model.SetAutoScale(false);
    model.PressureAxis().SetBoth(0, 8);
    model.timeSlider = {610, 0, 610};
    model.TWindow = 0.9 * TChartModel::kTenMinutes; // readings leave inside the view
    TPressureChart chart(model);
    chart.resize(640, 420);
    chart.show();
    chart.Refresh(true);
    double step = 0;
    for (int i = 0; i < 100; ++i) {
        const double now = kNow + i * step;
        model.TrimOldPoints(now);
        for (std::size_t k = 0; k < 4; ++k) {
            if (c.tick(model, k, i))
                model.AddGaugeReading(k, now, 1 + k + 0.8 * std::sin(i * 0.7 + k), "0001");
            else
                model.AddGaugeMissedTick(k, now);
        }
        chart.Refresh(true);
        // Two pixels a tick, once the first readings have laid the axes out: the moved image
        // and a fresh one then lie on the same pixels.
        if (i == 0) step = 2 * TChartModel::kTenMinutes / chart.axisRect()->width();
    }
    const QImage moved = Shot(chart);
    if (c.drawnInPart) {
        EXPECT_GT(chart.Curves().PartialDrawings(), 80u);
    }
    if (c.thinnedInPart) {
        for (std::size_t k = 0; k < 4; ++k)
            EXPECT_GT(model.GaugeSlice(k).kept.partial, 80u) << "gauge " << k;
    }
    TPressureChart fresh(model);
    fresh.resize(640, 420);
    fresh.show();
    const QImage afresh = Shot(fresh);
    ASSERT_EQ(moved.size(), afresh.size());
    int differing = 0, drawn = 0;
    for (int y = 0; y < moved.height(); ++y) {
        for (int x = 0; x < moved.width(); ++x) {
            const QRgb a = moved.pixel(x, y), b = afresh.pixel(x, y);
            drawn += b != qRgb(255, 255, 255);
            // Antialiasing of the same line drawn from other origins differs a little.
            differing += std::max({std::abs(qRed(a) - qRed(b)), std::abs(qGreen(a) - qGreen(b)),
                                   std::abs(qBlue(a) - qBlue(b))}) > 48;
        }
    }
    EXPECT_GT(drawn, 2000);
    EXPECT_EQ(differing, 0) << "of " << drawn << " drawn pixels";
}

INSTANTIATE_TEST_SUITE_P(Cases, LiveImage, ::testing::ValuesIn(kLiveCases),
                         [](const auto& info) { return std::string(info.param.name); });

} // namespace
