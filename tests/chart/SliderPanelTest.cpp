// The slider panels and their handlers with real widgets (offscreen).
#include "CapPanel.h"
#include "ChartArea.h"
#include "DateTime.h"

#include <QApplication>
#include <QMouseEvent>
#include <QTest>
#include <gtest/gtest.h>

#include <cmath>
#include <set>

using namespace vg57;

namespace {

const double kNow = MakeDateTime(2026, 12, 7, 10, 0, 0);

void Send(QWidget* w, QEvent::Type type, QPoint at, Qt::MouseButton button,
          Qt::MouseButtons buttons) {
    QMouseEvent e(type, QPointF(at), QPointF(w->mapToGlobal(at)), button, buttons, Qt::NoModifier);
    QApplication::sendEvent(w, &e);
}
void Press(QWidget* w, QPoint at, Qt::MouseButton b = Qt::LeftButton) {
    Send(w, QEvent::MouseButtonPress, at, b, b);
}
void Move(QWidget* w, QPoint at, Qt::MouseButtons held = Qt::LeftButton) {
    Send(w, QEvent::MouseMove, at, Qt::NoButton, held);
}
void Release(QWidget* w, QPoint at, Qt::MouseButton b = Qt::LeftButton) {
    Send(w, QEvent::MouseButtonRelease, at, b, Qt::NoButton);
}

struct Area : ::testing::Test {
    Area() : model(kNow), area(model) {
        model.FormCreate(kNow);
        area.show();
    }
    TChartModel model;
    TChartArea area;
};

} // namespace

// ---- edge zones ----

TEST(PanelHitTest, theLeftAndTopZonesAreDeltaPlusOnePixelsTheOthersDelta) {
    THitTestInput in{0, 50, 100, 100, 5, false, true, true};
    auto at = [&](int x, int y) {
        in.x = x;
        in.y = y;
        return PanelHitTest(in);
    };
    EXPECT_EQ(at(5, 50), THitZone::Left);
    EXPECT_EQ(at(6, 50), THitZone::Client);
    EXPECT_EQ(at(95, 50), THitZone::Right);
    EXPECT_EQ(at(94, 50), THitZone::Client);
    EXPECT_EQ(at(50, 5), THitZone::Top);
    EXPECT_EQ(at(50, 95), THitZone::Bottom);
    EXPECT_EQ(at(2, 2), THitZone::TopLeft);
    EXPECT_EQ(at(98, 98), THitZone::BottomRight);
    EXPECT_EQ(at(98, 2), THitZone::TopRight);
    EXPECT_EQ(at(2, 98), THitZone::BottomLeft);
}

TEST(PanelHitTest, onlyTheSizingAxesAndTheAlignmentRulesGiveZones) {
    // A vertical slider: top and bottom only; the later edge test wins where zones overlap.
    THitTestInput y{3, 3, 25, 152, 5, false, false, true};
    EXPECT_EQ(PanelHitTest(y), THitZone::Top);
    y.x = 24;
    y.y = 80;
    EXPECT_EQ(PanelHitTest(y), THitZone::Client);
    THitTestInput tiny{1, 1, 4, 4, 5, false, true, false}; // every pixel is in both zones
    EXPECT_EQ(PanelHitTest(tiny), THitZone::Left);
    THitTestInput aligned{99, 50, 100, 100, 5, true, true, true, TPanelAlign::Left};
    EXPECT_EQ(PanelHitTest(aligned), THitZone::Right) << "a left-aligned panel sizes at its right";
    aligned.x = 1;
    EXPECT_EQ(PanelHitTest(aligned), THitZone::Client)
        << "but not at its left; moving has no effect";
    aligned.align = TPanelAlign::Client;
    EXPECT_EQ(PanelHitTest(aligned), THitZone::Client);
    THitTestInput moving{50, 50, 100, 100, 5, true, false, false};
    EXPECT_EQ(PanelHitTest(moving), THitZone::Caption);
}

