#include "SPSetup.h"

#include "Codec.h"
#include "MessageBox.h"
#include "NumberFormat.h"
#include "PressureUnit.h"

#include <QComboBox>
#include <QGridLayout>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QPointer>
#include <QPushButton>
#include <QScopeGuard>
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

std::string CheckSetPointTexts(const std::array<std::string, 6>& texts, std::size_t* field) {
    for (std::size_t i = 0; i < texts.size(); ++i) {
        const std::string name = kSetPointNames[i];
        if (field) *field = i;
        TNumberFault fault;
        const auto value = ParseTypedNumber(texts[i], fault);
        // A number too large for any number type is still a number, only out of range.
        if (!value && fault != TNumberFault::tooLarge) return "Ошибка в записи числа " + name;
        if (!value || !IsWritableSetPoint(*value) || (*value == 0 && !SpellsZero(texts[i])))
            return "Значение " + name + " вне диапазона 1.0E-9 … 9.9E+9 (или 0)";
    }
    return {};
}

std::vector<std::string> RoundedSetPoints(const std::array<std::string, 6>& texts) {
    std::vector<std::string> lines;
    for (std::size_t i = 0; i < texts.size(); ++i) {
        const std::string typed =
            texts[i].substr(std::min(texts[i].find_first_not_of(' '), texts[i].size()));
        // The significant digits as typed: two at most are held unchanged.
        std::string digits;
        for (const char c : typed.substr(0, typed.find_first_of("Ee")))
            if (c >= '0' && c <= '9') digits += c;
        digits.erase(0, std::min(digits.find_first_not_of('0'), digits.size()));
        digits.erase(std::min(digits.find_last_not_of('0') + 1, digits.size()));
        if (digits.size() <= 2) continue;
        std::string held = SetPointText(EncodeNumber(*ParseTypedNumber(typed)));
        std::replace(held.begin(), held.end(), 'e', 'E');
        lines.push_back(std::string(kSetPointNames[i]) + ": " + typed + " → " + held);
    }
    return lines;
}

namespace {

// The gauge's own spelling of a value it holds: "1.5E+0".
std::string GaugeSpelling(const std::string& encoded) {
    std::string text = SetPointText(encoded);
    std::replace(text.begin(), text.end(), 'e', 'E');
    return text;
}

} // namespace

std::vector<std::string> LowAboveHigh(const std::array<std::string, 6>& texts) {
    std::vector<std::string> lines;
    for (std::size_t low = 0; low < texts.size(); low += 2) {
        const std::string lowHeld = EncodeNumber(*ParseTypedNumber(texts[low]));
        const std::string highHeld = EncodeNumber(*ParseTypedNumber(texts[low + 1]));
        const long double lowValue = DecodeNumber(lowHeld);
        if (lowValue == 0 || lowValue <= DecodeNumber(highHeld)) continue;
        lines.push_back(std::string(kSetPointNames[low]) + " (" + GaugeSpelling(lowHeld) +
                        ") больше " + kSetPointNames[low + 1] + " (" + GaugeSpelling(highHeld) +
                        ")");
    }
    return lines;
}

std::string HeldSetPointText(long double value) {
    if (!IsWritableSetPoint(value)) return FormatGeneral(value);
    return FormatGeneral(DecodeNumber(EncodeNumber(value)));
}

