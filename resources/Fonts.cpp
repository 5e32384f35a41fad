#include "Fonts.h"

#include <QFontMetrics>

#include <algorithm>

namespace vg57 {
namespace {

QFont Sans(int pixelSize) {
    QFont font(QStringLiteral("Liberation Sans"));
    font.setStyleHint(QFont::SansSerif); // a sans fallback where the family is missing
    font.setPixelSize(pixelSize);
    return font;
}

} // namespace

QFont WindowFont() {
    return Sans(11);
}

QFont PressureFont() {
    QFont font = Sans(40);
    font.setBold(true);
    return font;
}

QFont LinkFont() {
    QFont font = Sans(13);
    font.setUnderline(true);
    return font;
}

int TextWidth(const QFont& font, const QString& text) {
    const QFontMetrics metrics(font);
    // Bold glyphs may reach past their advance; the ink counts, or the last one is shaved.
    return std::max(metrics.horizontalAdvance(text), metrics.boundingRect(text).right() + 1);
}

QFont FitFont(QFont font, const QString& text, int width) {
    int size = font.pixelSize();
    if (size <= 0) size = QFontMetrics(font).height(); // a point-sized font: start from its height
    font.setPixelSize(size);
    while (size > 1 && TextWidth(font, text) > width)
        font.setPixelSize(--size);
    return font;
}

} // namespace vg57
