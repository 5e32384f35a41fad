// Build-time helper: writes the program icon as PNG files in the hicolor theme's layout,
// <dir>/<n>x<n>/apps/vg57.png, for the install step. PNGs, since not every desktop of a plain
// system reads SVG icons.
#include "Pictures.h"

#include <QDir>
#include <QGuiApplication>
#include <QImage>

#include <cstdio>

int main(int argc, char** argv) {
    if (argc != 2) {
        std::fprintf(stderr, "usage: %s <hicolor directory>\n", argv[0]);
        return 2;
    }
    // No display at build time; the renderer only needs fonts.
    qputenv("QT_QPA_PLATFORM", "offscreen");
    QGuiApplication app(argc, argv);
    const QString root = QString::fromLocal8Bit(argv[1]);
    for (int size : vg57::kProgramIconSizes) {
        const QString dir = QStringLiteral("%1/%2x%2/apps").arg(root).arg(size);
        const QString file = dir + QStringLiteral("/vg57.png");
        const QImage image = vg57::ProgramIconImage(size);
        if (image.isNull() || !QDir().mkpath(dir) || !image.save(file, "PNG")) {
            std::fprintf(stderr, "cannot write the %dx%d icon to %s\n", size, size,
                         qPrintable(file));
            return 1;
        }
    }
    return 0;
}
