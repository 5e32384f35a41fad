#include "ChartArea.h"

#include <QCoreApplication>
#include <QMenu>
#include <QResizeEvent>

namespace vg57 {

namespace {

constexpr int kStrip = 33; // the strips beside and below the chart that hold the tracks

TFreePanel* MakeSlider(QWidget* track, const QRect& geometry, const QColor& colour,
                       bool horizontal) {
    auto* p = new TFreePanel(track);
    p->setGeometry(geometry);
    p->setMinimumSize(2, 2);
    p->Delta = 5;
    p->XSizing = horizontal;
    p->YSizing = !horizontal;
    QPalette pal = p->palette();
    pal.setColor(QPalette::Active, QPalette::Window, colour);
    pal.setColor(QPalette::Inactive, QPalette::Window, colour);
    // Disabled, it is greyed as Qt greys a control: its own lightness, no colour, paler.
    pal.setColor(QPalette::Disabled, QPalette::Window,
                 QColor::fromHsl(0, 0, colour.lightness()).lighter(170));
    p->setPalette(pal);
    return p;
}

QFrame* MakeTrack(QWidget* parent) {
    auto* t = new QFrame(parent);
    t->setFrameShape(QFrame::StyledPanel);
    t->setFrameShadow(QFrame::Sunken);
    return t;
}

} // namespace

TChartArea::TChartArea(TChartModel& model, QWidget* parent) : QWidget(parent), model_(model) {
    chart_ = new TPressureChart(model, this);
    panel5_ = MakeTrack(this);
    panel6_ = MakeTrack(this);
    panel5_->setGeometry(3, 3, 27, 400);
    panel6_->setGeometry(kStrip + 15, kDesignHeight - 30, 610, 27);
    yPanel_ = MakeSlider(panel5_, QRect(1, 0, 25, 152), QColor(13, 109, 172), false);
    xPanel_ = MakeSlider(panel6_, QRect(296, 1, 314, 26), QColor(11, 109, 172), true);
    chart_->setGeometry(kStrip, 0, kDesignWidth - kStrip, kDesignHeight - kStrip);
    resize(kDesignWidth, kDesignHeight);

    connect(
        yPanel_, &TPanelCaption::mousePressed, this,
        [this](Qt::MouseButton b, Qt::MouseButtons, int x, int y) { YPanelMouseDown(b, x, y); });
    connect(yPanel_, &TPanelCaption::mouseMoved, this,
            [this](Qt::MouseButtons b, int x, int y) { YPanelMouseMove(b, x, y); });
    connect(yPanel_, &TPanelCaption::mouseReleased, this,
            [this](Qt::MouseButton b, Qt::MouseButtons, int x, int y) { YPanelMouseUp(b, x, y); });
    connect(
        xPanel_, &TPanelCaption::mousePressed, this,
        [this](Qt::MouseButton b, Qt::MouseButtons, int x, int y) { XPanelMouseDown(b, x, y); });
    connect(xPanel_, &TPanelCaption::mouseMoved, this,
            [this](Qt::MouseButtons b, int x, int y) { XPanelMouseMove(b, x, y); });
    connect(xPanel_, &TPanelCaption::mouseReleased, this,
            [this](Qt::MouseButton b, Qt::MouseButtons, int x, int y) { XPanelMouseUp(b, x, y); });
    connect(yPanel_, &TPanelCaption::resized, this, &TChartArea::YPanelResize);
    connect(xPanel_, &TPanelCaption::resized, this, &TChartArea::XPanelResize);
    // The model always knows where the sliders are, also in the middle of a drag: a reading
    // that moves the time window applies the slider's place of that moment.
    connect(yPanel_, &TPanelCaption::moved, this, &TChartArea::SyncGeometry);
    connect(xPanel_, &TPanelCaption::moved, this, &TChartArea::SyncGeometry);
    SyncGeometry();
    connect(chart_->PopupMenu()->addAction(QStringLiteral("Показать всё")), &QAction::triggered,
            this, &TChartArea::ShowAll);
    setPoints_ = new TSetPointLines(*chart_, model_);
    // The pressure slider does nothing while the axis scales itself, and looks it.
    yPanel_->setEnabled(!model_.AutoScaleY());
    // Every change of the model shows at the next pass of the event loop. A reading paints the
    // chart at once, then lets the waiting events run, so that it is on screen within its tick.
    model_.changed = [this] { chart_->RequestRefresh(); };
    model_.processEvents = [this] {
        chart_->FlushRefresh();
        QCoreApplication::processEvents();
    };
}

TChartArea::~TChartArea() {
    model_.changed = nullptr;
    model_.processEvents = nullptr;
}

void TChartArea::SyncGeometry() {
    model_.timeSlider = {panel6_->width(), xPanel_->x(), xPanel_->width()};
    model_.pressureSlider = {panel5_->height(), yPanel_->y(), yPanel_->height()};
}

void TChartArea::resizeEvent(QResizeEvent* e) {
    const int w = e->size().width(), h = e->size().height();
    chart_->setGeometry(kStrip, 0, w - kStrip, h - kStrip);
    // Panel5 follows the height; YPanel keeps its top and height (anchored left and top).
    panel5_->setGeometry(3, 3, 27, 400 + (h - kDesignHeight));
    // Panel6 widens with the area, and XPanel with it (anchored left, top and right).
    const int oldTrack = panel6_->width();
    panel6_->setGeometry(kStrip + 15, h - 30, 610 + (w - kDesignWidth), 27);
    const int grow = panel6_->width() - oldTrack;
    if (grow != 0) xPanel_->resize(std::max(2, xPanel_->width() + grow), xPanel_->height());
    SyncGeometry();
    chart_->RequestRefresh();
}

void TChartArea::SetAutoScale(bool on) {
    SyncGeometry();
    model_.SetAutoScale(on);
    yPanel_->setEnabled(!on);
    chart_->RequestRefresh();
}

void TChartArea::ShowAll() {
    SyncGeometry();
    model_.ShowAll();
    chart_->RequestRefresh();
}

void TChartArea::KeepYInTrack() {
    if (yPanel_->y() < 0) yPanel_->move(yPanel_->x(), 0);
    if (yPanel_->y() + yPanel_->height() > panel5_->height())
        yPanel_->move(yPanel_->x(), panel5_->height() - yPanel_->height());
}

void TChartArea::KeepXInTrack() {
    if (xPanel_->x() < 0) xPanel_->move(0, xPanel_->y());
    if (xPanel_->x() + xPanel_->width() > panel6_->width())
        xPanel_->move(panel6_->width() - xPanel_->width(), xPanel_->y());
}

void TChartArea::YPanelMouseDown(Qt::MouseButton, int, int y) {
    if (model_.AutoScaleY() || y <= yPanel_->Delta) return;
    yPanel_->grabMouse();
    YDragging = true;
    YPressY = y;
}

void TChartArea::YPanelMouseMove(Qt::MouseButtons buttons, int, int y) {
    if (model_.AutoScaleY()) return;
    if (YDragging && (buttons & Qt::LeftButton) && y > yPanel_->Delta)
        yPanel_->move(yPanel_->x(), yPanel_->y() + (y - YPressY));
    KeepYInTrack();
}

void TChartArea::YPanelMouseUp(Qt::MouseButton, int, int y) {
    // A release in the top zone leaves the drag in progress until the next press.
    if (model_.AutoScaleY() || !YDragging || y <= yPanel_->Delta) return;
    yPanel_->releaseMouse();
    YDragging = false;
    yPanel_->move(yPanel_->x(), yPanel_->y() + (y - YPressY));
    KeepYInTrack();
    SyncGeometry();
    model_.ApplyPressureSlider();
    chart_->RequestRefresh();
}

void TChartArea::XPanelMouseDown(Qt::MouseButton, int x, int) {
    if (x <= xPanel_->Delta) return;
    xPanel_->grabMouse();
    XDragging = true;
    XPressX = x;
}

void TChartArea::XPanelMouseMove(Qt::MouseButtons buttons, int x, int) {
    if (XDragging && (buttons & Qt::LeftButton) && x > xPanel_->Delta)
        xPanel_->move(xPanel_->x() + (x - XPressX), xPanel_->y());
    KeepXInTrack();
}

void TChartArea::XPanelMouseUp(Qt::MouseButton, int x, int) {
    if (!XDragging || x <= xPanel_->Delta) return;
    xPanel_->releaseMouse();
    XDragging = false;
    xPanel_->move(xPanel_->x() + (x - XPressX), xPanel_->y());
    KeepXInTrack();
    SyncGeometry();
    model_.EndShowAll();
    model_.ApplyTimeSlider();
    chart_->RequestRefresh();
}

void TChartArea::YPanelResize() {
    SyncGeometry();
    if (YDragging || model_.AutoScaleY()) return;
    model_.ApplyPressureSlider();
    chart_->RequestRefresh();
}

void TChartArea::XPanelResize() {
    SyncGeometry();
    if (XDragging) return;
    // The operator sizing the slider moves it; the area's own resizing does not.
    if (xPanel_->Sizing()) model_.EndShowAll();
    model_.ApplyTimeSlider();
    chart_->RequestRefresh();
}

} // namespace vg57
