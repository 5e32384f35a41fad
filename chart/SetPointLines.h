// The gauge's six relay set points over the chart: thin dashed horizontal lines, one colour per
// relay, each labelled with its relay ("SP1") at the right edge. They are shown in the display
// unit, converted from the unit they were read in; a set point of 0 (relay off), one not known
// and one outside the pressure axis's range are not drawn. They are only drawn: the automatic
// pressure range never widens for them. With several gauges they are the chosen gauge's, each
// labelled with its bound ("SP1L", "SP1H").
#pragma once

#include <QObject>

#include <array>
#include <map>
#include <string>

class QCPItemLine;
class QCPItemText;

namespace vg57 {

class TChartModel;
class TPressureChart;

// What the window knows of the set points: the values as the gauge gave them, in order SP1L,
// SP1H, SP2L, SP2H, SP3L, SP3H, with the unit code read together with them.
struct TChartSetPoints {
    static constexpr int kCount = 6;
    std::array<double, kCount> values{};
    std::string unitCode;
    bool known = false;
};

class TSetPointLines : public QObject {
    Q_OBJECT
public:
    TSetPointLines(TPressureChart& chart, const TChartModel& model);

    // The single gauge's set points; with several gauges, those of the gauge at `address`.
    void SetPoints(const TChartSetPoints& points);
    void SetGaugePoints(int address, const TChartSetPoints& points);
    // The set points drawn: the chosen gauge's.
    const TChartSetPoints& Points() const;
    // "Показывать уставки на графике"; on at start.
    void SetShown(bool on);
    bool Shown() const { return shown_; }

    // Set point i's line and label; placed at every replot from the axis range of that moment.
    QCPItemLine* Line(int i) const { return lines_[static_cast<std::size_t>(i)]; }
    QCPItemText* Label(int i) const { return labels_[static_cast<std::size_t>(i)]; }

private:
    void Place();

    TPressureChart& chart_;
    const TChartModel& model_;
    TChartSetPoints points_;
    std::map<int, TChartSetPoints> byGauge_;
    bool shown_ = true;
    std::array<QCPItemLine*, TChartSetPoints::kCount> lines_{};
    std::array<QCPItemText*, TChartSetPoints::kCount> labels_{};
};

} // namespace vg57
