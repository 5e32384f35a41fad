// The set point lines and "Показать всё" on the real chart area offscreen.
#include "ChartArea.h"
#include "DateTime.h"

#include <QMenu>
#include <QTest>
#include <gtest/gtest.h>

using namespace vg57;

namespace {

const double kNow = MakeDateTime(2026, 12, 7, 10, 0, 0);

struct Overlay : ::testing::Test {
    Overlay() : model(kNow), area(model) {
        model.FormCreate(kNow);
        area.show();
    }
    // Set point i as drawn now: its value on the axis, or none when not drawn.
    std::optional<double> Drawn(int i) {
        area.Chart1()->Refresh(true);
        TSetPointLines& s = *area.SetPoints();
        EXPECT_EQ(s.Line(i)->visible(), s.Label(i)->visible());
        if (!s.Line(i)->visible()) return std::nullopt;
        EXPECT_EQ(s.Label(i)->text(), QStringLiteral("SP%1").arg(i / 2 + 1));
        return s.Line(i)->start->coords().y();
    }
    void Trigger(const QString& entry) {
        for (QAction* a : area.Chart1()->PopupMenu()->actions())
            if (a->text() == entry) return a->trigger();
        FAIL() << "no entry " << entry.toStdString();
    }
    TChartModel model;
    TChartArea area;
};

TEST_F(Overlay, setPointsAreConvertedIntoTheDisplayUnitAndOffOrOutsideAreNotDrawn) {
    model.AddMeasurementPoint(kNow + kOneSecond, 300, "0001");
    area.SetAutoScale(false);
    model.PressureAxis().SetBoth(0, 1000);
    // Read in Torr, shown in Pa: 10 Torr lies above the axis, 0 is a relay that is off.
    area.SetPoints()->SetPoints({{1, 2, 0, 5, 10, 0}, "0002", true});
    const double torr = 101325.0 / 760;
    const std::optional<double> inPa[] = {torr, 2 * torr, {}, 5 * torr, {}, {}};
    for (int i = 0; i < 6; ++i) {
        const auto v = Drawn(i);
        EXPECT_EQ(v.has_value(), inPa[i].has_value()) << i;
        if (v && inPa[i]) {
            EXPECT_NEAR(*v, *inPa[i], 1e-9) << i;
        }
    }
    // The gauge now reads in Torr: the chart's unit follows, and so do the lines.
    model.AddMeasurementPoint(kNow + 2 * kOneSecond, 2.5, "0002");
    model.PressureAxis().SetBoth(0, 1000);
    EXPECT_EQ(Drawn(0), 1.0);
    EXPECT_EQ(Drawn(4), 10.0);
    EXPECT_EQ(Drawn(5), std::nullopt);

    area.SetPoints()->SetShown(false);
    EXPECT_EQ(Drawn(0), std::nullopt);
    area.SetPoints()->SetShown(true);
    area.SetPoints()->SetPoints({{1, 2, 0, 5, 10, 0}, "0002", false});
    EXPECT_EQ(Drawn(0), std::nullopt) << "values not known";
}

TEST_F(Overlay, automaticScalingDoesNotWidenForSetPoints) {
    for (int i = 1; i <= 20; ++i)
        model.AddMeasurementPoint(kNow + i * kOneSecond, 100 + i, "0001");
    area.Chart1()->Refresh(true);
    const QCPRange before = area.Chart1()->yAxis->range();
    area.SetPoints()->SetPoints({{1, 5000, 105, 0, 0, 0}, "0001", true});
    EXPECT_EQ(Drawn(0), std::nullopt);
    EXPECT_EQ(Drawn(1), std::nullopt);
    EXPECT_EQ(Drawn(2), 105.0);
    EXPECT_EQ(area.Chart1()->yAxis->range(), before);
}

TEST_F(Overlay, showAllSpansEveryReadingFollowsNewOnesAndTheTimeSliderEndsIt) {
    // Twenty minutes kept, the slider shows part of the last ten.
    const double first = kNow + kOneSecond, last = kNow + 1200 * kOneSecond;
    for (int i = 1; i <= 1200; ++i)
        model.AddMeasurementPoint(kNow + i * kOneSecond, 1e-3, "0001");
    ASSERT_GT(model.TimeAxis().Min(), last - 600 * kOneSecond);

    Trigger(QStringLiteral("Показать всё"));
    EXPECT_NEAR(model.TimeAxis().Min(), first, 1e-9);
    EXPECT_NEAR(model.TimeAxis().Max(), last, 1e-9);
    model.AddMeasurementPoint(last + 30 * kOneSecond, 1e-3, "0001");
    model.AddMissedTick(last + 31 * kOneSecond);
    EXPECT_NEAR(model.TimeAxis().Min(), first, 1e-9);
    EXPECT_NEAR(model.TimeAxis().Max(), last + 31 * kOneSecond, 1e-9);
    // Resizing the window is no slider move.
    area.resize(area.width() + 80, area.height());
    EXPECT_TRUE(model.ShowingAll());
    EXPECT_NEAR(model.TimeAxis().Min(), first, 1e-9);

    area.XPanelMouseDown(Qt::LeftButton, 100, 10);
    area.XPanelMouseUp(Qt::LeftButton, 90, 10);
    EXPECT_FALSE(model.ShowingAll());
    EXPECT_LT(model.TimeAxis().Max() - model.TimeAxis().Min(), 600 * kOneSecond);
    model.AddMeasurementPoint(last + 40 * kOneSecond, 1e-3, "0001");
    EXPECT_GT(model.TimeAxis().Min(), last - 600 * kOneSecond);
}

TEST_F(Overlay, showAllOnALoadedViewSpansTheWholeFile) {
    model.LoadArchive({kNow, kNow + 0.5, kNow + 1}, {1, 2, 3}, kNow, kNow + 1);
    model.LoadedView = true;
    model.TimeAxis().SetBoth(kNow + 0.2, kNow + 0.3); // a narrower view
    Trigger(QStringLiteral("Показать всё"));
    EXPECT_EQ(model.TimeAxis().Min(), kNow);
    EXPECT_EQ(model.TimeAxis().Max(), kNow + 1);
}

} // namespace
