// The set point dialog's checks, offscreen: which texts pass, and what the operator is told.
#include "SPSetup.h"

#include <QApplication>
#include <QComboBox>
#include <QLabel>
#include <QLineEdit>
#include <QMessageBox>
#include <QPushButton>
#include <QTest>
#include <QTimer>
#include <gtest/gtest.h>

#include <functional>
#include <utility>

using namespace vg57;

namespace {

// A dialog with every field valid, whose input errors and questions are recorded instead of
// shown; the operator answers every question with `write`.
struct Form {
    TSPSetupForm form;
    QStringList shown, asked;
    bool write = true;
    Form() {
        for (QLineEdit* f : form.Fields())
            f->setText("1");
        form.ShowInputError = [this](const QString& text) { shown << text; };
        form.ConfirmWrite = [this](const QString& question) {
            asked << question;
            return write;
        };
    }
    // Presses "Ok"; returns the message shown, or "accepted".
    QString PressOk() {
        shown.clear();
        QTest::mouseClick(form.Button1, Qt::LeftButton);
        if (form.result() == QDialog::Accepted) return shown.isEmpty() ? "accepted" : "both?";
        return shown.size() == 1 ? shown[0] : QString("%1 messages").arg(shown.size());
    }
};

QString Range(const char* name) {
    return QString("Значение %1 вне диапазона 1.0E-9 … 9.9E+9 (или 0)").arg(name);
}
// The next widget that Tab reaches (labels hold no focus).
const QWidget* NextTabStop(const QWidget* w) {
    do
        w = w->nextInFocusChain();
    while (!(w->focusPolicy() & Qt::TabFocus));
    return w;
}

QString Bad(const char* name) {
    return QString("Ошибка в записи числа %1").arg(name);
}

} // namespace

TEST(SetPointDialog, eachTextIsAcceptedOrNamedWithItsFault) {
    struct Row {
        int field;
        const char* text;
        QString expected;
    };
    const Row rows[] = {
        {0, "1.5E-3", "accepted"},     {1, "+7", "accepted"},
        {2, "1e2", "accepted"},        {3, "  12", "accepted"},
        {4, "0", "accepted"},          {5, "9.94E9", "accepted"}, // rounds to 9.9E9
        {0, "9.96E-10", "accepted"},                              // rounds to 1.0E-9
        {5, "1,5", "accepted"},        {1, "1,2.5", Bad("SP1H")}, // ',' or '.', one of them
        {0, "12 ", Bad("SP1L")},                                  // nothing may follow
        {2, "", Bad("SP2L")},          {3, "abc", Bad("SP2H")},
        {4, "1e5000", Range("SP3L")},                                // a number, if a huge one
        {2, "-1e5000", Range("SP2L")}, {1, "-2", Range("SP1H")},     // the gauge carries no sign
        {1, "-0.5", Range("SP1H")},    {5, "9.96E9", Range("SP3H")}, // rounds to 1.0E10
        {4, "9.4E-10", Range("SP3L")}, {3, "5E20", Range("SP2H")},
        {0, "1e-5000", Range("SP1L")}, // no zero, however small it reads
    };
    for (const Row& r : rows) {
        Form f;
        QLineEdit* field = f.form.Fields()[std::size_t(r.field)];
        field->setText(r.text);
        EXPECT_EQ(f.PressOk(), r.expected) << '"' << r.text << '"';
        EXPECT_EQ(field->text(), r.text) << "texts stay as typed";
    }
}

TEST(SetPointDialog, okAsksBeforeSetPointsTheGaugeWillRoundAndNoReturnsToTheDialog) {
    struct Row {
        std::array<const char*, 2> texts; // SP1H, SP2H; the others hold "1"
        bool write;
        QString asked; // empty: nothing asked
    } rows[] = {
        {{"0.3", "1,50"}, false, ""}, // two digits as typed, although not exact in binary
        {{"12345", "1"}, false, "SP1H: 12345 → 1.2E+4. Записать?"},
        {{"12345", "1,995"}, true, "SP1H: 12345 → 1.2E+4\nSP2H: 1,995 → 2.0E+0. Записать?"},
    };
    for (const Row& r : rows) {
        Form f;
        f.write = r.write;
        f.form.SP1L->setText("0"); // off: below any high bound
        f.form.SP1H->setText(r.texts[0]);
        f.form.SP2H->setText(r.texts[1]);
        const QString result = f.PressOk();
        EXPECT_EQ(f.asked, r.asked.isEmpty() ? QStringList() : QStringList{r.asked}) << r.texts[0];
        EXPECT_EQ(result, r.asked.isEmpty() || r.write ? "accepted" : "0 messages") << r.texts[0];
        EXPECT_EQ(f.form.SP1H->text(), r.texts[0]) << "texts stay as typed";
    }
}

