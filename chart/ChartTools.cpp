#include "ChartTools.h"

#include "ChartLabels.h"
#include "ChartModel.h"
#include "DateTime.h"
#include "NumberFormat.h"
#include "PressureChart.h"
#include "PressureUnit.h"

#include <QContextMenuEvent>
#include <QLabel>
#include <QMenu>
#include <QMouseEvent>

#include <cmath>

namespace vg57 {

TChartTools::TChartTools(TPressureChart& chart, TChartModel& model)
    : QObject(&chart), chart_(chart), model_(model) {
    readout_ = new QLabel(&chart);
    readout_->setStyleSheet(QStringLiteral(
        "background: rgba(255, 255, 225, 230); border: 1px solid #808080; padding: 1px 3px"));
    readout_->setAttribute(Qt::WA_TransparentForMouseEvents);
    readout_->hide();

    // x in the plot's keys, y across the whole axis rect: the shade follows its times.
    shade_ = new QCPItemRect(&chart);
    for (QCPItemPosition* p : {shade_->topLeft, shade_->bottomRight}) {
        p->setTypeX(QCPItemPosition::ptPlotCoords);
        p->setTypeY(QCPItemPosition::ptAxisRectRatio);
    }
    shade_->setPen(QPen(QColor(40, 90, 200, 160)));
    shade_->setBrush(QColor(40, 90, 200, 50));
    shade_->setVisible(false);

    fit_ = new QCPItemLine(&chart);
    fit_->setPen(QPen(QColor(200, 30, 30), 2));
    fit_->setVisible(false);

    QMenu* menu = chart.PopupMenu();
    connect(menu->addAction(QStringLiteral("Выделить интервал")), &QAction::triggered, this,
            [this] { ArmSelection(); });
    connect(menu->addAction(QStringLiteral("Снять выделение")), &QAction::triggered, this,
            [this] { ClearSelection(); });
    moveReference_ = menu->addAction(QStringLiteral("Сдвинуть эталон сюда"));
    connect(moveReference_, &QAction::triggered, this,
            [this] { model_.MoveReference(TimeAt(menuAt_.x())); });
    connect(menu, &QMenu::aboutToShow, this,
            [this] { moveReference_->setEnabled(!model_.Reference().Empty()); });

    chart.setMouseTracking(true);
    chart.installEventFilter(this);
}

std::optional<std::pair<double, double>> TChartTools::Selection() const {
    return selection_;
}

void TChartTools::SetSelection(double from, double to) {
    selection_ = std::minmax(from, to);
    ShowSelection();
}

void TChartTools::ClearSelection() {
    selection_.reset();
    ShowSelection();
}

void TChartTools::ShowSelection() {
    shade_->setVisible(selection_.has_value());
    if (selection_) {
        shade_->topLeft->setCoords(selection_->first * kSecondsPerDay, 0);
        shade_->bottomRight->setCoords(selection_->second * kSecondsPerDay, 1);
    }
    chart_.replot(QCustomPlot::rpQueuedReplot);
}

void TChartTools::ShowFit(double t0, double p0, double t1, double p1) {
    fit_->start->setCoords(t0 * kSecondsPerDay, p0);
    fit_->end->setCoords(t1 * kSecondsPerDay, p1);
    fit_->setVisible(true);
    chart_.replot(QCustomPlot::rpQueuedReplot);
}

void TChartTools::HideFit() {
    fit_->setVisible(false);
    chart_.replot(QCustomPlot::rpQueuedReplot);
}

double TChartTools::TimeAt(int x) const {
    return chart_.xAxis->pixelToCoord(x) / kSecondsPerDay;
}

void TChartTools::UpdateReadout(QPoint at) {
    // Readings only (the demonstration values are a store of their own), in the display unit;
    // one that can't be converted is not read out.
    const double t = TimeAt(at.x());
    // With several gauges, the reading nearest on screen among all of them, named by its gauge.
    const bool several = model_.GaugeCount() > 1;
    std::size_t gauge = model_.ChosenGauge();
    std::optional<std::size_t> nearest;
    double best = 0;
    for (std::size_t g = 0; g < model_.GaugeCount(); ++g) {
        const TPointStore& s = model_.GaugePoints(g);
        const std::size_t i = s.LowerBound(t);
        for (std::size_t k : {i, i - 1}) {
            if (k >= s.Size()) continue;
            const double v = s.Y(k) * model_.DisplayFactor(s.Unit(k));
            if (std::isnan(v)) continue;
            const double dx = chart_.xAxis->coordToPixel(s.X(k) * kSecondsPerDay) - at.x();
            const double dy = several ? chart_.yAxis->coordToPixel(v) - at.y() : 0;
            const double d = std::hypot(dx, dy);
            if (nearest && d >= best) continue;
            best = d;
            nearest = k;
            gauge = g;
        }
    }
    const TPointStore& points = model_.GaugePoints(gauge);
    const bool inside = chart_.axisRect()->rect().contains(at);
    if (!nearest || !inside ||
        std::fabs(chart_.xAxis->coordToPixel(points.X(*nearest) * kSecondsPerDay) - at.x()) >
            kReadoutReach) {
        readout_->hide();
        return;
    }
    // In the display unit, as the line is drawn: a reading from before a unit change is shown
    // converted, never as its bare number under the new unit's name.
    const double time = points.X(*nearest), factor = model_.DisplayFactor(points.Unit(*nearest));
    const double value = points.Y(*nearest) * (std::isnan(factor) ? 1.0 : factor);
    QString unit =
        std::isnan(factor) ? QString() : QString::fromStdString(UnitTitle(model_.DisplayUnit()));
    if (!unit.isEmpty()) unit.prepend(' ');
    QString text = QString::fromStdString(
                       FormatReadoutTime(model_.ShownTime(time), model_.TimeLabelsWithDate()) +
                       "   " + FormatGeneral(value)) +
                   unit;
    if (several) text.prepend(GaugeName(model_.GaugeAddress(gauge)) + QStringLiteral("   "));
    if (const auto reference = model_.Reference().PressureAt(time);
        reference && !std::isnan(factor)) {
        text += QStringLiteral("   эталон ") +
                QString::fromStdString(FormatPressureTwoDigits(*reference)) + unit;
        if (*reference != 0)
            text += QStringLiteral(", ×") + QString::fromStdString(FormatRatio(value / *reference));
    }
    readout_->setText(text);
    readout_->adjustSize();
    // Beside the cursor, kept inside the chart.
    QPoint place = at + QPoint(14, -readout_->height() - 4);
    place.setX(std::min(place.x(), chart_.width() - readout_->width() - 2));
    place.setY(std::max(place.y(), 2));
    readout_->move(place);
    readout_->show();
    readout_->raise();
}

bool TChartTools::eventFilter(QObject* watched, QEvent* event) {
    if (watched != &chart_) return false;
    switch (event->type()) {
    case QEvent::MouseButtonPress: {
        auto* e = static_cast<QMouseEvent*>(event);
        if (e->button() != Qt::LeftButton || !(armed_ || (e->modifiers() & Qt::ShiftModifier)))
            return false;
        dragging_ = true;
        armed_ = false;
        dragStart_ = TimeAt(e->position().toPoint().x());
        SetSelection(dragStart_, dragStart_);
        return true;
    }
    case QEvent::MouseMove: {
        auto* e = static_cast<QMouseEvent*>(event);
        UpdateReadout(e->position().toPoint());
        if (!dragging_) return false;
        SetSelection(dragStart_, TimeAt(e->position().toPoint().x()));
        return true;
    }
    case QEvent::MouseButtonRelease: {
        auto* e = static_cast<QMouseEvent*>(event);
        if (!dragging_ || e->button() != Qt::LeftButton) return false;
        dragging_ = false;
        SetSelection(dragStart_, TimeAt(e->position().toPoint().x()));
        // A click without a drag selects nothing.
        if (selection_->first == selection_->second) ClearSelection();
        return true;
    }
    case QEvent::Leave:
        readout_->hide();
        return false;
    case QEvent::ContextMenu:
        menuAt_ = static_cast<QContextMenuEvent*>(event)->pos();
        return false;
    default:
        return false;
    }
}

} // namespace vg57
