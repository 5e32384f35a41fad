#include "SetPointLines.h"

#include "ChartModel.h"
#include "PressureChart.h"
#include "PressureUnit.h"

#include <cmath>

namespace vg57 {

namespace {

// One colour per relay, apart from the readings' green, the demonstration's grey, the
// selection's blue and the fit's red.
const QColor kRelayColours[] = {QColor(230, 120, 0), QColor(170, 0, 170), QColor(0, 150, 160)};

} // namespace

TSetPointLines::TSetPointLines(TPressureChart& chart, const TChartModel& model)
    : QObject(&chart), chart_(chart), model_(model) {
    const QFont font = chart.xAxis->tickLabelFont();
    for (int i = 0; i < TChartSetPoints::kCount; ++i) {
        const QColor colour = kRelayColours[i / 2];
        auto* line = new QCPItemLine(&chart);
        line->setPen(QPen(colour, 1, Qt::DashLine));
        // Across the whole axis rect, at the set point's pressure.
        for (QCPItemPosition* p : {line->start, line->end}) {
            p->setTypeX(QCPItemPosition::ptAxisRectRatio);
            p->setTypeY(QCPItemPosition::ptPlotCoords);
        }
        auto* label = new QCPItemText(&chart);
        label->setText(QStringLiteral("SP%1").arg(i / 2 + 1));
        label->setColor(colour);
        label->setFont(font);
        label->position->setTypeX(QCPItemPosition::ptAxisRectRatio);
        label->position->setTypeY(QCPItemPosition::ptPlotCoords);
        label->setPadding(QMargins(0, 0, 3, 0));
        lines_[static_cast<std::size_t>(i)] = line;
        labels_[static_cast<std::size_t>(i)] = label;
    }
    // The axis range is final only when the chart is about to paint.
    connect(&chart, &QCustomPlot::beforeReplot, this, &TSetPointLines::Place);
    Place();
}

void TSetPointLines::SetPoints(const TChartSetPoints& points) {
    points_ = points;
    chart_.replot(QCustomPlot::rpQueuedReplot);
}

void TSetPointLines::SetGaugePoints(int address, const TChartSetPoints& points) {
    byGauge_[address] = points;
    chart_.replot(QCustomPlot::rpQueuedReplot);
}

const TChartSetPoints& TSetPointLines::Points() const {
    static const TChartSetPoints kNone;
    if (model_.GaugeCount() <= 1) return points_;
    const auto at = byGauge_.find(model_.GaugeAddress(model_.ChosenGauge()));
    return at == byGauge_.end() ? kNone : at->second;
}

void TSetPointLines::SetShown(bool on) {
    shown_ = on;
    chart_.replot(QCustomPlot::rpQueuedReplot);
}

void TSetPointLines::Place() {
    // Before the first reading the chart has no unit: the set points are drawn in their own.
    const TChartSetPoints& points = Points();
    const std::string& display = model_.DisplayUnit();
    const double factor = display.empty() ? 1.0 : UnitFactor(points.unitCode, display);
    const QCPRange range = chart_.yAxis->range();
    const bool several = model_.GaugeCount() > 1;
    for (std::size_t i = 0; i < lines_.size(); ++i) {
        // Several gauges' lines are told apart by their bound, not only by their relay.
        labels_[i]->setText(QStringLiteral("SP%1").arg(i / 2 + 1) +
                            (several ? QString(i % 2 ? 'H' : 'L') : QString()));
        const double raw = points.values[i];
        const double v = raw * factor;
        const bool drawn = shown_ && points.known && raw > 0 && std::isfinite(v) &&
                           v >= range.lower && v <= range.upper;
        lines_[i]->setVisible(drawn);
        labels_[i]->setVisible(drawn);
        if (!drawn) continue;
        lines_[i]->start->setCoords(0, v);
        lines_[i]->end->setCoords(1, v);
        labels_[i]->position->setCoords(1, v);
        // Above its line, or below it where the top of the plot would cut it off.
        const double room = chart_.yAxis->coordToPixel(v) - chart_.axisRect()->top();
        labels_[i]->setPositionAlignment(
            Qt::AlignRight |
            (room < QFontMetrics(labels_[i]->font()).height() ? Qt::AlignTop : Qt::AlignBottom));
    }
}

} // namespace vg57
