// The about box, offscreen: how it closes, what its links call, and that its text and controls
// fit the fixed box.
#include "About.h"

#include <QApplication>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QScrollBar>
#include <QTest>
#include <QTimer>
#include <gtest/gtest.h>

#include <memory>

using namespace vg57;

namespace {

struct TOpenerLog {
    QStringList urls;
    TPageOpener Opener() {
        return [this](const QString& url) { urls << url; };
    }
};

struct TCloseKey {
    const char* name;
    Qt::Key key;
    bool focusOnText; // the read-only text clicked into first
    int expected;     // what exec() returns
};

class AboutCloseKey : public ::testing::TestWithParam<TCloseKey> {};

} // namespace

TEST_P(AboutCloseKey, keyClosesTheBoxFromWhereverTheFocusIs) {
    const TCloseKey& c = GetParam();
    TOpenerLog log;
    TAboutForm box(nullptr, log.Opener());
    bool keySent = false;
    QTimer::singleShot(0, &box, [&] {
        QWidget* target = box.btnClose();
        if (c.focusOnText) {
            QTest::mouseClick(box.RichEdit1()->viewport(), Qt::LeftButton);
            target = box.RichEdit1();
        }
        QTest::keyClick(target, c.key);
        keySent = true;
    });
    // Should the key not close it, the box is closed anyway so the test ends and fails.
    QTimer::singleShot(3000, &box, [&] { box.done(-1); });
    const int result = box.exec();
    EXPECT_TRUE(keySent);
    EXPECT_EQ(result, c.expected);
    EXPECT_FALSE(box.isVisible());
    EXPECT_TRUE(log.urls.isEmpty());
}

INSTANTIATE_TEST_SUITE_P(
    Keys, AboutCloseKey,
    ::testing::Values(TCloseKey{"EnterOnButton", Qt::Key_Return, false, QDialog::Accepted},
                      TCloseKey{"KeypadEnterOnButton", Qt::Key_Enter, false, QDialog::Accepted},
                      TCloseKey{"EscapeOnButton", Qt::Key_Escape, false, QDialog::Rejected},
                      TCloseKey{"EnterInText", Qt::Key_Return, true, QDialog::Accepted},
                      TCloseKey{"EscapeInText", Qt::Key_Escape, true, QDialog::Rejected}),
    [](const auto& info) { return std::string(info.param.name); });

TEST(AboutLinks, logoAndAddressOpenTheOneDistributorPage) {
    TOpenerLog log;
    TAboutForm box(nullptr, log.Opener());
    box.show();
    QTest::mouseClick(box.Image1(), Qt::LeftButton);
    QTest::mouseClick(box.StaticText1(), Qt::LeftButton);
    const QString url = QString::fromLatin1(kDistributorUrl);
    EXPECT_EQ(log.urls, QStringList({url, url}));
    EXPECT_EQ(box.StaticText1()->text(), url);
    EXPECT_EQ(box.Image1()->cursor().shape(), Qt::PointingHandCursor);
    EXPECT_EQ(box.StaticText1()->cursor().shape(), Qt::PointingHandCursor);
}

TEST(AboutLinks, releaseOutsideTheLinkOrAnotherButtonOpensNothing) {
    TOpenerLog log;
    TAboutForm box(nullptr, log.Opener());
    box.show();
    TLinkLabel* logo = box.Image1();
    QTest::mousePress(logo, Qt::LeftButton, {}, QPoint(10, 10));
    QTest::mouseRelease(logo, Qt::LeftButton, {}, QPoint(logo->width() + 20, 10));
    QTest::mouseClick(logo, Qt::RightButton);
    QTest::mouseClick(box.StaticText1(), Qt::MiddleButton);
    EXPECT_TRUE(log.urls.isEmpty());
}

TEST(AboutLayout, fixedBoxHoldsItsControlsAndTheWholeText) {
    TAboutForm box(nullptr, {});
    box.show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(&box));
    EXPECT_EQ(box.minimumSize(), box.maximumSize());

    const QRect logo = box.Image1()->geometry();
    const QRect address = box.StaticText1()->geometry();
    EXPECT_FALSE(box.Image1()->pixmap().isNull());
    EXPECT_GT(address.left(), logo.right());
    EXPECT_EQ(address.bottom(), logo.bottom());
    EXPECT_LE(address.right(), box.width());
    EXPECT_GE(address.width(), box.StaticText1()->sizeHint().width()) << "address clipped";

    const QRect text = box.RichEdit1()->geometry();
    EXPECT_GT(text.top(), logo.bottom());
    EXPECT_TRUE(box.RichEdit1()->isReadOnly());
    // The whole description shows without scrolling.
    EXPECT_EQ(box.RichEdit1()->verticalScrollBar()->maximum(), 0);
    EXPECT_EQ(box.RichEdit1()->horizontalScrollBar()->maximum(), 0);

    const QRect close = box.btnClose()->geometry();
    EXPECT_GT(close.top(), text.bottom());
    EXPECT_LE(close.bottom(), box.height());
    EXPECT_LE(std::abs(close.center().x() - box.width() / 2), 1);
    EXPECT_TRUE(box.btnClose()->isDefault());
}

TEST(AboutText, namesThisBuildsVersionAndLicenceAndNoPlaceholder) {
    const QString text = AboutText();
    EXPECT_TRUE(text.contains(QStringLiteral("Версия " VG57_VERSION "."))) << VG57_VERSION;
    EXPECT_TRUE(text.contains(QStringLiteral("GNU General Public License версии 3")));
    for (const char* placeholder : {"заполняется", "000", "vg57@", "info@"})
        EXPECT_FALSE(text.contains(QString::fromUtf8(placeholder))) << placeholder;
}
