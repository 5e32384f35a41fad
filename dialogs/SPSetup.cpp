#include "SPSetup.h"

#include "Codec.h"
#include "NumberFormat.h"

#include <QComboBox>
#include <QGridLayout>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QMessageBox>
#include <QPushButton>
#include <QScreen>
#include <QVBoxLayout>

#include <algorithm>

namespace vg57 {

namespace {

// A text too small for the number type parses as zero; a set point of zero switches the relay
// off, so a text with any non-zero digit before its exponent is no zero.
bool SpellsZero(const std::string& text) {
    const auto mantissaEnd =
        std::find_if(text.begin(), text.end(), [](char c) { return c == 'e' || c == 'E'; });
    return std::none_of(text.begin(), mantissaEnd, [](char c) { return c >= '1' && c <= '9'; });
}

} // namespace

std::string CheckSetPointTexts(const std::array<std::string, 6>& texts) {
    for (std::size_t i = 0; i < texts.size(); ++i) {
        const std::string name = kSetPointNames[i];
        TNumberFault fault;
        const auto value = ParseNumber(texts[i], fault);
        // A number too large for any number type is still a number, only out of range.
        if (!value && fault != TNumberFault::tooLarge) return "Ошибка в записи числа " + name;
        if (!value || !IsWritableSetPoint(*value) || (*value == 0 && !SpellsZero(texts[i])))
            return "Значение " + name + " вне диапазона 1.0E-9 … 9.9E+9 (или 0)";
    }
    return {};
}

TSPSetupForm::TSPSetupForm(QWidget* owner) : QDialog(owner) {
    setWindowTitle(QStringLiteral("Установка граничных значений"));
    setWindowFlags(Qt::Dialog | Qt::CustomizeWindowHint | Qt::WindowTitleHint |
                   Qt::WindowCloseButtonHint | Qt::MSWindowsFixedSizeDialogHint);

    // Made in tab order: SP1L, SP1H, ... SP3H, the unit, "Ok", "Отмена".
    auto* grid = new QGridLayout;
    QLineEdit** fields[] = {&SP1L, &SP1H, &SP2L, &SP2H, &SP3L, &SP3H};
    for (int i = 0; i < 6; ++i) {
        *fields[i] = new QLineEdit(this);
        (*fields[i])->setObjectName(QString::fromLatin1(kSetPointNames[std::size_t(i)]));
        const int row = i / 2, column = (i % 2) * 2;
        grid->addWidget(new QLabel(QString::fromLatin1(kSetPointNames[std::size_t(i)]), this), row,
                        column);
        grid->addWidget(*fields[i], row, column + 1);
    }
    UnitMeasure = new QComboBox(this); // not editable: only its own entries
    UnitMeasure->addItems({QStringLiteral("Па"), QStringLiteral("Torr"), QStringLiteral("mBar")});
    grid->addWidget(new QLabel(QStringLiteral("Ед. изм."), this), 3, 0);
    grid->addWidget(UnitMeasure, 3, 1);

    Button1 = new QPushButton(QStringLiteral("Ok"), this);
    Button2 = new QPushButton(QStringLiteral("Отмена"), this);
    Button1->setDefault(true);
    connect(Button1, &QPushButton::clicked, this, &TSPSetupForm::Button1Click);
    connect(Button2, &QPushButton::clicked, this, &QDialog::reject);
    auto* buttons = new QHBoxLayout;
    buttons->addWidget(Button1);
    buttons->addStretch();
    buttons->addWidget(Button2);

    auto* layout = new QVBoxLayout(this);
    layout->addLayout(grid);
    layout->addStretch();
    layout->addLayout(buttons);

    QWidget* order[] = {SP1L, SP1H, SP2L, SP2H, SP3L, SP3H, UnitMeasure, Button1, Button2};
    for (std::size_t i = 1; i < std::size(order); ++i)
        setTabOrder(order[i - 1], order[i]);
    setFixedSize(321, 188);

    ShowInputError = [this](const QString& text) {
        QMessageBox box(QMessageBox::Critical, QStringLiteral("Ошибка!"), text, QMessageBox::Ok,
                        this);
        box.exec();
    };
}

std::array<std::string, 6> TSPSetupForm::Texts() const {
    std::array<std::string, 6> texts;
    const auto fields = Fields();
    for (std::size_t i = 0; i < texts.size(); ++i)
        texts[i] = fields[i]->text().toStdString();
    return texts;
}

void TSPSetupForm::Button1Click() {
    const std::string error = CheckSetPointTexts(Texts());
    if (error.empty()) {
        accept();
        return;
    }
    if (ShowInputError) ShowInputError(QString::fromStdString(error));
}

void TSPSetupForm::showEvent(QShowEvent* event) {
    QDialog::showEvent(event);
    if (const QScreen* s = screen()) {
        QRect frame = frameGeometry();
        frame.moveCenter(s->availableGeometry().center());
        move(frame.topLeft());
    }
}

} // namespace vg57
