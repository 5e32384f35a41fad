// The set point dialog: the gauge's three set-point pairs and its pressure unit as texts, checked
// before they may be confirmed. It only edits and checks; the device-settings action fills it
// and writes the values to the gauge.
#pragma once

#include <QDialog>

#include <array>
#include <functional>
#include <optional>
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
// `field` (optional) receives that text's position.
std::string CheckSetPointTexts(const std::array<std::string, 6>& texts,
                               std::size_t* field = nullptr);

// The set points the gauge will hold otherwise than typed, as it keeps two digits: one line each,
// "SP1L: 12345 → 1.2E+4". Judged on the typed digits, so "0.3" or "1,50" is no change although
// neither is exact in binary. Only for texts that passed CheckSetPointTexts.
std::vector<std::string> RoundedSetPoints(const std::array<std::string, 6>& texts);

// The pairs whose low bound, as the gauge will hold it, lies above the high bound: one line each,
// "SP1L (1.5E+0) больше SP1H (5.0E-3)". A low bound of 0 switches the relay off and is never
// above. Only for texts that passed CheckSetPointTexts.
std::vector<std::string> LowAboveHigh(const std::array<std::string, 6>& texts);

// The text a set point field shows for `value` as the gauge will hold it (two digits, in the
// general number format: 7.5E-6, 0.0038, 38); a value the gauge can't hold keeps its digits, so
// that the check names it.
std::string HeldSetPointText(long double value);

class TSPSetupForm : public QDialog {
    Q_OBJECT
public:
    explicit TSPSetupForm(QWidget* owner = nullptr);

    // OK: accepts only when every field passes and the operator agrees to what looks like a
    // slip (a low bound above its high one) and to the gauge's rounding; otherwise reports the
    // first bad field and puts the focus there with its text selected, or returns to the dialog
    // as it was.
    void Button1Click();
    // Opens on the gauge's unit, the list's position (-1: one the list does not know), which the
    // fields' values are in.
    void SetGaugeUnit(int unitIndex);

    std::array<QLineEdit*, 6> Fields() const { return {SP1L, SP1H, SP2L, SP2H, SP3L, SP3H}; }
    std::array<std::string, 6> Texts() const;

    // Shows an input error. The default is a message box owned by the dialog: error icon, one
    // OK button, caption "Ошибка!". Tests may replace it.
    std::function<void(const QString& text)> ShowInputError;
    // Asks whether to write set points that look like a slip or that the gauge will round; true
    // to write. The default asks in a message box whose default answer is "Нет".
    std::function<bool(const QString& question)> ConfirmWrite;

    QLineEdit* SP1L;
    QLineEdit* SP1H;
    QLineEdit* SP2L;
    QLineEdit* SP2H;
    QLineEdit* SP3L;
    QLineEdit* SP3H;
    QComboBox* UnitMeasure; // "Па", "Torr", "mBar": position = unit code - 1
    QLabel* SetPointUnit; // "в единицах: Па": the unit the fields are in, the list's choice
    QPushButton* Button1; // "Ok"
    QPushButton* Button2; // "Отмена"

protected:
    void showEvent(QShowEvent* event) override;

private:
    // Another unit chosen: the fields are converted into it, so that they keep their pressures;
    // a field comes back as typed when its own unit is chosen again.
    void ConvertFields(int toUnit);
    void ShowSetPointUnit(int unitIndex);

    struct TSource {
        std::string text;
        int unit;
    };
    // Per field, what was typed or read and in which unit, while only conversions changed it.
    std::array<std::optional<TSource>, 6> sources_;
    int fieldsUnit_ = 0; // the list's position the fields' values are in
    bool converting_ = false;
};

} // namespace vg57
