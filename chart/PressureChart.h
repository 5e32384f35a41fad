// The pressure-against-time chart: draws what TChartModel holds, fed with the visible slice only.
// Four graphs: the reference curve thin, solid and blue-grey behind everything, the readings as
// a green line broken at every gap, the readings with no neighbour on either side as green dots,
// and the demonstration values grey and dashed; the legend names the reference and the
// demonstration while they are in view. The pressure axis carries the display unit as its title.
// With several gauges each has its own line and dots in its own colour, named "Адрес N" in a
// legend at the top left, away from the live end; a click on a curve or its legend entry asks
// for that gauge to be chosen. On screen the readings' lines and dots of every gauge come from
// one image that a live tick only moves and completes (TCurveImage); the graphs keep the data.
#pragma once

#include "ChartModel.h"

#include <qcustomplot.h>

#include <functional>
#include <vector>

namespace vg57 {

class TCurveImage;

// A smaller copy of a font, whether it is sized in points or, as the chart's may be, in pixels.
QFont ScaledFont(QFont font, double factor);
// "Адрес 5", "Адрес A": a gauge as the chart and the panel name it.
QString GaugeName(int address);

class TPressureChart : public QCustomPlot {
    Q_OBJECT
public:
    explicit TPressureChart(TChartModel& model, QWidget* parent = nullptr);

    // Feeds the plot the visible slice and the axis limits, and asks for a repaint (at once with
    // immediate, else at the next event-loop pass).
    void Refresh(bool immediate = false);
    // Refreshes once at the next event-loop pass, however often it is asked before then.
    void RequestRefresh();
    // Carries out a requested refresh now, painting at once (when the chart is visible).
    void FlushRefresh();
    // Every scroll request of the user is refused: the sliders are the only way to move.
    bool Chart1AllowScroll() const { return false; }
    QAction* DisplaySettingsAction() const { return displaySettings_; }
    QMenu* PopupMenu() const { return popup_; }
    // Entries fed to the readings' line (breaks included), to the dots, to the demonstration.
    std::size_t PointsFed() const { return static_cast<std::size_t>(series_->dataCount()); }
    QCPGraph* Readings() const { return series_; }
    QCPGraph* LoneReadings() const { return lone_; }
    QCPGraph* Demonstration() const { return demo_; }
    QCPGraph* ReferenceCurve() const { return reference_; }
    // A demonstration value lies within both axes' ranges as last drawn.
    bool DemoInView() const { return demoInView_; }
    // Called when DemoInView changes (the status bar announces only what is seen).
    std::function<void()> onDemoInViewChanged;
    // Gauge k's line and its lone readings' dots (gauge 0's are Readings() and LoneReadings()).
    QCPGraph* GaugeLine(std::size_t k) const;
    QCPGraph* GaugeDots(std::size_t k) const;
    static QColor GaugeColour(std::size_t k);
    // The readings' curves as drawn on screen: an image redrawn only where a tick changed it.
    const TCurveImage& Curves() const { return *curves_; }
    // "Легенда" of the context menu, there with several gauges only: hides the legend.
    QAction* LegendAction() const { return legendShown_; }

signals:
    // A click on gauge k's curve or on its legend entry.
    void GaugeClicked(std::size_t k);

protected:
    void contextMenuEvent(QContextMenuEvent* event) override;

private:
    // One line and one set of dots per gauge of the model.
    void SyncGaugeGraphs();
    void FeedGauges();
    void Clicked(QCPAbstractPlottable* plottable);
    TChartModel& model_;
    QCPGraph* series_;
    QCPGraph* lone_;
    QCPGraph* demo_;
    QCPGraph* reference_;
    TCurveImage* curves_;
    QSharedPointer<QCPAxisTicker> linearTicker_, logTicker_;
    QMenu* popup_;
    QAction* displaySettings_;
    QAction* legendShown_;
    std::vector<std::pair<QCPGraph*, QCPGraph*>> gauges_; // line and dots, from gauge 1 on
    std::size_t legendGauges_ = 0;                        // gauges with an entry in the legend
    std::vector<double> loneKeys_, loneValues_, demoKeys_, demoValues_, refKeys_, refValues_;
    bool refreshPending_ = false;
    bool demoInView_ = false;
};

} // namespace vg57
