// The compiled-in pictures render at their sizes and the list is in the design's order; the
// fonts resolve to Liberation Sans and a value is shrunk until it fits its box.
#include "Pictures.h"
#include "Fonts.h"

#include <QFontInfo>
#include <gtest/gtest.h>

using namespace vg57;

namespace {

// Share of pixels with any ink, 0 ... 1.
double Coverage(const QImage& image) {
    const QImage argb = image.convertToFormat(QImage::Format_ARGB32);
    int inked = 0;
    for (int y = 0; y < argb.height(); ++y)
        for (int x = 0; x < argb.width(); ++x)
            inked += qAlpha(argb.pixel(x, y)) > 0;
    return argb.isNull() ? 0.0 : double(inked) / (argb.width() * argb.height());
}

enum class TInk { Transparent, Green, Red, White, Grey, Brass, Blue };

bool Matches(QRgb p, TInk ink) {
    const int r = qRed(p), g = qGreen(p), b = qBlue(p), a = qAlpha(p);
    switch (ink) {
    case TInk::Transparent:
        return a == 0;
    case TInk::Green:
        return a == 255 && g > r + 60 && g > b + 60;
    case TInk::Red:
        return a == 255 && r > g + 80 && r > b + 80;
    case TInk::White:
        return a == 255 && r > 230 && g > 230 && b > 230;
    case TInk::Grey:
        return a == 255 && std::abs(r - g) < 20 && std::abs(g - b) < 25;
    case TInk::Brass:
        return a == 255 && r > b + 60 && g > b + 30;
    case TInk::Blue:
        return a == 255 && b > r + 60;
    }
    return false;
}

struct TSpot {
    int x, y;
    TInk ink;
};

} // namespace

TEST(Pictures, toolbarPicturesRenderAt32PixelsWithTheDesignsColours) {
    const struct {
        const char* name;
        std::vector<TSpot> spots; // in the 32 x 32 picture
    } list[] = {
        {"PlayTriangle", {{14, 16, TInk::Green}, {28, 4, TInk::Transparent}}},
        {"StopOctagon", {{16, 16, TInk::White}, {16, 5, TInk::Red}}},
        {"Wrench", {{16, 16, TInk::Grey}, {3, 3, TInk::Transparent}}},
        {"Balance", {{16, 16, TInk::Brass}, {5, 20, TInk::Brass}}},
        {"GreyGear", {{16, 16, TInk::Transparent}, {16, 9, TInk::Grey}}},
        {"BlueAndYellowGears", {{6, 20, TInk::Blue}, {27, 9, TInk::Brass}}},
        {"DoorWithRedArrow", {{26, 16, TInk::Red}, {8, 16, TInk::Brass}}},
    };
    ASSERT_EQ(std::size(list), std::size_t(kToolbarImageCount));
    for (int index = 0; index < kToolbarImageCount; ++index) {
        SCOPED_TRACE(list[index].name);
        const QIcon icon = ToolbarIcon(index);
        ASSERT_FALSE(icon.isNull());
        const QImage image =
            icon.pixmap(QSize(32, 32)).toImage().convertToFormat(QImage::Format_ARGB32);
        ASSERT_EQ(image.size(), QSize(32, 32));
        EXPECT_GT(Coverage(image), 0.2);
        EXPECT_EQ(qAlpha(image.pixel(0, 0)), 0) << "background not transparent";
        for (const TSpot& s : list[index].spots)
            EXPECT_TRUE(Matches(image.pixel(s.x, s.y), s.ink))
                << "at " << s.x << "," << s.y << ": " << std::hex << image.pixel(s.x, s.y);
    }
    EXPECT_TRUE(ToolbarIcon(-1).isNull());
    EXPECT_TRUE(ToolbarIcon(kToolbarImageCount).isNull());
}