TEST(SetPointDialog, onlyTheFirstBadFieldIsReportedUntilItIsMended) {
    Form f;
    f.form.SP1L->setText("");
    f.form.SP2H->setText("abc");
    EXPECT_EQ(f.PressOk(), Bad("SP1L"));
    f.form.SP1L->setText("2");
    EXPECT_EQ(f.PressOk(), Bad("SP2H"));
    f.form.SP2H->setText("-1");
    EXPECT_EQ(f.PressOk(), Range("SP2H"));
}

TEST(SetPointDialog, aLowBoundAboveItsHighBoundIsAskedAboutFirstWithTheHeldValues) {
    struct Row {
        std::array<const char*, 4> texts; // SP1L, SP1H, SP3L, SP3H; the SP2 pair holds "1"
        bool write;
        QStringList asked;
    } rows[] = {
        {{"1.5", "0.005", "1", "1"}, false, {"SP1L (1.5E+0) больше SP1H (5.0E-3). Записать?"}},
        {{"0", "0.005", "1", "1"}, false, {}},    // a relay switched off
        {{"5E-3", "0.005", "1", "1"}, false, {}}, // equal bounds
        {{"5E-3", "5E-3", "2", "0"}, false, {"SP3L (2.0E+0) больше SP3H (0.0E+0). Записать?"}},
        {{"1", "0.5", "12345", "1"},
         true,
         {"SP1L (1.0E+0) больше SP1H (5.0E-1)\nSP3L (1.2E+4) больше SP3H (1.0E+0). Записать?",
          "SP3L: 12345 → 1.2E+4. Записать?"}},
    };
    for (const Row& r : rows) {
        Form f;
        f.write = r.write;
        for (int i : {0, 1, 4, 5})
            f.form.Fields()[std::size_t(i)]->setText(r.texts[std::size_t(i < 4 ? i : i - 2)]);
        const QString result = f.PressOk();
        EXPECT_EQ(f.asked, r.asked) << r.texts[0];
        EXPECT_EQ(result, r.asked.isEmpty() || r.write ? "accepted" : "0 messages") << r.texts[0];
    }
}

// The six fields keep their pressures across a unit change, as the gauge will hold them, and
// come back as they were when their unit is chosen again; a field typed meanwhile is taken in
// the unit it was typed in.
TEST(SetPointDialog, anotherUnitConvertsTheFieldsOnTheSpot) {
    TSPSetupForm d;
    const std::array<const char*, 6> read = {"0.001", "0.005", "0.1", "0", "1000", "abc"};
    for (std::size_t i = 0; i < read.size(); ++i)
        d.Fields()[i]->setText(read[i]);
    d.SetGaugeUnit(0);
    using Texts = std::array<std::string, 6>;
    d.UnitMeasure->setCurrentIndex(1);
    EXPECT_EQ(d.Texts(), (Texts{"7.5E-6", "3.8E-5", "0.00075", "0", "7.5", "abc"}));
    EXPECT_EQ(d.SetPointUnit->text(), "в единицах: Torr");
    d.UnitMeasure->setCurrentIndex(2);
    EXPECT_EQ(d.Texts(), (Texts{"1E-5", "5E-5", "0.001", "0", "10", "abc"}));
    d.SP2L->setText("2");
    d.UnitMeasure->setCurrentIndex(0);
    EXPECT_EQ(d.Texts(), (Texts{"0.001", "0.005", "200", "0", "1000", "abc"}));
    EXPECT_EQ(d.SetPointUnit->text(), "в единицах: Па");

    d.SetGaugeUnit(-1); // a unit the list does not know: nothing to convert from
    d.UnitMeasure->setCurrentIndex(1);
    EXPECT_EQ(d.Texts(), (Texts{"0.001", "0.005", "200", "0", "1000", "abc"}));
}

