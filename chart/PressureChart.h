// The pressure-against-time chart: draws what TChartModel holds, fed with the visible slice only.
// Four graphs: the reference curve thin, solid and blue-grey behind everything, the readings as
// a green line broken at every gap, the readings with no neighbour on either side as green dots,
// and the demonstration values grey and dashed; the legend names the reference and the
// demonstration while they are in view. The pressure axis carries the display unit as its title.
#pragma once

#include "ChartModel.h"

#include <qcustomplot.h>

#include <functional>
#include <vector>

namespace vg57 {

// A smaller copy of a font, whether it is sized in points or, as the chart's may be, in pixels.
QFont ScaledFont(QFont font, double factor);

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

protected:
    void contextMenuEvent(QContextMenuEvent* event) override;

private:
    TChartModel& model_;
    QCPGraph* series_;
    QCPGraph* lone_;
    QCPGraph* demo_;
    QCPGraph* reference_;
    QSharedPointer<QCPAxisTicker> linearTicker_, logTicker_;
    QMenu* popup_;
    QAction* displaySettings_;
    std::vector<double> loneKeys_, loneValues_, demoKeys_, demoValues_, refKeys_, refValues_;
    bool refreshPending_ = false;
    bool demoInView_ = false;
};

} // namespace vg57
