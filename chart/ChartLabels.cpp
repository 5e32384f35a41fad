#include "ChartLabels.h"

#include "DateTime.h"

#include <algorithm>
#include <charconv>
#include <cmath>
#include <cstdio>

namespace vg57 {

std::string FormatTimeLabel(double days) {
    double fraction = days - std::floor(days);
    // Rounded to the millisecond first, so that 10:00:00 minus a rounding error is not 09:59:59.
    long long ms = std::llround(fraction * 86400000.0);
    if (ms >= 86400000LL) ms -= 86400000LL;
    const long long s = ms / 1000;
    char buf[32];
    std::snprintf(buf, sizeof buf, "%02d:%02d:%02d", static_cast<int>(s / 3600),
                  static_cast<int>(s / 60 % 60), static_cast<int>(s % 60));
    return buf;
}

std::string FormatDateTimeLabel(double days) {
    // Rounded to the minute first, so that 23:59:59.6 is labelled with the next day's date.
    const long long minutes = std::llround(days * 1440.0);
    const long long day = minutes >= 0 ? minutes / 1440 : (minutes - 1439) / 1440;
    const int minuteOfDay = static_cast<int>(minutes - day * 1440);
    const TCivilDate date = CivilDateOf(day);
    char buf[32];
    std::snprintf(buf, sizeof buf, "%02d.%02d %02d:%02d", date.day, date.month, minuteOfDay / 60,
                  minuteOfDay % 60);
    return buf;
}

std::string FormatReadoutTime(double days, bool withDate) {
    if (!withDate) return FormatTimeLabel(days);
    // Rounded to the millisecond as the time is, so that the date is that of the time shown.
    const double ms = std::round(days * 86400000.0) / 86400000.0;
    return FormatDateTimeLabel(std::floor(ms)).substr(0, 5) + ' ' + FormatTimeLabel(ms);
}

std::string FormatPressureTwoDigits(double value) {
    if (!(std::fabs(value) > 0) || !std::isfinite(value)) return FormatPressureLabel(value);
    const double step = std::pow(10.0, std::floor(std::log10(std::fabs(value))) - 1);
    return FormatPressureLabel(std::round(value / step) * step);
}

std::string FormatRatio(double ratio) {
    char buf[64];
    const double size = std::fabs(ratio);
    // Two digits are all a ratio of two-digit readings means: "×45478" would claim five.
    if ((size >= 0.1 && size < 10) || !std::isfinite(ratio)) {
        const auto r = std::to_chars(buf, buf + sizeof buf, ratio, std::chars_format::general, 2);
        return std::string(buf, r.ptr);
    }
    // Beyond, in the gauge's exponent format: 4.5E+4.
    const auto r = std::to_chars(buf, buf + sizeof buf, ratio, std::chars_format::scientific, 1);
    std::string text(buf, r.ptr);
    const std::size_t e = text.find('e');
    if (e == std::string::npos) return text;
    text[e] = 'E';
    const std::size_t digits = e + 2; // after the sign
    while (text.size() > digits + 1 && text[digits] == '0')
        text.erase(digits, 1);
    return text;
}

double DistinctTimeLabelStep(double proposedSeconds, double labelResolutionSeconds) {
    if (!(proposedSeconds > labelResolutionSeconds)) return labelResolutionSeconds;
    // The slack keeps a step of 60 s that arithmetic made 60.0000001 at 60 s.
    return std::ceil(proposedSeconds / labelResolutionSeconds - 1e-6) * labelResolutionSeconds;
}

std::string FormatPressureLabel(double value) {
    if (value == 0 || !std::isfinite(value)) return value == 0 ? "0E0" : "";
    // to_chars never follows the regional settings: d.ddde±xx, rounded as printf rounds.
    char buf[32];
    char* end = std::to_chars(buf, buf + sizeof buf, value, std::chars_format::scientific, 3).ptr;
    char* e = std::find(buf, end, 'e');
    int exponent = 0;
    std::from_chars(e[1] == '+' ? e + 2 : e + 1, end, exponent);
    std::string mantissa(buf, static_cast<std::size_t>(e - buf));
    while (mantissa.back() == '0')
        mantissa.pop_back();
    if (mantissa.back() == '.') mantissa.pop_back();
    char exp[8];
    return mantissa + "E" + std::string(exp, std::to_chars(exp, exp + sizeof exp, exponent).ptr);
}

} // namespace vg57