TEST_F(Area, theSizingPointerMatchesTheZone) {
    TFreePanel* x = area.XPanel();
    Move(x, QPoint(2, 10), Qt::NoButton);
    EXPECT_EQ(x->cursor().shape(), Qt::SizeHorCursor);
    Move(x, QPoint(100, 10), Qt::NoButton);
    EXPECT_EQ(x->cursor().shape(), Qt::ArrowCursor);
    area.SetAutoScale(false);
    Move(area.YPanel(), QPoint(10, 150), Qt::NoButton);
    EXPECT_EQ(area.YPanel()->cursor().shape(), Qt::SizeVerCursor);
}

TEST_F(Area, draggingAnEdgeSizesThePanelAndTheRangeFollows) {
    area.SetAutoScale(false);
    TFreePanel* y = area.YPanel();
    const double pminBefore = model.Pmin();
    Press(y, QPoint(10, 150)); // bottom zone
    Move(y, QPoint(10, 200));
    EXPECT_EQ(y->height(), 202);
    EXPECT_LT(model.Pmin(), pminBefore) << "the chart follows the edge while it is dragged";
    Move(y, QPoint(10, -500));
    EXPECT_EQ(y->height(), 2) << "never below the 2 x 2 constraint";
    Release(y, QPoint(10, -500));
    EXPECT_FALSE(area.YDragging);
}

TEST_F(Area, startingUpKeepsTheOneSecondTimeAxisOnDayZero) {
    QApplication::processEvents();
    EXPECT_NEAR(model.TimeAxis().Min(), 10.0 / 24, 1e-9) << "showing the sliders applies nothing";
    EXPECT_NEAR(model.TimeAxis().Max() - model.TimeAxis().Min(), kOneSecond, 1e-12);
    EXPECT_TRUE(model.PressureAxis().Automatic());
}

// ---- dragging ----

TEST_F(Area, aDragBeyondTheTrackStopsAtItsEnd) {
    area.SetAutoScale(false);
    TFreePanel* y = area.YPanel();
    Press(y, QPoint(10, 60));
    EXPECT_TRUE(area.YDragging);
    Move(y, QPoint(10, 1060));
    Release(y, QPoint(10, 1060));
    EXPECT_FALSE(area.YDragging);
    EXPECT_EQ(y->y(), area.Panel5()->height() - y->height());
    const double R = 120000.0 - 1e-9;
    EXPECT_NEAR(model.Pmin(), 0, 1e-9);
    EXPECT_NEAR(model.Pmax(), R * y->height() / area.Panel5()->height(), 1e-6);

    TFreePanel* x = area.XPanel();
    Press(x, QPoint(100, 10));
    Move(x, QPoint(5000, 10));
    Release(x, QPoint(5000, 10));
    EXPECT_EQ(x->x() + x->width(), area.Panel6()->width());
    EXPECT_EQ(model.Tmax(), 0);
}

TEST_F(Area, aPressWithAnotherButtonThanTheLeftInASizingZoneStartsNothing) {
    area.SetAutoScale(false);
    struct Zone {
        TFreePanel* slider;
        QPoint at;
    };
    // The top zone is pixels 0..5 (Delta + 1), the bottom and right zones the last 5.
    const Zone zones[] = {{area.YPanel(), {10, 0}},   {area.YPanel(), {10, 5}},
                          {area.YPanel(), {10, 147}}, {area.YPanel(), {10, 151}},
                          {area.XPanel(), {0, 10}},   {area.XPanel(), {5, 10}},
                          {area.XPanel(), {309, 10}}, {area.XPanel(), {313, 10}}};
    for (const Zone& z : zones) {
        for (Qt::MouseButton b : {Qt::RightButton, Qt::MiddleButton}) {
            const QRect before = z.slider->geometry();
            Press(z.slider, z.at, b);
            Move(z.slider, z.at + QPoint(40, 40), b);
            EXPECT_FALSE(area.YDragging || area.XDragging) << z.at.x() << "," << z.at.y();
            Release(z.slider, z.at + QPoint(40, 40), b);
            EXPECT_EQ(z.slider->geometry(), before) << z.at.x() << "," << z.at.y();
        }
    }
}

