// Numbers as text, the same whatever the regional settings: '.' is the only decimal point.
// Used by the value panel, the archive file, the set point dialog and the gauge codec.
#pragma once

#include <optional>
#include <string>
#include <string_view>

namespace vg57 {

// The general number format: at most 15 significant digits, trailing zeros removed; plain for
// zero and 0.0001 <= |value| < 1E15 ("760", "0.0012"), otherwise scientific with one digit
// before the point, no '+' and no leading zeros in the exponent ("1.2E-5", "5E20").
// Not-a-number and infinities give "NAN", "INF" and "-INF".
std::string FormatGeneral(long double value);

// The whole text as a number: leading blanks, an optional sign, digits with an optional '.',
// an optional exponent ('E' or 'e', optional sign, digits), nothing after. ',' is never a
// decimal point. Empty when the text is not such a number or its magnitude is too large to
// hold; a magnitude too small to hold gives zero.
std::optional<long double> ParseNumber(std::string_view text);

// Why ParseNumber gave no value: a text that is no number, or a well-formed number whose
// magnitude is too large to hold ("1e5000"), which a range check must report as out of range.
enum class TNumberFault { none, notANumber, tooLarge };
std::optional<long double> ParseNumber(std::string_view text, TNumberFault& fault);

// A number as an operator types it into a field: ParseNumber with ',' taken as the decimal point
// like '.' (one of the two at most), as a Russian operator writes "1,5". Never for what files or
// the gauge hold.
std::optional<long double> ParseTypedNumber(std::string_view text, TNumberFault& fault);
std::optional<long double> ParseTypedNumber(std::string_view text);

} // namespace vg57
