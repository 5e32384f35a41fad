// The gauge's encodings: the four-character number (units digit, tenths digit, exponent sign,
// exponent digit) in both directions, the set point display text, and the unit codes.
#pragma once

#include <optional>
#include <string>
#include <string_view>

namespace vg57 {

// The value of four characters m1 m2 s e, from their character codes: (m1 + m2 / 10) times 10
// to the power e, negative when s is '0'. The characters are not checked.
long double DecodeNumber(std::string_view fourChars);

// True when m1, m2 and e are the digits '0'..'9' (s is free: '0' negative, else positive).
bool IsDigitNumber(std::string_view fourChars);

// DecodeNumber of four characters that pass IsDigitNumber; empty otherwise.
std::optional<long double> DecodeDigitNumber(std::string_view fourChars);

// True when the four-character number can carry the value: 0, or 1.0E-9 ... 9.9E+9 after
// rounding to two significant digits.
bool IsWritableSetPoint(long double value);

// The value through the pattern "0.0E+0" (two significant digits, half away from zero), as
// m1 m2 s e: 0.0012 gives "1203", 50000 gives "5014", 0 gives "0010". Only for values that
// pass IsWritableSetPoint.
std::string EncodeNumber(long double value);

// The display text m1 "." m2 "e" sign e of a set point: "1203" gives "1.2e-3".
std::string SetPointText(std::string_view fourChars);

// "Па", "Торр", "мбар" for "0001", "0002", "0003"; empty for any other code.
std::string UnitName(std::string_view unitCode);

} // namespace vg57