TEST_F(Area, aReadingDuringATimeSliderDragUsesTheSlidersPlaceOfThatMoment) {
    TFreePanel* x = area.XPanel();
    Press(x, QPoint(100, 10));
    Move(x, QPoint(60, 10)); // the slider's left is now 256
    ASSERT_EQ(x->x(), 256);
    const double t = kNow + kOneSecond;
    model.AddMeasurementPoint(t, 1);
    EXPECT_TRUE(area.XDragging) << "the drag goes on";
    const double W = 610, L = 256, w = 314;
    EXPECT_NEAR((t - model.TimeAxis().Max()) / kOneSecond, 600 * (W - L - w) / W, 1e-6);
    EXPECT_NEAR((t - model.TimeAxis().Min()) / kOneSecond, 600 * (W - L) / W, 1e-6);
    Release(x, QPoint(60, 10));
}

TEST_F(Area, aReleaseWithinTheTopZoneLeavesTheDragInProgress) {
    area.SetAutoScale(false);
    TFreePanel* y = area.YPanel();
    Press(y, QPoint(10, 100));
    Move(y, QPoint(10, 120));
    const int top = y->y();
    const double pmax = model.Pmax();
    Release(y, QPoint(10, 3));
    EXPECT_TRUE(area.YDragging);
    EXPECT_EQ(y->y(), top);
    EXPECT_EQ(model.Pmax(), pmax) << "nothing applied";
}

TEST_F(Area, automaticScalingMakesThePressureSliderInertAndGrey) {
    TFreePanel* y = area.YPanel();
    // As drawn: grey while the axis scales itself, its own blue once the slider acts.
    const auto drawn = [y] { return y->grab().toImage().pixelColor(12, 76); };
    EXPECT_FALSE(y->isEnabled());
    EXPECT_EQ(drawn().saturation(), 0) << drawn().name().toStdString();
    area.SetAutoScale(false);
    EXPECT_EQ(drawn(), QColor(13, 109, 172));
    area.SetAutoScale(true);
    const int top = y->y();
    Press(y, QPoint(10, 60));
    Move(y, QPoint(10, 160));
    Release(y, QPoint(10, 160));
    EXPECT_FALSE(area.YDragging);
    EXPECT_EQ(y->y(), top);
    y->resize(y->width(), 200);
    EXPECT_TRUE(model.PressureAxis().Automatic()) << "resizing changes no limits";
    area.SetAutoScale(true);
    EXPECT_FALSE(y->isEnabled());
}

TEST_F(Area, onlyTheLeftButtonMovesDuringADrag) {
    TFreePanel* x = area.XPanel();
    const int left = x->x();
    Press(x, QPoint(100, 10), Qt::RightButton);
    EXPECT_TRUE(area.XDragging);
    Move(x, QPoint(60, 10), Qt::RightButton);
    EXPECT_EQ(x->x(), left);
    Release(x, QPoint(60, 10), Qt::RightButton);
    EXPECT_EQ(x->x(), left - 40) << "moved by the whole displacement at the release";
}

TEST_F(Area, wideningTheAreaWidensTheTimeSliderAndReappliesTheWindow) {
    model.AddMeasurementPoint(kNow + kOneSecond, 1);
    const int width = area.XPanel()->width();
    const int gapLeft = area.XPanel()->x();
    area.resize(TChartArea::kDesignWidth + 100, TChartArea::kDesignHeight);
    EXPECT_EQ(area.XPanel()->width(), width + 100);
    EXPECT_EQ(area.XPanel()->x(), gapLeft);
    EXPECT_EQ(area.Panel6()->width(), 710);
    const double shown = (model.TimeAxis().Max() - model.TimeAxis().Min()) / kOneSecond;
    EXPECT_NEAR(shown, 600.0 * (710 - gapLeft) / 710, 1e-3);
    EXPECT_EQ(area.YPanel()->height(), 152) << "the pressure slider keeps its size";
}

// Counts the plot's paints and the points it held at each.
struct PaintCounter : QObject {
    explicit PaintCounter(TPressureChart* c) : chart(c) { chart->installEventFilter(this); }
    bool eventFilter(QObject*, QEvent* e) override {
        if (e->type() == QEvent::Paint) fedAtPaint.push_back(chart->PointsFed());
        return false;
    }
    TPressureChart* chart;
    std::vector<std::size_t> fedAtPaint;
};

