#include "PressureChart.h"

#include <algorithm>
#include <cmath>

#include "ChartLabels.h"
#include "CurveImage.h"
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

// A gauge's line or dots: drawn from the curve image while it serves, by the graph itself for
// exports. The graph keeps the data either way: clicks, the legend and the tests read it there.
class TReadingsGraph : public QCPGraph {
public:
    TReadingsGraph(QCPAxis* key, QCPAxis* value, const TCurveImage& image)
        : QCPGraph(key, value), image_(image) {}

protected:
    void draw(QCPPainter* painter) override {
        if (!image_.Drawn()) QCPGraph::draw(painter);
    }

private:
    const TCurveImage& image_;
};

// A gauge's legend entry, drawn once into an image and then copied: its text would otherwise be
// measured and laid out again at every tick, once per gauge. Exports draw it as ever.
class TGaugeLegendItem : public QCPPlottableLegendItem {
public:
    using QCPPlottableLegendItem::QCPPlottableLegendItem;

protected:
    void draw(QCPPainter* painter) override {
        const bool exporting = painter->modes().testFlag(QCPPainter::pmVectorized) ||
                               painter->modes().testFlag(QCPPainter::pmNoCaching);
        if (exporting || !painter->device() || painter->device()->devicePixelRatioF() != 1.0) {
            QCPPlottableLegendItem::draw(painter);
            return;
        }
        const QString key =
            Key() + QString::number(mRect.width()) + 'x' + QString::number(mRect.height());
        if (key != drawnFor_) {
            image_ = QImage(mRect.size(), QImage::Format_ARGB32_Premultiplied);
            image_.fill(Qt::transparent);
            QCPPainter p(&image_);
            p.translate(-mRect.topLeft());
            applyDefaultAntialiasingHint(&p);
            QCPPlottableLegendItem::draw(&p);
            drawnFor_ = key;
        }
        painter->drawImage(mRect.topLeft(), image_);
    }
    QSize minimumOuterSizeHint() const override {
        const QString key = Key();
        if (key != measuredFor_) {
            size_ = QCPPlottableLegendItem::minimumOuterSizeHint();
            measuredFor_ = key;
        }
        return size_;
    }

private:
    // What the entry shows: its name, line, font and colours.
    QString Key() const {
        return mPlottable->name() + '|' + mPlottable->pen().color().name() + '|' +
               getFont().toString() + '|' + getTextColor().name() + '|' +
               QString::number(mParentLegend->iconSize().width()) + '|' +
               QString::number(mParentLegend->iconSize().height());
    }
    QImage image_;
    QString drawnFor_;
    mutable QString measuredFor_;
    mutable QSize size_;
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
    // Over the reference, under the demonstration values and the tools' marks.
    curves_ = new TCurveImage(this, model_);
    series_ = new TReadingsGraph(xAxis, yAxis, *curves_);
    series_->setPen(QPen(green, 1));
    series_->setLineStyle(QCPGraph::lsLine);
    series_->setScatterStyle(QCPScatterStyle::ssNone);
    series_->setAdaptiveSampling(false); // the slice is thinned already
    lone_ = new TReadingsGraph(xAxis, yAxis, *curves_);
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
    legendShown_ = popup_->addAction(QStringLiteral("Легенда"));
    legendShown_->setCheckable(true);
    legendShown_->setChecked(true);
    legendShown_->setVisible(false);
    connect(legendShown_, &QAction::toggled, this, [this] { Refresh(); });
    connect(this, &QCustomPlot::plottableClick, this,
            [this](QCPAbstractPlottable* p, int, QMouseEvent*) { Clicked(p); });
    connect(this, &QCustomPlot::legendClick, this,
            [this](QCPLegend*, QCPAbstractLegendItem* item, QMouseEvent*) {
                if (auto* entry = qobject_cast<QCPPlottableLegendItem*>(item))
                    Clicked(entry->plottable());
            });
    setContextMenuPolicy(Qt::DefaultContextMenu);
    Refresh();
}

QString GaugeName(int address) {
    return QStringLiteral("Адрес %1").arg(QString::number(std::max(0, address), 16).toUpper());
}

