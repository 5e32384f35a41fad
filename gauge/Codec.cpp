#include "Codec.h"

#include <charconv>
#include <cmath>

namespace vg57 {

namespace {

// Exact up to 10^27, the largest power of ten a 64-bit mantissa holds.
long double PowerOfTen(int n) {
    if (n < 0) return 1.0L / PowerOfTen(-n);
    if (n > 27) return std::pow(10.0L, static_cast<long double>(n));
    long double p = 1.0L;
    while (n-- > 0)
        p *= 10.0L;
    return p;
}

int Code(char c) {
    return static_cast<unsigned char>(c);
}
bool IsDigit(char c) {
    return c >= '0' && c <= '9';
}

// The value rounded to two significant digits, half away from zero, as the digits "d1d2" and
// the exponent of d1. Rounds from the 15-digit form the operator sees, so that a typed 1.25
// becomes 1.3 although its binary value lies a little below or above.
struct TwoDigits {
    int mantissa = 0; // 10..99, or 0 for zero
    int exponent = 0;
};
TwoDigits RoundToTwoDigits(long double value) {
    TwoDigits r;
    if (value == 0) return r;
    char buf[64];
    const auto res =
        std::to_chars(buf, buf + sizeof buf, std::fabs(value), std::chars_format::scientific, 14);
    const std::string_view text(buf, static_cast<std::size_t>(res.ptr - buf));
    // d.dddddddddddddde±x
    r.mantissa = (text[0] - '0') * 10 + (text[2] - '0');
    const auto e = text.find('e');
    std::from_chars(text.data() + e + (text[e + 1] == '+' ? 2 : 1), text.data() + text.size(),
                    r.exponent);
    if (text[3] >= '5') ++r.mantissa;
    if (r.mantissa == 100) {
        r.mantissa = 10;
        ++r.exponent;
    }
    return r;
}

} // namespace

long double DecodeNumber(std::string_view fourChars) {
    const int m1 = Code(fourChars[0]) - '0', m2 = Code(fourChars[1]) - '0';
    const int e = Code(fourChars[3]) - '0';
    const int exponent = fourChars[2] == '0' ? -e : e;
    // (m1 + m2 / 10) * 10^exponent, with one rounding: the tenths are scaled into the power.
    return static_cast<long double>(m1 * 10 + m2) * PowerOfTen(exponent - 1);
}

bool IsDigitNumber(std::string_view fourChars) {
    return fourChars.size() == 4 && IsDigit(fourChars[0]) && IsDigit(fourChars[1]) &&
           IsDigit(fourChars[3]);
}

std::optional<long double> DecodeDigitNumber(std::string_view fourChars) {
    if (!IsDigitNumber(fourChars)) return std::nullopt;
    return DecodeNumber(fourChars);
}

bool IsWritableSetPoint(long double value) {
    if (value == 0) return true;
    if (!std::isfinite(value) || value < 0) return false;
    const TwoDigits r = RoundToTwoDigits(value);
    return r.exponent >= -9 && r.exponent <= 9;
}

std::string EncodeNumber(long double value) {
    const TwoDigits r = RoundToTwoDigits(value);
    std::string out;
    out += static_cast<char>('0' + r.mantissa / 10);
    out += static_cast<char>('0' + r.mantissa % 10);
    out += r.exponent < 0 ? '0' : '1';
    out += static_cast<char>('0' + std::abs(r.exponent) % 10);
    return out;
}

std::string SetPointText(std::string_view fourChars) {
    std::string out;
    out += fourChars[0];
    out += '.';
    out += fourChars[1];
    out += 'e';
    out += fourChars[2] == '0' ? '-' : '+';
    out += fourChars[3];
    return out;
}

std::string UnitName(std::string_view unitCode) {
    if (unitCode == "0001") return "Па";
    if (unitCode == "0002") return "Торр";
    if (unitCode == "0003") return "мбар";
    return {};
}

} // namespace vg57
