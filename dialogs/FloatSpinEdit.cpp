#include "FloatSpinEdit.h"

#include <QApplication>
#include <QKeyEvent>
#include <QLineEdit>

#include <algorithm>
#include <array>
#include <cctype>
#include <charconv>
#include <cmath>

namespace vg57 {

namespace {

// The value keeps this many decimals (QDoubleSpinBox rounds its value to its decimals); the
// display shows ShownDecimals() of them.
constexpr int kKeptDecimals = 12;

bool IsExponentLetter(char c) {
    return c == 'E' || c == 'e';
}

bool IsDecimalPoint(char c) {
    return c == '.' || c == ',';
}

} // namespace

bool IsSpinText(std::string_view text) {
    int points = 0, exponents = 0;
    for (const char c : text) {
        if (IsDecimalPoint(c))
            ++points;
        else if (IsExponentLetter(c))
            ++exponents;
        else if (!(c >= '0' && c <= '9') && c != '+' && c != '-')
            return false;
    }
    return points <= 1 && exponents <= 1;
}

double ParseSpinText(std::string_view text, double fallback) {
    if (text.empty() || !IsSpinText(text)) return fallback;
    std::string written(text);
    std::replace(written.begin(), written.end(), ',', '.');
    text = written;
    // from_chars takes a '-' but no '+'; a "+-1" stays refused.
    if (text.front() == '+' && text.size() > 1 && text[1] != '-' && text[1] != '+')
        text.remove_prefix(1);
    double v = 0;
    const auto [end, ec] =
        std::from_chars(text.data(), text.data() + text.size(), v, std::chars_format::general);
    if (ec != std::errc() || end != text.data() + text.size() || !std::isfinite(v)) return fallback;
    return v;
}

std::string FormatSpinValue(double value, int decimals) {
    decimals = std::clamp(decimals, 0, 100);
    // The shortest text that reads back as the value, then rounded half away from zero as
    // decimals: 1.25 shows "1.3" and 4.35 "4.4", as typed, although 4.35 is 4.3499... in binary.
    std::array<char, 800> buf{}; // fixed notation of a double needs at most 767 characters
    const auto [end, ec] =
        std::to_chars(buf.data(), buf.data() + buf.size(), value, std::chars_format::fixed);
    if (ec != std::errc()) return {};
    std::string digits(buf.data(), end);
    const bool negative = !digits.empty() && digits.front() == '-';
    if (negative) digits.erase(0, 1);
    if (!std::all_of(digits.begin(), digits.end(), [](char c) {
            return c == '.' || std::isdigit(static_cast<unsigned char>(c));
        }))
        return std::string(buf.data(), end); // inf or nan
    std::size_t point = digits.find('.');
    if (point == std::string::npos) {
        point = digits.size();
        digits += '.';
    }
    digits.append(decimals + 1, '0'); // one more than shown, to round on
    const bool roundUp = digits[point + 1 + decimals] >= '5';
    digits.resize(point + 1 + decimals);
    if (roundUp) {
        std::size_t i = digits.size();
        while (i-- > 0) {
            if (digits[i] == '.') continue;
            if (digits[i] != '9') {
                ++digits[i];
                break;
            }
            digits[i] = '0';
            if (i == 0) digits.insert(digits.begin(), '1');
        }
    }
    if (decimals == 0) digits.pop_back(); // the point
    const bool zero = digits.find_first_not_of("0.") == std::string::npos;
    return (negative && !zero ? "-" : "") + digits;
}

std::string FormatSpinValue(double value, int minDecimals, int maxDecimals) {
    std::string text = FormatSpinValue(value, maxDecimals);
    const std::size_t point = text.find('.');
    if (point == std::string::npos) return text; // inf, nan or no decimals at all
    const std::size_t keep = point + 1 + static_cast<std::size_t>(std::max(minDecimals, 0));
    while (text.size() > keep && text.back() == '0')
        text.pop_back();
    if (text.back() == '.') text.pop_back();
    return text;
}

TFloatSpinEdit::TFloatSpinEdit(QWidget* parent) : QDoubleSpinBox(parent) {
    setDecimals(kKeptDecimals);
    // A text that is no number yet ("", "-", "1e") is refused on leaving: the value it had
    // comes back, rather than the minimum in its place.
    setCorrectionMode(QAbstractSpinBox::CorrectToPreviousValue);
}

void TFloatSpinEdit::SetShownDecimals(int minimum, int maximum) {
    minDecimals_ = std::clamp(minimum, 0, kKeptDecimals);
    maxDecimals_ = std::clamp(maximum, minDecimals_, kKeptDecimals);
    lineEdit()->setText(textFromValue(value()));
}

QValidator::State TFloatSpinEdit::validate(QString& input, int&) const {
    const std::string text = input.toStdString();
    if (!IsSpinText(text)) return QValidator::Invalid;
    // Typing goes on, but nothing is read from it (no value, no recomputation) until it is one.
    return std::isnan(ParseSpinText(text, NAN)) ? QValidator::Intermediate : QValidator::Acceptable;
}

QString TFloatSpinEdit::textFromValue(double v) const {
    return QString::fromStdString(FormatSpinValue(v, minDecimals_, maxDecimals_));
}

double TFloatSpinEdit::valueFromText(const QString& text) const {
    const double current = value();
    if (text == textFromValue(current)) return current;
    return ParseSpinText(text.toStdString(), minimum());
}

void TFloatSpinEdit::keyPressEvent(QKeyEvent* e) {
    const QString typed = e->text();
    const bool printable =
        !typed.isEmpty() && !(e->modifiers() & (Qt::ControlModifier | Qt::MetaModifier)) &&
        std::all_of(typed.begin(), typed.end(), [](QChar c) { return c.isPrint(); });
    if (printable) {
        // A point or an exponent letter only while the text as it stands holds none, also when
        // the key would replace a selected one; the text rules have no order, so the key may be
        // judged as if appended.
        if (!IsSpinText((lineEdit()->text() + typed).toStdString())) {
            QApplication::beep();
            emit keyRefused();
            e->accept();
            return;
        }
    }
    // Enter and Escape are not taken here: they go on to the dialog's default and cancel buttons.
    QDoubleSpinBox::keyPressEvent(e);
}

} // namespace vg57
