// The numeric spin field: its text rules, and the field as the program settings dialog sets it
// up (0.5 ... 3600, step 0.5, one to three decimals shown), typed into with real key events.
#include "FloatSpinEdit.h"
#include "AppSett.h"
#include "AppSettFlow.h"

#include <QApplication>
#include <QLineEdit>
#include <QPushButton>
#include <QSignalSpy>
#include <QTest>
#include <gtest/gtest.h>

#include <clocale>
#include <cmath>
#include <utility>

using namespace vg57;

TEST(SpinText, numbersReadWithAPointOrACommaWhateverTheRegionalSettings) {
    // Under a comma locale strtod would read "1.5" as 1; the field must not.
    const char* old = std::setlocale(LC_NUMERIC, nullptr);
    const std::string saved = old ? old : "C";
    ASSERT_NE(std::setlocale(LC_NUMERIC, "ru_RU.UTF-8"), nullptr) << "the install step makes it";
    struct Row {
        const char* text;
        double expected; // NAN: not a number, reads as the fallback
    } rows[] = {
        {"1.5", 1.5},  {"+2.5", 2.5}, {"-3", -3},   {"1E3", 1000},  {"2.5e-1", 0.25}, {".5", 0.5},
        {"5.", 5},     {"", NAN},     {"-", NAN},   {"+", NAN},     {"1e", NAN},      {"1-2", NAN},
        {"+-1", NAN},  {"1,5", 1.5},  {" 1", NAN},  {",5", 0.5},    {"1,2.5", NAN},   {"1,,2", NAN},
        {"2,5e1", 25}, {"inf", NAN},  {"nan", NAN}, {"1E999", NAN}, {"0x10", NAN},    {"1..2", NAN},
    };
    for (const Row& r : rows) {
        const double v = ParseSpinText(r.text, -42.0);
        if (std::isnan(r.expected))
            EXPECT_EQ(v, -42.0) << r.text;
        else
            EXPECT_DOUBLE_EQ(v, r.expected) << r.text;
    }
    // Shown as typed, rounded half away from zero: 4.35 is 4.3499... in binary.
    const std::pair<double, const char*> shown[] = {
        {0.5, "0.5"},   {0.75, "0.8"},    {1.25, "1.3"},  {4.35, "4.4"},   {3600, "3600.0"},
        {9.96, "10.0"}, {99.95, "100.0"}, {-0.04, "0.0"}, {-1.25, "-1.3"}, {0.04999, "0.0"},
    };
    for (const auto& [v, text] : shown)
        EXPECT_EQ(FormatSpinValue(v, 1), text) << v;
    EXPECT_EQ(FormatSpinValue(2.5, 0), "3");
    EXPECT_EQ(FormatSpinValue(1.2345, 1, 3), "1.235") << "the polling interval's form";
    EXPECT_EQ(FormatSpinValue(1e300, 1).size(), 303u);
    std::setlocale(LC_NUMERIC, saved.c_str());
}

namespace {

// The dialog's own field, shown and focused, so that leaving it is a real focus change.
struct Field : ::testing::Test {
    Field() {
        form.show();
        form.activateWindow();
        EXPECT_TRUE(QTest::qWaitForWindowActive(&form));
        spin->setFocus();
    }
    void Type(const char* keys) {
        spin->selectAll();
        QTest::keyClicks(spin, QString::fromLatin1(keys));
    }
    void Leave() {
        form.BtnOk->setFocus();
        QApplication::processEvents();
    }
    TAppSettingsForm form;
    TFloatSpinEdit* spin = form.DevFrequency;
};

} // namespace