TEST_F(Area, aReadingIsPaintedBeforeAddingItReturns) {
    QApplication::processEvents(); // the first paint of the new window
    PaintCounter paints(area.Chart1());
    for (int i = 1; i <= 3; ++i) {
        model.AddMeasurementPoint(kNow + i * kOneSecond, i);
        ASSERT_FALSE(paints.fedAtPaint.empty()) << "reading " << i;
        EXPECT_EQ(paints.fedAtPaint.back(), static_cast<std::size_t>(i))
            << "the paint shows the new reading";
        paints.fedAtPaint.clear();
    }
}

TEST_F(Area, aSteadyPressureIsDrawnInsideItsAxisNotOnItsEdge) {
    area.Chart1()->Refresh(true);
    EXPECT_GE(area.Chart1()->yAxis->range().lower, 0.0)
        << "an empty chart shows no negative pressure";
    for (const bool log : {false, true}) {
        model.SetLogarithmic(log);
        for (int i = 1; i <= 3; ++i)
            model.AddMeasurementPoint(kNow + i * kOneSecond, 1.5e-5);
        const QCPRange r = area.Chart1()->yAxis->range();
        EXPECT_LT(r.lower, 1.4e-5) << "log " << log;
        EXPECT_GT(r.upper, 1.6e-5) << "log " << log;
        EXPECT_GT(r.lower, 0.0) << "log " << log;
    }
}

TEST_F(Area, theChartRefusesScrollingAndOffersTheDisplaySettings) {
    EXPECT_FALSE(area.Chart1()->Chart1AllowScroll());
    EXPECT_EQ(area.Chart1()->interactions(), QCP::Interactions());
    ASSERT_FALSE(area.Chart1()->PopupMenu()->actions().isEmpty());
    EXPECT_EQ(area.Chart1()->PopupMenu()->actions().front(),
              area.Chart1()->DisplaySettingsAction());
    EXPECT_EQ(area.Chart1()->DisplaySettingsAction()->text(),
              QStringLiteral("&Параметры отображения"));
    EXPECT_FALSE(area.Chart1()->legend->visible());
}

TEST_F(Area, aDayOfReadingsIsFedAsAThinnedSlice) {
    for (int i = 0; i < 172800; ++i)
        model.Points().Add(kNow + i * 0.5 * kOneSecond, 1 + i % 100);
    model.LoadedView = true;
    model.ViewStart = kNow;
    model.ViewEnd = kNow + 1.0;
    model.ApplyTimeSlider();
    area.Chart1()->Refresh(true);
    EXPECT_LE(area.Chart1()->PointsFed(), 2u * area.Chart1()->axisRect()->width() + 4);
    EXPECT_GT(area.Chart1()->PointsFed(), 100u);
}

TEST_F(Area, noTwoTimeLabelsReadAlikeAndEachNamesItsOwnTick) {
    const double t = kNow + 0.4 * kOneSecond;
    const double spans[] = {kOneSecond, 1e-10, 7 * kOneSecond, 308.85 * kOneSecond}; // days
    for (const double span : spans) {
        model.TimeAxis().SetBoth(t, t + span); // at start-up 1 s, a file of one line 1e-10 day
        area.Chart1()->Refresh(true);
        const QVector<QString> labels = area.Chart1()->xAxis->tickVectorLabels();
        const std::string shown = QStringList(labels.begin(), labels.end()).join(' ').toStdString();
        EXPECT_EQ(std::set<QString>(labels.begin(), labels.end()).size(), size_t(labels.size()))
            << shown;
        EXPECT_GE(labels.size(), span > kOneSecond ? 3 : span < kOneSecond ? 0 : 1) << shown;
        for (const double tick : area.Chart1()->xAxis->tickVector())
            EXPECT_EQ(std::fmod(tick, 1.0), 0.0) << shown << ": 2.5 s steps label :02.5 \":02\"";
    }
}
