// The program's pictures, drawn as SVG and compiled in: the tool-bar image list, the gauge's
// front view, the distributor's logo and the program icon. Each is rendered at the size asked
// for, so it stays sharp on any screen scale. Needs a QGuiApplication (the SVGs carry text).
#pragma once

#include <QIcon>
#include <QImage>
#include <QPixmap>
#include <QSize>

namespace vg57 {

// The tool bar's image list: 0 start (green triangle), 1 stop (red octagon with a white cross),
// 2 wrench, 3 balance, 4 grey gear, 5 blue and yellow gears, 6 door with a red arrow.
inline constexpr int kToolbarImageCount = 7;

// Image `index` of the list, at 16, 32 and 64 pixels; a null icon for an index outside it.
QIcon ToolbarIcon(int index);

// The gauge's front view (designed at 97 x 121) and the distributor's logo (designed at
// 209 x 121; shown at 108 x 62 too). Transparent background; the picture keeps its proportions
// and is centred in `size`. `dpr` renders for a high-density screen: the pixmap has size * dpr
// pixels and reports `size` to layouts.
QPixmap GaugePicture(QSize size, qreal dpr = 1.0);
QPixmap LogoPicture(QSize size, qreal dpr = 1.0);

// The program icon: a front view of the gauge, square, in 16, 32, 48 and 256 pixels. The two
// small sizes use a reduced drawing, since the digits and labels blur into noise there.
inline constexpr int kProgramIconSizes[] = {16, 32, 48, 256};
QImage ProgramIconImage(int size);
QIcon ProgramIcon();

} // namespace vg57
