// The window's fonts. Liberation Sans stands in for the designed "MS Sans Serif" and "Arial":
// it is drawn to Arial's metrics, so texts measured for the design fit their boxes.
#pragma once

#include <QFont>
#include <QString>

namespace vg57 {

// The default font of the windows and dialogs: 11 pixels high.
QFont WindowFont();
// The large pressure value: bold, 40 pixels high.
QFont PressureFont();
// A web address shown as a link: 13 pixels high, underlined (the colour is the label's).
QFont LinkFont();

// `font` with its pixel size lowered, one pixel at a time, until `text` fits in `width`
// pixels; unchanged if it fits already. Never below 1 pixel. A value shown in a fixed box
// must not be clipped, so the box keeps its geometry and the text gives way.
QFont FitFont(QFont font, const QString& text, int width);

// The width `text` takes in `font`, including any ink that overhangs its advance.
int TextWidth(const QFont& font, const QString& text);

} // namespace vg57
