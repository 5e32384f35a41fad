// The chart with its two slider tracks: the pressure track Panel5 at the left holding YPanel,
// the time track Panel6 under the chart holding XPanel. The drag and resize handlers turn each
// slider's place in its track into axis limits through TChartModel.
#pragma once

#include "CapPanel.h"
#include "ChartModel.h"
#include "PressureChart.h"
#include "SetPointLines.h"

#include <QWidget>

namespace vg57 {

class TChartArea : public QWidget {
    Q_OBJECT
public:
    // The area's size in the window's design; the tracks and sliders have their design
    // geometry at it.
    static constexpr int kDesignWidth = 673, kDesignHeight = 440;

    explicit TChartArea(TChartModel& model, QWidget* parent = nullptr);
    ~TChartArea() override;

    TPressureChart* Chart1() const { return chart_; }
    QFrame* Panel5() const { return panel5_; }
    QFrame* Panel6() const { return panel6_; }
    TFreePanel* YPanel() const { return yPanel_; }
    TFreePanel* XPanel() const { return xPanel_; }
    TSetPointLines* SetPoints() const { return setPoints_; }

    // The automatic scaling switch of the program settings: YPanel takes input only without it.
    void SetAutoScale(bool on);
    // "Показать всё" of the chart's context menu: the whole run in view until the time slider
    // moves.
    void ShowAll();

    // The handlers, in slider coordinates.
    void YPanelMouseDown(Qt::MouseButton button, int x, int y);
    void YPanelMouseMove(Qt::MouseButtons buttons, int x, int y);
    void YPanelMouseUp(Qt::MouseButton button, int x, int y);
    void XPanelMouseDown(Qt::MouseButton button, int x, int y);
    void XPanelMouseMove(Qt::MouseButtons buttons, int x, int y);
    void XPanelMouseUp(Qt::MouseButton button, int x, int y);
    void YPanelResize();
    void XPanelResize();

    bool YDragging = false, XDragging = false;
    int YPressY = 0, XPressX = 0;

protected:
    void resizeEvent(QResizeEvent* e) override;

private:
    void SyncGeometry();
    void KeepYInTrack();
    void KeepXInTrack();
    TChartModel& model_;
    TPressureChart* chart_;
    QFrame* panel5_;
    QFrame* panel6_;
    TFreePanel* yPanel_;
    TFreePanel* xPanel_;
    TSetPointLines* setPoints_;
};

} // namespace vg57
