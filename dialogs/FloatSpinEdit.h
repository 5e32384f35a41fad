// A spin field for a real number typed as the operator means it: "0.75" stays 0.75 whatever the
// decimals shown, "1,5" is 1.5 as a Russian operator types it, and an exponent ("1E3") is welcome.
// A plain QDoubleSpinBox refuses both, and rounds its value to the decimals it shows.
#pragma once

#include <QDoubleSpinBox>

#include <string>
#include <string_view>

namespace vg57 {

// ---- the text rules, without a widget ----

// True when the text may stand in the field: digits, '+' and '-' anywhere, at most one decimal
// point ('.' or ',', the two counted together) and at most one exponent letter ('E' or 'e').
bool IsSpinText(std::string_view text);
// The number the text stands for, or `fallback` when it is none (also when a double cannot hold
// it). '.' and ',' are the decimal point whatever the regional settings.
double ParseSpinText(std::string_view text, double fallback);
// Fixed notation with `decimals` digits after the point, '.' always: 0.5, 1.0, 3600.0.
std::string FormatSpinValue(double value, int decimals);
// Rounded to `maxDecimals`, then trailing zeros dropped down to `minDecimals`: with 1 and 3,
// 0.75, 0.5, 1.0, 1.235.
std::string FormatSpinValue(double value, int minDecimals, int maxDecimals);

// ---- the field ----

class TFloatSpinEdit : public QDoubleSpinBox {
    Q_OBJECT
public:
    explicit TFloatSpinEdit(QWidget* parent = nullptr);

    // Digits shown after the point: at least `minimum`, more up to `maximum` while the value has
    // them (the value itself keeps what was typed).
    void SetShownDecimals(int minimum, int maximum);

    // Intermediate for a text that is no number yet: it changes no value, and leaving the field
    // brings back the value it had.
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
    int minDecimals_ = 1, maxDecimals_ = 1;
};

} // namespace vg57
