// A spin field for a real number typed as the operator means it: "0.75" stays 0.75 although the
// field shows one decimal, and an exponent ("1E3") is welcome. A plain QDoubleSpinBox refuses
// both, and rounds its value to the decimals it shows.
#pragma once

#include <QDoubleSpinBox>

#include <string>
#include <string_view>

namespace vg57 {

// ---- the text rules, without a widget ----

// True when the text may stand in the field: digits, '+' and '-' anywhere, at most one '.' and
// at most one exponent letter ('E' or 'e').
bool IsSpinText(std::string_view text);
// The number the text stands for, or `fallback` when it is none (also when a double cannot hold
// it). Numbers use '.' whatever the regional settings.
double ParseSpinText(std::string_view text, double fallback);
// Fixed notation with `decimals` digits after the point, '.' always: 0.5, 1.0, 3600.0.
std::string FormatSpinValue(double value, int decimals);

// ---- the field ----

class TFloatSpinEdit : public QDoubleSpinBox {
    Q_OBJECT
public:
    explicit TFloatSpinEdit(QWidget* parent = nullptr);

    // Digits shown after the point (the value itself keeps what was typed).
    int ShownDecimals() const { return shownDecimals_; }
    void SetShownDecimals(int n);

    QValidator::State validate(QString& input, int& pos) const override;
    QString textFromValue(double value) const override;
    // A text that is not a number reads as the minimum. The text that shows the current value
    // stands for the current value, so that 0.75 shown as "0.8" is not read back as 0.8.
    double valueFromText(const QString& text) const override;

signals:
    // A printable key was refused (the field has beeped).
    void keyRefused();

protected:
    void keyPressEvent(QKeyEvent* e) override;

private:
    int shownDecimals_ = 1;
};

} // namespace vg57