TSPSetupForm::TSPSetupForm(QWidget* owner) : QDialog(owner) {
    setWindowTitle(QStringLiteral("Установка граничных значений"));
    setWindowFlags(kDialogFrame);

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
        // Typed or filled from outside: the field's value is now what it reads, in the unit
        // chosen.
        connect(*fields[i], &QLineEdit::textChanged, this, [this, i] {
            if (!converting_) sources_[std::size_t(i)].reset();
        });
    }
    UnitMeasure = new QComboBox(this); // not editable: only its own entries
    UnitMeasure->addItems({QStringLiteral("Па"), QStringLiteral("Torr"), QStringLiteral("mBar")});
    connect(UnitMeasure, &QComboBox::currentIndexChanged, this, &TSPSetupForm::ConvertFields);
    grid->addWidget(new QLabel(QStringLiteral("Ед. изм."), this), 3, 0);
    grid->addWidget(UnitMeasure, 3, 1);
    SetPointUnit = new QLabel(this);
    SetPointUnit->setObjectName(QStringLiteral("SetPointUnit"));
    grid->addWidget(SetPointUnit, 3, 2, 1, 2);
    ShowSetPointUnit(0);

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
        ShowMessageBox(this, QMessageBox::Critical, QStringLiteral("Ошибка!"), text);
    };
    ConfirmWrite = [this](const QString& question) {
        return AskYesNo(this, windowTitle(), question);
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
    const auto texts = Texts();
    std::size_t field = 0;
    if (const std::string error = CheckSetPointTexts(texts, &field); !error.empty()) {
        if (ShowInputError) ShowInputError(QString::fromStdString(error));
        // The message box runs an event loop: the dialog may be gone when it returns.
        const QPointer<TSPSetupForm> self(this);
        if (!self) return;
        QLineEdit* const bad = Fields()[field];
        bad->setFocus(Qt::OtherFocusReason);
        bad->selectAll();
        return;
    }
    // A slip first: it matters more than a rounded digit.
    for (const auto& lines : {LowAboveHigh(texts), RoundedSetPoints(texts)}) {
        if (lines.empty() || !ConfirmWrite) continue;
        std::string question;
        for (const std::string& line : lines)
            question += (question.empty() ? "" : "\n") + line;
        // The question runs an event loop: the dialog may be gone when it returns.
        const QPointer<TSPSetupForm> self(this);
        if (!ConfirmWrite(QString::fromStdString(question + ". Записать?")) || !self) return;
    }
    accept();
}

void TSPSetupForm::SetGaugeUnit(int unitIndex) {
    fieldsUnit_ = unitIndex;
    for (auto& source : sources_)
        source.reset();
    UnitMeasure->setCurrentIndex(unitIndex); // no conversion: the fields are in it already
    ShowSetPointUnit(unitIndex);
}

void TSPSetupForm::ConvertFields(int toUnit) {
    const auto known = [this](int unit) { return unit >= 0 && unit < UnitMeasure->count(); };
    // A unit the list does not know converts to nothing: the fields are then taken as they read.
    if (toUnit != fieldsUnit_ && known(toUnit) && known(fieldsUnit_)) {
        const auto fields = Fields();
        converting_ = true;
        const auto done = qScopeGuard([this] { converting_ = false; });
        for (std::size_t i = 0; i < fields.size(); ++i) {
            auto& source = sources_[i];
            if (!source) {
                const std::string text = fields[i]->text().toStdString();
                if (!ParseTypedNumber(text)) continue; // the check names it at OK
                source = TSource{text, fieldsUnit_};
            }
            if (source->unit == toUnit) {
                fields[i]->setText(QString::fromStdString(source->text));
                continue;
            }
            const auto pascalsPer = [](int unit) {
                return static_cast<long double>(PascalsPer(EPressureUnit(unit + 1)));
            };
            const long double value =
                *ParseTypedNumber(source->text) * pascalsPer(source->unit) / pascalsPer(toUnit);
            fields[i]->setText(QString::fromStdString(HeldSetPointText(value)));
        }
    }
    fieldsUnit_ = toUnit;
    ShowSetPointUnit(toUnit);
}

void TSPSetupForm::ShowSetPointUnit(int unitIndex) {
    SetPointUnit->setText(unitIndex >= 0 && unitIndex < UnitMeasure->count()
                              ? QStringLiteral("в единицах: ") + UnitMeasure->itemText(unitIndex)
                              : QStringLiteral("в единицах прибора"));
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
