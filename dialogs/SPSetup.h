// The set point dialog: the gauge's three set-point pairs and its pressure unit as texts, checked
// before they may be confirmed. It only edits and checks; the device-settings action fills it
// and writes the values to the gauge.
#pragma once

#include <QDialog>

#include <array>
#include <functional>
#include <string>
#include <vector>

class QComboBox;
class QLabel;
class QLineEdit;
class QPushButton;

namespace vg57 {

// Field names, in the order they are checked and tabbed through.
inline constexpr std::array<const char*, 6> kSetPointNames = {"SP1L", "SP1H", "SP2L",
                                                              "SP2H", "SP3L", "SP3H"};

// The complaint about the first of the six texts that is not a number, or whose value the gauge
// can't hold (0, or 1.0E-9 ... 9.9E+9 after rounding to two digits); empty when all are fine.
std::string CheckSetPointTexts(const std::array<std::string, 6>& texts);

// The set points the gauge will hold otherwise than typed, as it keeps two digits: one line each,
// "SP1L: 12345 → 1.2E+4". Judged on the typed digits, so "0.3" or "1,50" is no change although
// neither is exact in binary. Only for texts that passed CheckSetPointTexts.
std::vector<std::string> RoundedSetPoints(const std::array<std::string, 6>& texts);

class TSPSetupForm : public QDialog {
    Q_OBJECT
public:
    explicit TSPSetupForm(QWidget* owner = nullptr);

    // OK: accepts only when every field passes and, when the gauge will round any of them, the
    // operator agrees; otherwise reports the first bad field, or returns to the dialog, with its
    // texts and focus as they were.
    void Button1Click();
    // Says beside the fields which unit they are in: the one of the list's position at opening
    // (the set points are written before the unit). -1: the gauge's own, unknown one.
    void ShowSetPointUnit(int unitIndex);

    std::array<QLineEdit*, 6> Fields() const { return {SP1L, SP1H, SP2L, SP2H, SP3L, SP3H}; }
    std::array<std::string, 6> Texts() const;

    // Shows an input error. The default is a message box owned by the dialog: error icon, one
    // OK button, caption "Ошибка!". Tests may replace it.
    std::function<void(const QString& text)> ShowInputError;
    // Asks whether to write set points the gauge will round; true to write. The default asks in
    // a message box whose default answer is "Нет".
    std::function<bool(const QString& question)> ConfirmRounding;

    QLineEdit* SP1L;
    QLineEdit* SP1H;
    QLineEdit* SP2L;
    QLineEdit* SP2H;
    QLineEdit* SP3L;
    QLineEdit* SP3H;
    QComboBox* UnitMeasure; // "Па", "Torr", "mBar": position = unit code - 1
    QLabel* SetPointUnit;   // "в единицах: Па"
    QPushButton* Button1;   // "Ok"
    QPushButton* Button2;   // "Отмена"

protected:
    void showEvent(QShowEvent* event) override;
};

} // namespace vg57
