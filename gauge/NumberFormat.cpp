#include "NumberFormat.h"

#include <algorithm>
#include <charconv>
#include <cmath>
#include <cstdlib>
#include <limits>

namespace vg57 {

namespace {

constexpr int kSignificantDigits = 15;

bool IsDigit(char c) {
    return c >= '0' && c <= '9';
}

} // namespace

std::string FormatGeneral(long double value) {
    if (std::isnan(value)) return "NAN";
    if (std::isinf(value)) return value < 0 ? "-INF" : "INF";
    if (value == 0) return "0";

    // d.dddddddddddddde±x: the rounding to 15 digits is done by to_chars, so 9.9999999999999995
    // becomes 1.0e+01 and the exponent below already accounts for the carry.
    char buf[64];
    const auto res = std::to_chars(buf, buf + sizeof buf, std::fabs(value),
                                   std::chars_format::scientific, kSignificantDigits - 1);
    const std::string_view text(buf, static_cast<std::size_t>(res.ptr - buf));
    const auto ePos = text.find('e');
    std::string digits;
    for (char c : text.substr(0, ePos))
        if (IsDigit(c)) digits += c;
    while (digits.size() > 1 && digits.back() == '0')
        digits.pop_back();
    int exponent = 0; // of the first digit: value = d.ddd × 10^exponent
    const auto expText = text.substr(ePos + 1);
    const char* expBegin = expText.data() + (expText.front() == '+' ? 1 : 0);
    std::from_chars(expBegin, expText.data() + expText.size(), exponent);

    std::string out = value < 0 ? "-" : "";
    const int count = static_cast<int>(digits.size());
    if (exponent >= -4 && exponent < 15) {
        if (exponent < 0) {
            out += "0.";
            out.append(static_cast<std::size_t>(-exponent - 1), '0');
            out += digits;
        } else if (count <= exponent + 1) {
            out += digits;
            out.append(static_cast<std::size_t>(exponent + 1 - count), '0');
        } else {
            out += digits.substr(0, static_cast<std::size_t>(exponent + 1));
            out += '.';
            out += digits.substr(static_cast<std::size_t>(exponent + 1));
        }
        return out;
    }
    out += digits[0];
    if (count > 1) {
        out += '.';
        out += digits.substr(1);
    }
    out += 'E';
    out += std::to_string(exponent);
    return out;
}

std::optional<long double> ParseNumber(std::string_view text) {
    TNumberFault fault;
    return ParseNumber(text, fault);
}

std::optional<long double> ParseTypedNumber(std::string_view text, TNumberFault& fault) {
    std::string written(text);
    std::replace(written.begin(), written.end(), ',', '.');
    return ParseNumber(written, fault);
}

std::optional<long double> ParseTypedNumber(std::string_view text) {
    TNumberFault fault;
    return ParseTypedNumber(text, fault);
}

std::optional<long double> ParseNumber(std::string_view text, TNumberFault& fault) {
    fault = TNumberFault::notANumber;
    std::size_t i = 0;
    while (i < text.size() && text[i] == ' ')
        ++i;
    bool negative = false;
    if (i < text.size() && (text[i] == '+' || text[i] == '-')) negative = text[i++] == '-';
    const std::size_t start = i; // from_chars takes no '+', so the sign is applied here

    // The decimal exponent of the first non-zero digit, to tell overflow from underflow.
    long long magnitude = 0;
    bool seenNonZero = false;
    std::size_t mantissaDigits = 0;
    for (; i < text.size() && IsDigit(text[i]); ++i, ++mantissaDigits) {
        if (text[i] != '0') seenNonZero = true;
        if (seenNonZero) ++magnitude;
    }
    if (i < text.size() && text[i] == '.') {
        for (++i; i < text.size() && IsDigit(text[i]); ++i, ++mantissaDigits) {
            if (!seenNonZero && text[i] == '0') --magnitude;
            if (text[i] != '0') seenNonZero = true;
        }
    }
    if (mantissaDigits == 0) return std::nullopt;
    if (i < text.size() && (text[i] == 'E' || text[i] == 'e')) {
        ++i;
        bool expNegative = false;
        if (i < text.size() && (text[i] == '+' || text[i] == '-')) expNegative = text[i++] == '-';
        long long exponent = 0;
        const std::size_t expStart = i;
        for (; i < text.size() && IsDigit(text[i]); ++i)
            if (exponent < 1'000'000'000) exponent = exponent * 10 + (text[i] - '0');
        if (i == expStart) return std::nullopt;
        magnitude += expNegative ? -exponent : exponent;
    }
    if (i != text.size()) return std::nullopt;

    long double value = 0;
    const auto res = std::from_chars(text.data() + start, text.data() + text.size(), value,
                                     std::chars_format::general);
    if (res.ec == std::errc::result_out_of_range) {
        if (magnitude > 0) {
            fault = TNumberFault::tooLarge;
            return std::nullopt;
        }
        value = 0;
    } else if (res.ec != std::errc() || res.ptr != text.data() + text.size()) {
        return std::nullopt;
    }
    fault = TNumberFault::none;
    return negative ? -value : value;
}

} // namespace vg57
