#include "Pictures.h"

#include <QPainter>
#include <QSvgRenderer>

#include <mutex>

// The resources live in this static library; registering them explicitly from the functions
// that read them keeps them linked in without relying on a static initialiser. Outside the
// namespace, as the macro requires.
static void RegisterPictureResources() {
    static std::once_flag once;
    std::call_once(once, [] { Q_INIT_RESOURCE(vg57); });
}

namespace vg57 {
namespace {

const char* const kToolbarFiles[kToolbarImageCount] = {
    ":/vg57/images/tool-start.svg",  ":/vg57/images/tool-stop.svg",
    ":/vg57/images/tool-wrench.svg", ":/vg57/images/tool-balance.svg",
    ":/vg57/images/tool-gear.svg",   ":/vg57/images/tool-gears.svg",
    ":/vg57/images/tool-exit.svg",
};

// Renders the SVG centred in `size` pixels with its proportions kept, on a transparent ground.
// A null image if the drawing can't be read.
QImage RenderSvg(const char* file, QSize size) {
    RegisterPictureResources();
    QSvgRenderer svg{QString::fromLatin1(file)};
    if (!svg.isValid() || size.isEmpty()) return {};
    QImage image(size, QImage::Format_ARGB32_Premultiplied);
    image.fill(Qt::transparent);
    const QSizeF fitted = QSizeF(svg.defaultSize()).scaled(QSizeF(size), Qt::KeepAspectRatio);
    const QPointF origin((size.width() - fitted.width()) / 2,
                         (size.height() - fitted.height()) / 2);
    QPainter painter(&image);
    painter.setRenderHint(QPainter::Antialiasing);
    svg.render(&painter, QRectF(origin, fitted));
    return image;
}

QPixmap RenderPixmap(const char* file, QSize size, qreal dpr) {
    if (dpr <= 0) dpr = 1.0;
    QPixmap pixmap = QPixmap::fromImage(RenderSvg(file, (QSizeF(size) * dpr).toSize()));
    pixmap.setDevicePixelRatio(dpr);
    return pixmap;
}

} // namespace

QIcon ToolbarIcon(int index) {
    if (index < 0 || index >= kToolbarImageCount) return {};
    QIcon icon;
    for (int side : {16, 32, 64})
        icon.addPixmap(QPixmap::fromImage(RenderSvg(kToolbarFiles[index], QSize(side, side))));
    return icon;
}

QPixmap GaugePicture(QSize size, qreal dpr) {
    return RenderPixmap(":/vg57/images/gauge.svg", size, dpr);
}

QPixmap LogoPicture(QSize size, qreal dpr) {
    return RenderPixmap(":/vg57/images/logo.svg", size, dpr);
}

QImage ProgramIconImage(int size) {
    const char* file = size <= 32 ? ":/vg57/images/icon-small.svg" : ":/vg57/images/gauge.svg";
    return RenderSvg(file, QSize(size, size));
}

QIcon ProgramIcon() {
    QIcon icon;
    for (int size : kProgramIconSizes)
        icon.addPixmap(QPixmap::fromImage(ProgramIconImage(size)));
    return icon;
}

} // namespace vg57