// Cancel is always possible, with bad texts too, and tells the operator nothing.
TEST(SetPointDialog, cancelByButtonEscapeOrCloseButtonRejectsAndChangesNothing) {
    const std::pair<const char*, std::function<void(TSPSetupForm&)>> rows[] = {
        {"Отмена", [](TSPSetupForm& d) { QTest::mouseClick(d.Button2, Qt::LeftButton); }},
        {"Escape", [](TSPSetupForm& d) { QTest::keyClick(d.SP3L, Qt::Key_Escape); }},
        {"close button", [](TSPSetupForm& d) { d.close(); }},
    };
    for (const auto& [how, cancel] : rows) {
        for (const char* sp2h : {"7E-1", "abc"}) {
            Form f;
            f.form.UnitMeasure->setCurrentIndex(2);
            for (QLineEdit* field : f.form.Fields())
                field->setText("1");
            f.form.SP2H->setText(sp2h);
            f.form.show();
            f.form.SP3L->setFocus();
            f.form.setResult(-1);
            cancel(f.form);
            EXPECT_EQ(f.form.result(), QDialog::Rejected) << how << " " << sp2h;
            EXPECT_FALSE(f.form.isVisible()) << how;
            EXPECT_TRUE(f.shown.isEmpty()) << how;
            EXPECT_EQ(f.form.Texts(), (std::array<std::string, 6>{"1", "1", "1", sp2h, "1", "1"}))
                << how;
            EXPECT_EQ(f.form.UnitMeasure->currentIndex(), 2) << how;
        }
    }
}

TEST(SetPointDialog, layoutAndTabOrder) {
    TSPSetupForm d;
    EXPECT_EQ(d.minimumSize(), d.maximumSize()) << "a fixed frame";
    EXPECT_FALSE(d.UnitMeasure->isEditable());
    QStringList units;
    for (int i = 0; i < d.UnitMeasure->count(); ++i)
        units << d.UnitMeasure->itemText(i);
    EXPECT_EQ(units, QStringList({"Па", "Torr", "mBar"}));
    const QWidget* order[] = {d.SP1L, d.SP1H,        d.SP2L,    d.SP2H,   d.SP3L,
                              d.SP3H, d.UnitMeasure, d.Button1, d.Button2};
    for (std::size_t i = 1; i < std::size(order); ++i)
        EXPECT_EQ(NextTabStop(order[i - 1]), order[i]) << i;
    EXPECT_TRUE(d.Button1->isDefault());
}

// The real message box: owned by the dialog, error icon, one OK button, caption "Ошибка!"; after
// it the dialog is still open, its texts unchanged, the field at fault focused and selected.
TEST(SetPointDialog, enterInAFieldShowsTheErrorBoxAndFocusesTheFieldAtFault) {
    TSPSetupForm d;
    for (QLineEdit* f : d.Fields())
        f->setText("1");
    d.SP1L->setText("1..5");
    d.show();
    QApplication::setActiveWindow(&d);
    d.SP3L->setFocus();
    ASSERT_TRUE(QTest::qWaitForWindowActive(&d));
    bool boxSeen = false;
    QTimer::singleShot(0, [&] {
        auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget());
        ASSERT_NE(box, nullptr);
        boxSeen = true;
        EXPECT_EQ(box->parent(), &d);
        EXPECT_EQ(box->windowTitle(), "Ошибка!");
        EXPECT_EQ(box->text(), Bad("SP1L"));
        EXPECT_EQ(box->icon(), QMessageBox::Critical);
        EXPECT_EQ(box->standardButtons(), QMessageBox::Ok);
        box->button(QMessageBox::Ok)->click();
    });
    QTest::keyClick(d.SP3L, Qt::Key_Return);
    EXPECT_TRUE(boxSeen);
    EXPECT_TRUE(d.isVisible());
    EXPECT_NE(d.result(), QDialog::Accepted);
    EXPECT_EQ(d.SP1L->text(), "1..5");
    EXPECT_EQ(d.focusWidget(), d.SP1L);
    EXPECT_EQ(d.SP1L->selectedText(), "1..5");
}
