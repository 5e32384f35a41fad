// The set point dialog: the gauge's three set-point pairs and its pressure unit as texts, checked
// before they may be confirmed. It only edits and checks; the device-settings action fills it
// and writes the values to the gauge.
#pragma once

#include <QDialog>

#include <array>
#include <functional>
#include <string>

class QComboBox;
class QLineEdit;
class QPushButton;

namespace vg57 {

// Field names, in the order they are checked and tabbed through.
inline constexpr std::array<const char*, 6> kSetPointNames = {"SP1L", "SP1H", "SP2L",
                                                              "SP2H", "SP3L", "SP3H"};

// The complaint about the first of the six texts that is not a number, or whose value the gauge
// can't hold (0, or 1.0E-9 ... 9.9E+9 after rounding to two digits); empty when all are fine.
std::string CheckSetPointTexts(const std::array<std::string, 6>& texts);

class TSPSetupForm : public QDialog {
    Q_OBJECT
public:
    explicit TSPSetupForm(QWidget* owner = nullptr);

    // OK: accepts only when every field passes; otherwise reports the first bad field and leaves
    // the dialog open with its texts and focus as they were.
    void Button1Click();

    std::array<QLineEdit*, 6> Fields() const { return {SP1L, SP1H, SP2L, SP2H, SP3L, SP3H}; }
    std::array<std::string, 6> Texts() const;

    // Shows an input error. The default is a message box owned by the dialog: error icon, one
    // OK button, caption "Ошибка!". Tests may replace it.
    std::function<void(const QString& text)> ShowInputError;

    QLineEdit* SP1L;
    QLineEdit* SP1H;
    QLineEdit* SP2L;
    QLineEdit* SP2H;
    QLineEdit* SP3L;
    QLineEdit* SP3H;
    QComboBox* UnitMeasure; // "Па", "Torr", "mBar": position = unit code - 1
    QPushButton* Button1;   // "Ok"
    QPushButton* Button2;   // "Отмена"

protected:
    void showEvent(QShowEvent* event) override;
};

} // namespace vg57
