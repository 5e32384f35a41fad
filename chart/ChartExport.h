// The chart as shown, saved to a file whose extension chooses the format: PNG and PDF as the
// plot writes them, SVG through Qt SVG.
#pragma once

#include <QString>

class QCustomPlot;

namespace vg57 {

// Empty when written; otherwise the reason in Russian, naming the file.
QString SaveChartImage(QCustomPlot& plot, const QString& path);

} // namespace vg57
