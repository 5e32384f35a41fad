#include "ChartLabels.h"

#include <cmath>
#include <cstdio>
#include <cstdlib>

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

std::string FormatPressureLabel(double value) {
    if (value == 0 || !std::isfinite(value)) return value == 0 ? "0E0" : "";
    char buf[32];
    std::snprintf(buf, sizeof buf, "%.3E", value); // d.dddE±xx, rounded as printf rounds
    std::string s = buf;
    const auto e = s.find('E');
    std::string mantissa = s.substr(0, e);
    const int exponent = std::atoi(s.c_str() + e + 1);
    while (!mantissa.empty() && mantissa.back() == '0')
        mantissa.pop_back();
    if (!mantissa.empty() && mantissa.back() == '.') mantissa.pop_back();
    return mantissa + "E" + std::to_string(exponent);
}

} // namespace vg57
