// dp/dt over the interval, small, beside the leak rate's figures: the slope in sliding windows
// with their standard errors, the line's constant slope, and the saturating model's slope when
// the leak rate comes from it. A rise that slows (outgassing) shows as falling points, a leak as
// points level with the line.
#pragma once

#include "LeakRate.h"

#include <qcustomplot.h>

namespace vg57 {

class TSlopePlot : public QCustomPlot {
public:
    explicit TSlopePlot(QWidget* parent = nullptr);
    void Show(const TLeakResult& r);

    QCPGraph* Windows() const { return windows_; }
    QCPGraph* Line() const { return line_; }
    QCPGraph* Model() const { return model_; }

private:
    QCPGraph* windows_;
    QCPErrorBars* errors_;
    QCPGraph* line_;
    QCPGraph* model_;
};

} // namespace vg57