QColor TPressureChart::GaugeColour(std::size_t k) {
    // The first gauge green as a single gauge's; the others apart from it and from each other.
    static const QColor kColours[] = {QColor(0, 128, 0),   QColor(0, 80, 200),  QColor(200, 60, 0),
                                      QColor(140, 0, 160), QColor(0, 140, 140), QColor(130, 110, 0),
                                      QColor(200, 0, 90),  QColor(70, 70, 70)};
    return kColours[k % std::size(kColours)];
}

QCPGraph* TPressureChart::GaugeLine(std::size_t k) const {
    return k == 0 ? series_ : k <= gauges_.size() ? gauges_[k - 1].first : nullptr;
}

QCPGraph* TPressureChart::GaugeDots(std::size_t k) const {
    return k == 0 ? lone_ : k <= gauges_.size() ? gauges_[k - 1].second : nullptr;
}

void TPressureChart::Clicked(QCPAbstractPlottable* plottable) {
    for (std::size_t k = 0; k < model_.GaugeCount(); ++k)
        if (plottable == GaugeLine(k) || plottable == GaugeDots(k)) emit GaugeClicked(k);
}

void TPressureChart::SyncGaugeGraphs() {
    const std::size_t n = std::max<std::size_t>(1, model_.GaugeCount());
    while (gauges_.size() + 1 > n) {
        removeGraph(gauges_.back().first);
        removeGraph(gauges_.back().second);
        gauges_.pop_back();
    }
    while (gauges_.size() + 1 < n) {
        const QColor colour = GaugeColour(gauges_.size() + 1);
        QCPGraph* line = new TReadingsGraph(xAxis, yAxis, *curves_);
        line->setPen(QPen(colour, 1));
        line->setAdaptiveSampling(false);
        QCPGraph* dots = new TReadingsGraph(xAxis, yAxis, *curves_);
        dots->setPen(QPen(colour, 1));
        dots->setLineStyle(QCPGraph::lsNone);
        dots->setScatterStyle(QCPScatterStyle(QCPScatterStyle::ssDisc, colour, colour, 4));
        dots->setAdaptiveSampling(false);
        dots->removeFromLegend();
        gauges_.emplace_back(line, dots);
    }
    const bool several = n > 1;
    legendShown_->setVisible(several);
    for (std::size_t k = 0; k < n; ++k)
        GaugeLine(k)->setName(GaugeName(model_.GaugeAddress(k)));
    // The gauges' entries in their order, before the reference's and the demonstration's: put
    // back afresh only when the gauges change.
    if (legendGauges_ != (several ? n : 0)) {
        for (std::size_t k = 0; k < n; ++k)
            GaugeLine(k)->removeFromLegend();
        for (QCPGraph* g : {reference_, demo_})
            g->removeFromLegend();
        for (std::size_t k = 0; several && k < n; ++k)
            legend->addItem(new TGaugeLegendItem(legend, GaugeLine(k)));
        legendGauges_ = several ? n : 0;
    }
    // The live end is at the right: the legend goes where the oldest readings are.
    axisRect()->insetLayout()->setInsetAlignment(0, Qt::AlignTop |
                                                        (several ? Qt::AlignLeft : Qt::AlignRight));
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
    model_.Slice(std::max(1, axisRect()->width()));
    double lo = p.Min(), hi = p.Max();
    if (hi <= lo) hi = lo + 1e-10;
    yAxis->setRange(lo, hi);
    const QString title = QString::fromStdString(UnitTitle(model_.DisplayUnit()));
    if (yAxis->label() != title) yAxis->setLabel(title);

    SyncGaugeGraphs();
    for (std::size_t k = 0; k < std::max<std::size_t>(1, model_.GaugeCount()); ++k) {
        const TChartSlice& part = model_.GaugeSlice(k);
        Feed(GaugeLine(k), part.keys, part.values);
        CollectLoneReadings(part.keys, part.values, loneKeys_, loneValues_);
        Feed(GaugeDots(k), loneKeys_, loneValues_);
    }
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
    const bool referenceShown = inView(reference_, refKeys_, refValues_);
    legend->setVisible((referenceShown || demoShown || model_.GaugeCount() > 1) &&
                       (legendShown_->isChecked() || !legendShown_->isVisible()));
    if (demoShown != demoInView_) {
        demoInView_ = demoShown;
        if (onDemoInViewChanged) onDemoInViewChanged();
    }
    replot(immediate ? QCustomPlot::rpImmediateRefresh : QCustomPlot::rpQueuedReplot);
}

} // namespace vg57
