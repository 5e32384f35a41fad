#include "SlopePlot.h"

#include "ChartLabels.h"
#include "PressureChart.h"
#include "PressureUnit.h"

#include <algorithm>

namespace vg57 {

namespace {
// Tick labels in the gauge's exponent format, as the pressure axis has them: "2E-6", "1.5E-6".
class TGaugeTicker : public QCPAxisTicker {
protected:
    QString getTickLabel(double tick, const QLocale&, QChar, int) override {
        return QString::fromStdString(FormatPressureLabel(tick));
    }
};
} // namespace

TSlopePlot::TSlopePlot(QWidget* parent) : QCustomPlot(parent) {
    setLocale(QLocale::c()); // '.' in the tick labels, whatever the regional settings
    setMinimumSize(280, 190);
    xAxis->setLabel(QStringLiteral("t, с"));
    yAxis->setTicker(QSharedPointer<QCPAxisTicker>(new TGaugeTicker));
    windows_ = addGraph();
    windows_->setLineStyle(QCPGraph::lsNone);
    windows_->setScatterStyle(QCPScatterStyle(QCPScatterStyle::ssDisc, QColor(0, 110, 0), 5));
    windows_->setName(QStringLiteral("в окнах"));
    errors_ = new QCPErrorBars(xAxis, yAxis);
    errors_->setDataPlottable(windows_);
    errors_->setPen(QPen(QColor(0, 110, 0)));
    errors_->removeFromLegend();
    line_ = addGraph();
    line_->setPen(QPen(QColor(120, 120, 120), 1, Qt::DashLine));
    line_->setName(QStringLiteral("прямая"));
    model_ = addGraph();
    model_->setPen(QPen(QColor(0, 70, 200), 2));
    model_->setName(QStringLiteral("с насыщением"));
    legend->setVisible(true);
    legend->setFont(ScaledFont(font(), 0.8));
    axisRect()->insetLayout()->setInsetAlignment(0, Qt::AlignTop | Qt::AlignRight);
}

void TSlopePlot::Show(const TLeakResult& r) {
    yAxis->setLabel(
        QStringLiteral("dp/dt, %1/с").arg(QString::fromUtf8(RussianUnitName(r.unit).data())));
    QVector<double> t, s, e;
    double lo = std::min(r.slope, 0.0), hi = std::max(r.slope, 0.0);
    for (const TSlopePoint& p : r.slopes) {
        t << p.t;
        s << p.slope;
        e << p.stderr_;
        lo = std::min(lo, p.slope - p.stderr_);
        hi = std::max(hi, p.slope + p.stderr_);
    }
    windows_->setData(t, s, true);
    errors_->setData(e);
    line_->setData({0, r.seconds}, {r.slope, r.slope}, true);
    const TSaturatingFit& fit = r.rise.saturating;
    const bool curve = r.rise.model == ELeakModel::lineAndSaturating && fit.ok;
    model_->setVisible(curve);
    model_->removeFromLegend();
    QVector<double> mt, ms;
    if (curve) {
        model_->addToLegend();
        constexpr int kPoints = 100;
        for (int i = 0; i <= kPoints; ++i) {
            const double x = r.seconds * i / kPoints;
            mt << x;
            ms << fit.SlopeAt(x);
            lo = std::min(lo, ms.back());
            hi = std::max(hi, ms.back());
        }
    }
    model_->setData(mt, ms, true);
    xAxis->setRange(0, std::max(r.seconds, 1e-3));
    const double margin = (hi - lo) * 0.08;
    yAxis->setRange(lo - margin, hi + margin + (hi > lo ? 0 : 1e-12));
    replot();
}

} // namespace vg57