TEST(Pictures, panelPicturesFillTheirBoxesOnATransparentGround) {
    struct TCase {
        const char* name;
        QPixmap pixmap;
        QSize size;
    };
    const TCase cases[] = {
        {"gauge on the window", GaugePicture(QSize(97, 121)), QSize(97, 121)},
        {"logo on the window", LogoPicture(QSize(108, 62)), QSize(108, 62)},
        {"logo in the about box", LogoPicture(QSize(209, 121)), QSize(209, 121)},
        {"gauge for a dense screen", GaugePicture(QSize(97, 121), 2.0), QSize(194, 242)},
    };
    for (const TCase& c : cases) {
        SCOPED_TRACE(c.name);
        ASSERT_EQ(c.pixmap.size(), c.size);
        EXPECT_EQ(c.pixmap.deviceIndependentSize().toSize(), c.size / c.pixmap.devicePixelRatio());
        const QImage image = c.pixmap.toImage().convertToFormat(QImage::Format_ARGB32);
        EXPECT_GT(Coverage(image), 0.3);
        EXPECT_EQ(qAlpha(image.pixel(0, 0)), 0);
        EXPECT_EQ(qAlpha(image.pixel(image.width() - 1, image.height() - 1)), 0);
    }
}

TEST(Pictures, programIconHasEverySizeFilled) {
    const QIcon icon = ProgramIcon();
    for (int size : kProgramIconSizes) {
        SCOPED_TRACE(size);
        EXPECT_TRUE(icon.availableSizes().contains(QSize(size, size)));
        const QImage image = ProgramIconImage(size);
        ASSERT_EQ(image.size(), QSize(size, size));
        // A portrait front view: about four fifths of the square.
        EXPECT_GT(Coverage(image), 0.6);
        EXPECT_LT(Coverage(image), 0.95);
    }
}

TEST(Fonts, windowAndPressureFontsAreLiberationSansAndTheStartTextsFit) {
    EXPECT_EQ(QFontInfo(WindowFont()).family(), QStringLiteral("Liberation Sans"));
    EXPECT_EQ(QFontInfo(PressureFont()).family(), QStringLiteral("Liberation Sans"));
    EXPECT_TRUE(QFontInfo(PressureFont()).bold());
    EXPECT_EQ(QFontInfo(PressureFont()).pixelSize(), 40);
    // "<Нет данных>" fills the 75-pixel value labels and the 282-pixel pressure box at full size.
    const QString none = QStringLiteral("<Нет данных>");
    EXPECT_LE(TextWidth(WindowFont(), none), 75);
    EXPECT_LE(TextWidth(PressureFont(), none), 282);
    EXPECT_EQ(FitFont(PressureFont(), none, 282).pixelSize(), 40);
}

TEST(Fonts, fitFontShrinksToTheLargestSizeThatFits) {
    // DejaVu Sans, the system's fallback, is a fifth wider: there "0.00012 мбар" overflows the
    // 282-pixel pressure box at 40 pixels, while Liberation Sans fits it as it is.
    QFont dejaVu = PressureFont();
    dejaVu.setFamily(QStringLiteral("DejaVu Sans"));
    ASSERT_EQ(QFontInfo(dejaVu).family(), QStringLiteral("DejaVu Sans"));
    struct TCase {
        const char* name;
        QFont font;
        const char* text;
        int width;
        bool shrinks;
    };
    const TCase cases[] = {
        {"fits as it is", PressureFont(), "0.00012 мбар", 282, false},
        {"wider font", dejaVu, "0.00012 мбар", 282, true},
        {"long value", PressureFont(), "1.23456789012345E-12 Торр", 282, true},
        {"nothing fits", PressureFont(), "0.00012 мбар", 1, true}, // the smallest size, never 0
    };
    for (const TCase& c : cases) {
        SCOPED_TRACE(c.name);
        const QString text = QString::fromUtf8(c.text);
        const QFont fitted = FitFont(c.font, text, c.width);
        EXPECT_EQ(fitted.family(), c.font.family());
        EXPECT_TRUE(fitted.bold());
        EXPECT_GE(fitted.pixelSize(), 1);
        EXPECT_EQ(fitted.pixelSize() < 40, c.shrinks) << fitted.pixelSize();
        if (fitted.pixelSize() > 1) {
            EXPECT_LE(TextWidth(fitted, text), c.width);
        }
        if (fitted.pixelSize() < 40) {
            QFont larger = fitted;
            larger.setPixelSize(fitted.pixelSize() + 1);
            EXPECT_GT(TextWidth(larger, text), c.width) << "shrunk further than needed";
        }
    }
}

TEST(Fonts, fitFontStartsAPointSizedFontFromItsHeight) {
    QFont font(QStringLiteral("Liberation Sans"));
    font.setPointSize(30);
    const QString text = QStringLiteral("0.00012 мбар");
    const QFont fitted = FitFont(font, text, 100);
    EXPECT_GT(fitted.pixelSize(), 1);
    EXPECT_LE(TextWidth(fitted, text), 100);
}
