#include "PressureChart.h"

#include <cmath>

#include "ChartLabels.h"
#include "DateTime.h"
#include "SliceThinning.h"

namespace vg57 {

namespace {

// Keys on the time axis are seconds since the date origin: the date-time ticker then picks
// steps of whole seconds, minutes and hours, and our label shows the time of day.
class TTimeTicker : public QCPAxisTickerDateTime {
protected:
    // A range of a second or less would get sub-second ticks, labelled alike.
    double getTickStep(const QCPRange& range) override {
        return DistinctTimeLabelStep(QCPAxisTickerDateTime::getTickStep(range), kSecondLabels);
    }
    QString getTickLabel(double tick, const QLocale&, QChar, int) override {
        return QString::fromStdString(FormatTimeLabel(tick / kSecondsPerDay));
    }
};

class TPressureTicker : public QCPAxisTicker {
protected:
    QString getTickLabel(double tick, const QLocale&, QChar, int) override {
        return QString::fromStdString(FormatPressureLabel(tick));
    }
    int getSubTickCount(double) override { return 4; }
};

class TPressureLogTicker : public QCPAxisTickerLog {
protected:
    QString getTickLabel(double tick, const QLocale&, QChar, int) override {
        return QString::fromStdString(FormatPressureLabel(tick));
    }
    int getSubTickCount(double) override { return 4; }
};

} // namespace

TPressureChart::TPressureChart(TChartModel& model, QWidget* parent)
    : QCustomPlot(parent), model_(model), linearTicker_(new TPressureTicker),
      logTicker_(new TPressureLogTicker) {
    setInteractions(QCP::Interactions()); // no zoom, no drag, no selection
    setBackground(Qt::white);
    axisRect()->setBackground(Qt::white);
    legend->setVisible(false);
    plotLayout()->insertRow(0);
    plotLayout()->addElement(0, 0,
                             new QCPTextElement(this, QStringLiteral(" "))); // empty title line

    auto timeTicker = QSharedPointer<TTimeTicker>::create();
    timeTicker->setDateTimeSpec(Qt::UTC);
    xAxis->setTicker(timeTicker);
    yAxis->setTicker(linearTicker_);
    series_ = addGraph();
    series_->setPen(QPen(QColor(0, 128, 0), 1));
    series_->setLineStyle(QCPGraph::lsLine);
    series_->setScatterStyle(QCPScatterStyle::ssNone);
    series_->setAdaptiveSampling(false); // the slice is thinned already

    popup_ = new QMenu(this);
    displaySettings_ = popup_->addAction(QStringLiteral("&Параметры отображения"));
    setContextMenuPolicy(Qt::DefaultContextMenu);
    Refresh();
}

void TPressureChart::contextMenuEvent(QContextMenuEvent* event) {
    popup_->exec(event->globalPos());
}

void TPressureChart::RequestRefresh() {
    if (refreshPending_) return;
    refreshPending_ = true;
    QMetaObject::invokeMethod(
        this,
        [this] {
            if (!refreshPending_) return; // flushed already
            refreshPending_ = false;
            Refresh();
        },
        Qt::QueuedConnection);
}

void TPressureChart::FlushRefresh() {
    if (!refreshPending_) return;
    refreshPending_ = false;
    Refresh(true);
}

void TPressureChart::Refresh(bool immediate) {
    const TAxisLimits& t = model_.TimeAxis();
    const TAxisLimits& p = model_.PressureAxis();
    const bool log = p.Logarithmic();
    if (log != (yAxis->scaleType() == QCPAxis::stLogarithmic)) {
        yAxis->setScaleType(log ? QCPAxis::stLogarithmic : QCPAxis::stLinear);
        yAxis->setTicker(log ? logTicker_ : linearTicker_);
    }
    xAxis->setRange(t.Min() * kSecondsPerDay, t.Max() * kSecondsPerDay);
    double lo = p.Min(), hi = p.Max();
    if (p.Automatic() && hi <= lo && !model_.Points().Empty()) {
        // A steady pressure spans no range: drawn at the edge of a 1e-10 range it would vanish
        // into the axis. Show it in the middle of a range a fifth of its size around it.
        const double m = lo != 0 ? std::fabs(lo) * 0.1 : 1.0;
        hi = lo + m;
        lo = lo - m;
        if (log && lo <= 0) lo = hi / 100;
    }
    if (hi <= lo) hi = lo + 1e-10;
    yAxis->setRange(lo, hi);

    TThinOptions o;
    o.xmin = t.Min();
    o.xmax = t.Max();
    o.columns = std::max(1, axisRect()->width());
    o.logarithmic = log;
    o.keyScale = kSecondsPerDay;
    ThinVisible(model_.Points(), o, keys_, values_);
    // One copy into the plot's own container, already sorted by time.
    QVector<QCPGraphData> slice;
    slice.reserve(static_cast<qsizetype>(keys_.size()));
    for (std::size_t i = 0; i < keys_.size(); ++i)
        slice.append(QCPGraphData(keys_[i], values_[i]));
    series_->data()->set(slice, true);
    replot(immediate ? QCustomPlot::rpImmediateRefresh : QCustomPlot::rpQueuedReplot);
}

} // namespace vg57