TEST_F(Field, keysAreRefusedWithABeepAndTheTypedValueIsTheValueUsed) {
    struct Row {
        const char* keys;
        const char* typed;           // the text after the keys
        int refused;                 // keys refused
        const char* shown;           // the text after leaving the field
        int ms;                      // the polling interval the value gives
        const char* first = nullptr; // typed before, so that the keys go over it selected
    } rows[] = {
        {"0.75", "0.75", 0, "0.75", 750},
        {"2.5", "2.5", 0, "2.5", 2500},
        {"1", "1", 0, "1.0", 1000},
        {"1,5", "1,5", 0, "1.5", 1500},
        {"1.2.5", "1.25", 1, "1.25", 1250},
        {"1,2.5", "1,25", 1, "1.25", 1250},
        {"1e3", "1e3", 0, "1000.0", 1000000},
        {"2E1e", "2E1", 1, "20.0", 20000},
        {"5000", "5000", 0, "3600.0", 3600000},
        {"0.1", "0.1", 0, "0.5", 500},
        {"-7", "-7", 0, "0.5", 500},
        {"abc", "0.5", 3, "0.5", 500},
        {"1e", "1e", 0, "1.0", 1000}, // no number yet: the last one typed holds
        {" +4.35", "+4.35", 1, "4.35", 4350},
        {"x9", "9", 1, "9.0", 9000},
        // The text as it stands is judged, a selection the key would replace included.
        {".5", "5", 1, "5.0", 5000},
        {"E3", "3", 1, "3.0", 3000, "2e1"},
        {"e3", "3", 1, "3.0", 3000, "2E1"},
        {"e3", "e3", 0, "2.5", 2500, "2.5"},
    };
    for (const Row& r : rows) {
        spin->setValue(0.5);
        spin->setFocus();
        if (r.first) Type(r.first);
        QSignalSpy refused(spin, &TFloatSpinEdit::keyRefused);
        Type(r.keys);
        EXPECT_EQ(spin->text(), QString::fromLatin1(r.typed)) << r.keys;
        EXPECT_EQ(refused.count(), r.refused) << r.keys;
        Leave();
        EXPECT_EQ(spin->text(), QString::fromLatin1(r.shown)) << r.keys;
        EXPECT_EQ(PollingIntervalMs(spin->value()), r.ms) << r.keys;
        // Reading the shown text again (as Enter in the field does) keeps the typed value.
        spin->interpretText();
        EXPECT_EQ(PollingIntervalMs(spin->value()), r.ms) << r.keys << " (read again)";
    }
}

// An emptied field is no number: nothing reads it while it is empty, and leaving it brings back
// the value it had, never the minimum.
TEST_F(Field, anEmptiedFieldChangesNoValueAndGetsItsValueBackOnLeaving) {
    for (const char* keys : {"", "-", "e"}) {
        spin->setValue(2.5);
        spin->setFocus();
        QSignalSpy changed(spin, &QDoubleSpinBox::valueChanged);
        spin->selectAll();
        QTest::keyClick(spin, Qt::Key_Delete);
        QTest::keyClicks(spin, QString::fromLatin1(keys));
        EXPECT_EQ(spin->text(), QString::fromLatin1(keys));
        EXPECT_EQ(changed.count(), 0) << keys;
        Leave();
        EXPECT_EQ(spin->text(), QStringLiteral("2.5")) << keys;
        EXPECT_EQ(PollingIntervalMs(spin->value()), 2500) << keys;
    }
}

TEST_F(Field, arrowKeysStepByHalfASecondWithinTheBounds) {
    struct Row {
        const char* keys;
        int steps; // + up, - down
        const char* shown;
    } rows[] = {
        {"0.5", 1, "1.0"},      {"0.5", -1, "0.5"},  {"3599", 3, "3600.0"},
        {"5000", -1, "3599.5"}, {"0.75", 1, "1.25"}, {"1", -4, "0.5"},
    };
    for (const Row& r : rows) {
        Type(r.keys);
        for (int i = 0; i < std::abs(r.steps); ++i)
            QTest::keyClick(spin, r.steps > 0 ? Qt::Key_Up : Qt::Key_Down);
        Leave();
        EXPECT_EQ(spin->text(), QString::fromLatin1(r.shown)) << r.keys << " " << r.steps;
        spin->setFocus();
    }
}

TEST_F(Field, enterAndEscapeInTheFieldReachTheDialogsButtons) {
    Type("2.5");
    QTest::keyClick(spin, Qt::Key_Return);
    EXPECT_EQ(form.result(), QDialog::Accepted);
    EXPECT_DOUBLE_EQ(spin->value(), 2.5);

    form.show();
    spin->setFocus();
    form.setResult(-1);
    QTest::keyClick(spin, Qt::Key_Escape);
    EXPECT_EQ(form.result(), QDialog::Rejected);
}
