#include "PressureChart.h"

#include <algorithm>
#include <cmath>

#include "ChartLabels.h"
#include "DateTime.h"
#include "PressureUnit.h"
#include "SliceThinning.h"

namespace vg57 {

namespace {

// Keys on the time axis are seconds since the date origin: the date-time ticker then picks
// steps of whole seconds, minutes and hours, and our label shows the time of day (with the
// date when the loaded readings span several days).
class TTimeTicker : public QCPAxisTickerDateTime {
public:
    explicit TTimeTicker(const TChartModel& model) : model_(model) {}

protected:
    // A step finer than the label shows would repeat a label: whole seconds, or whole minutes
    // when the labels carry the date.
    double getTickStep(const QCPRange& range) override {
        return DistinctTimeLabelStep(QCPAxisTickerDateTime::getTickStep(range),
                                     model_.TimeLabelsWithDate() ? kMinuteLabels : kSecondLabels);
    }
    QString getTickLabel(double tick, const QLocale&, QChar, int) override {
        const double days = model_.ShownTime(tick / kSecondsPerDay);
        return QString::fromStdString(model_.TimeLabelsWithDate() ? FormatDateTimeLabel(days)
                                                                  : FormatTimeLabel(days));
    }

private:
    const TChartModel& model_;
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

QFont ScaledFont(QFont font, double factor) {
    if (font.pointSizeF() > 0)
        font.setPointSizeF(font.pointSizeF() * factor);
    else
        font.setPixelSize(std::max(8, static_cast<int>(font.pixelSize() * factor)));
    return font;
}

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

    auto timeTicker = QSharedPointer<TTimeTicker>::create(model_);
    timeTicker->setDateTimeSpec(Qt::UTC);
    xAxis->setTicker(timeTicker);
    yAxis->setTicker(linearTicker_);
    const QColor green(0, 128, 0);
    // First, so that the readings are drawn over it.
    reference_ = addGraph();
    reference_->setPen(QPen(QColor(112, 128, 150), 1));
    reference_->setLineStyle(QCPGraph::lsLine);
    reference_->setAdaptiveSampling(false);
    reference_->setName(QStringLiteral("эталон"));
    series_ = addGraph();
    series_->setPen(QPen(green, 1));
    series_->setLineStyle(QCPGraph::lsLine);
    series_->setScatterStyle(QCPScatterStyle::ssNone);
    series_->setAdaptiveSampling(false); // the slice is thinned already
    lone_ = addGraph();
    lone_->setPen(QPen(green, 1));
    lone_->setLineStyle(QCPGraph::lsNone);
    lone_->setScatterStyle(QCPScatterStyle(QCPScatterStyle::ssDisc, green, green, 4));
    lone_->setAdaptiveSampling(false);
    // The demonstration values are what a silent line shows: grey, dashed and named as such.
    demo_ = addGraph();
    demo_->setPen(QPen(Qt::gray, 1, Qt::DashLine));
    demo_->setLineStyle(QCPGraph::lsLine);
    demo_->setAdaptiveSampling(false);
    demo_->setName(QStringLiteral("демонстрация"));
    series_->removeFromLegend();
    lone_->removeFromLegend();
    legend->setFont(ScaledFont(legend->font(), 0.85));
    legend->setBorderPen(QPen(Qt::lightGray));
    legend->setIconSize(24, 10);
    axisRect()->insetLayout()->setInsetAlignment(0, Qt::AlignTop | Qt::AlignRight);

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

namespace {

// Copies a thinned slice (times in days) into a graph's own container.
void Feed(QCPGraph* graph, const std::vector<double>& keys, const std::vector<double>& values) {
    QVector<QCPGraphData> data;
    data.reserve(static_cast<qsizetype>(keys.size()));
    for (std::size_t i = 0; i < keys.size(); ++i)
        data.append(QCPGraphData(keys[i] * kSecondsPerDay, values[i]));
    graph->data()->set(data, true);
}

// The readings with no drawn neighbour on either side: a line can't show them, a dot does.
void CollectLoneReadings(const std::vector<double>& keys, const std::vector<double>& values,
                         std::vector<double>& loneKeys, std::vector<double>& loneValues) {
    loneKeys.clear();
    loneValues.clear();
    const std::size_t n = values.size();
    for (std::size_t i = 0; i < n; ++i) {
        if (std::isnan(values[i])) continue;
        const bool before = i > 0 && !std::isnan(values[i - 1]);
        const bool after = i + 1 < n && !std::isnan(values[i + 1]);
        if (before || after) continue;
        loneKeys.push_back(keys[i]);
        loneValues.push_back(values[i]);
    }
}

} // namespace

void TPressureChart::Refresh(bool immediate) {
    const TAxisLimits& t = model_.TimeAxis();
    const TAxisLimits& p = model_.PressureAxis();
    const bool log = p.Logarithmic();
    if (log != (yAxis->scaleType() == QCPAxis::stLogarithmic)) {
        yAxis->setScaleType(log ? QCPAxis::stLogarithmic : QCPAxis::stLinear);
        yAxis->setTicker(log ? logTicker_ : linearTicker_);
    }
    xAxis->setRange(t.Min() * kSecondsPerDay, t.Max() * kSecondsPerDay);
    // The slice first: the same pass sets the automatic pressure range.
    const TChartSlice& slice = model_.Slice(std::max(1, axisRect()->width()));
    double lo = p.Min(), hi = p.Max();
    if (hi <= lo) hi = lo + 1e-10;
    yAxis->setRange(lo, hi);
    const QString title = QString::fromStdString(UnitTitle(model_.DisplayUnit()));
    if (yAxis->label() != title) yAxis->setLabel(title);

    Feed(series_, slice.keys, slice.values);
    CollectLoneReadings(slice.keys, slice.values, loneKeys_, loneValues_);
    Feed(lone_, loneKeys_, loneValues_);
    TThinOptions o;
    o.xmin = t.Min();
    o.xmax = t.Max();
    o.columns = std::max(1, axisRect()->width());
    o.logarithmic = log;
    ThinVisible(model_.DemoPoints(), o, demoKeys_, demoValues_);
    Feed(demo_, demoKeys_, demoValues_);
    model_.Reference().Thin(o, refKeys_, refValues_);
    Feed(reference_, refKeys_, refValues_);
    // The legend explains a line on screen: none for one off the axes. The thinned data keep a
    // neighbour beyond each edge of the time axis, which is not in view.
    const auto inView = [&](QCPGraph* graph, const std::vector<double>& keys,
                            const std::vector<double>& values) {
        bool shown = false;
        for (std::size_t i = 0; i < keys.size() && !shown; ++i)
            shown = keys[i] >= t.Min() && keys[i] <= t.Max() && values[i] >= lo && values[i] <= hi;
        if (shown)
            graph->addToLegend();
        else
            graph->removeFromLegend();
        return shown;
    };
    const bool demoShown = inView(demo_, demoKeys_, demoValues_);
    legend->setVisible(inView(reference_, refKeys_, refValues_) || demoShown);
    if (demoShown != demoInView_) {
        demoInView_ = demoShown;
        if (onDemoInViewChanged) onDemoInViewChanged();
    }
    replot(immediate ? QCustomPlot::rpImmediateRefresh : QCustomPlot::rpQueuedReplot);
}

} // namespace vg57
