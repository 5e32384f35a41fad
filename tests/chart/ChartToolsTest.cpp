// The chart's tools on the real plot offscreen: Shift+drag selects a time interval that keeps
// its times when the view moves, a plain drag does not, and the readout names the nearest
// reading but not a gap.
#include "ChartTools.h"
#include "ChartModel.h"
#include "DateTime.h"
#include "PressureChart.h"

#include <QLabel>
#include <QTest>

#include <gtest/gtest.h>

using namespace vg57;

namespace {

class ChartTools : public testing::Test {
protected:
    void SetUp() override {
        // Readings every second from 10:00:00 to 10:00:59, then a gap to 10:02:00.
        std::vector<double> t, p;
        for (int i = 0; i < 60; ++i) {
            t.push_back(start + i * kOneSecond);
            p.push_back(1e-3 + i * 1e-5);
        }
        t.push_back(start + 120 * kOneSecond);
        p.push_back(2e-3);
        model.SetDisplayUnit("0001");
        model.LoadArchive(t, p, t.front(), t.back());
        chart.resize(700, 400);
        chart.show();
        chart.Refresh(true);
    }
    int X(double t) const {
        return int(std::lround(chart.xAxis->coordToPixel(t * kSecondsPerDay)));
    }
    int Y() const { return chart.axisRect()->center().y(); }

    const double start = MakeDateTime(2026, 12, 7, 10, 0, 0);
    TChartModel model{start};
    TPressureChart chart{model};
    TChartTools tools{chart, model};
};

TEST_F(ChartTools, shiftDragSelectsAnIntervalThatKeepsItsTimesWhenTheViewMoves) {
    QTest::mouseMove(&chart, QPoint(X(start + 10 * kOneSecond), Y()));
    QTest::mousePress(&chart, Qt::LeftButton, Qt::ShiftModifier,
                      QPoint(X(start + 10 * kOneSecond), Y()));
    QTest::mouseMove(&chart, QPoint(X(start + 30 * kOneSecond), Y()));
    QTest::mouseRelease(&chart, Qt::LeftButton, Qt::ShiftModifier,
                        QPoint(X(start + 30 * kOneSecond), Y()));
    const auto s = tools.Selection();
    ASSERT_TRUE(s);
    const double pixel = (model.TimeAxis().Max() - model.TimeAxis().Min()) / 500;
    EXPECT_NEAR(s->first, start + 10 * kOneSecond, pixel);
    EXPECT_NEAR(s->second, start + 30 * kOneSecond, pixel);

    model.TimeAxis().SetBoth(start + 20 * kOneSecond, start + 100 * kOneSecond);
    chart.Refresh(true);
    EXPECT_EQ(tools.Selection(), s);
    tools.ClearSelection();
    EXPECT_FALSE(tools.Selection());

    // A plain drag is the plot's, and selects nothing.
    QTest::mousePress(&chart, Qt::LeftButton, {}, QPoint(X(start + 30 * kOneSecond), Y()));
    QTest::mouseRelease(&chart, Qt::LeftButton, {}, QPoint(X(start + 50 * kOneSecond), Y()));
    EXPECT_FALSE(tools.Selection());
    // After "Выделить интервал" it selects.
    tools.ArmSelection();
    QTest::mousePress(&chart, Qt::LeftButton, {}, QPoint(X(start + 30 * kOneSecond), Y()));
    QTest::mouseRelease(&chart, Qt::LeftButton, {}, QPoint(X(start + 50 * kOneSecond), Y()));
    EXPECT_TRUE(tools.Selection());
}

TEST_F(ChartTools, readoutNamesTheNearestReadingButNotAGap) {
    tools.UpdateReadout(QPoint(X(start + 20.2 * kOneSecond), Y()));
    EXPECT_TRUE(tools.Readout()->isVisible());
    EXPECT_EQ(tools.Readout()->text(), QStringLiteral("10:00:20   0.0012 Па"));
    // Shown in the display unit, as the axis is.
    model.SetDisplayUnit("0003");
    tools.UpdateReadout(QPoint(X(start + 20.2 * kOneSecond), Y()));
    EXPECT_EQ(tools.Readout()->text(), QStringLiteral("10:00:20   1.2E-5 мбар"));
    tools.UpdateReadout(QPoint(X(start + 90 * kOneSecond), Y()));
    EXPECT_FALSE(tools.Readout()->isVisible());
    // Loaded files on their dates over more than one day: the readout names the date too.
    model.LoadedView = model.LoadedDates = true;
    model.ViewEnd = start + 1.5;
    tools.UpdateReadout(QPoint(X(start + 20.2 * kOneSecond), Y()));
    EXPECT_EQ(tools.Readout()->text(), QStringLiteral("07.12 10:00:20   1.2E-5 мбар"));
}

} // namespace
