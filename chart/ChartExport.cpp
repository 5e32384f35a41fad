#include "ChartExport.h"

#include <qcustomplot.h>

#include <QFileInfo>
#include <QSvgGenerator>

namespace vg57 {

namespace {

bool SaveSvg(QCustomPlot& plot, const QString& path) {
    QSvgGenerator svg;
    svg.setFileName(path);
    svg.setSize(plot.size());
    svg.setViewBox(plot.rect());
    svg.setTitle(QStringLiteral("vg57"));
    QCPPainter painter;
    if (!painter.begin(&svg)) return false;
    plot.toPainter(&painter, plot.width(), plot.height());
    return painter.end();
}

} // namespace

QString SaveChartImage(QCustomPlot& plot, const QString& path) {
    const QString suffix = QFileInfo(path).suffix().toLower();
    bool ok = false;
    if (suffix == QLatin1String("png"))
        ok = plot.savePng(path);
    else if (suffix == QLatin1String("pdf"))
        ok = plot.savePdf(path);
    else if (suffix == QLatin1String("svg"))
        ok = SaveSvg(plot, path);
    else
        return QStringLiteral("%1: формат не известен, нужно расширение .png, .svg или .pdf")
            .arg(path);
    // The writers say no more than that they failed; the usual cause is the file itself.
    if (!ok || !QFileInfo(path).isFile() || QFileInfo(path).size() == 0)
        return QStringLiteral("%1: не удалось записать файл").arg(path);
    return {};
}

} // namespace vg57
