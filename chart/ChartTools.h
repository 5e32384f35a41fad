// The chart's tools over the plot: a readout of the reading nearest the cursor (with the
// reference curve at that time and the ratio of the two), "Сдвинуть эталон сюда", and a time
// interval selected by Shift+drag with the left button (or a plain left drag after "Выделить
// интервал"), shown shaded. The selection keeps its times, so it stays on its readings when
// the view moves. Other mouse input goes to the plot as before.
#pragma once

#include <QObject>
#include <QPoint>

#include <optional>
#include <utility>

class QAction;
class QCPItemLine;
class QCPItemRect;
class QLabel;

namespace vg57 {

class TChartModel;
class TPressureChart;

class TChartTools : public QObject {
    Q_OBJECT
public:
    // Nearer than this many pixels across, a reading is read out; further, the cursor is over a
    // gap.
    static constexpr int kReadoutReach = 12;

    // Adds "Выделить интервал", "Снять выделение" and "Сдвинуть эталон сюда" to the chart's
    // context menu.
    TChartTools(TPressureChart& chart, TChartModel& model);

    // [from, to] as date-times, from <= to; none without a selection.
    std::optional<std::pair<double, double>> Selection() const;
    void SetSelection(double from, double to);
    void ClearSelection();
    // The next left drag selects, without Shift.
    void ArmSelection() { armed_ = true; }

    // A line drawn over the chart from (t0, p0) to (t1, p1), date-times and pressures: the
    // leak rate's fit while its dialog is open.
    void ShowFit(double t0, double p0, double t1, double p1);
    void HideFit();

    QLabel* Readout() const { return readout_; }
    // Shows the reading nearest the pixel column x at `at`, in the display unit, or hides the
    // readout over a gap.
    void UpdateReadout(QPoint at);
    QAction* MoveReferenceAction() const { return moveReference_; }

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    double TimeAt(int x) const;
    void ShowSelection();

    TPressureChart& chart_;
    TChartModel& model_;
    QLabel* readout_;
    QCPItemRect* shade_;
    QCPItemLine* fit_;
    QAction* moveReference_;
    QPoint menuAt_; // where the context menu was asked for
    bool armed_ = false;
    bool dragging_ = false;
    double dragStart_ = 0;
    std::optional<std::pair<double, double>> selection_;
};

} // namespace vg57
