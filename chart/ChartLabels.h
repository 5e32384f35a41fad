// Axis label texts: time of day "HH:MM:SS", pressure "#.###E-0".
#pragma once

#include <string>

namespace vg57 {

// The time of day of a date-time (days since 30 December 1899): "HH:MM:SS", hours 00-23.
std::string FormatTimeLabel(double days);
// The date and time of day: "dd.MM HH:MM", for spans over more than one calendar day.
std::string FormatDateTimeLabel(double days);

// The cursor readout's time: "HH:MM:SS", or "dd.MM HH:MM:SS" with the date.
std::string FormatReadoutTime(double days, bool withDate);
// A pressure with the two significant digits the gauge gives, as the pressure labels write it:
// 0.0021345 -> "2.1E-3".
std::string FormatPressureTwoDigits(double value);
// A ratio of two pressures with two significant digits: "1.8", "0.55", and from 10 up or below
// 0.1 in the gauge's exponent format, "4.5E+4", "3.0E-3".
std::string FormatRatio(double ratio);

// What a time label tells apart, in seconds: "HH:MM:SS" a second, "dd.MM HH:MM" a minute.
inline constexpr double kSecondLabels = 1, kMinuteLabels = 60;
// The labelled tick step of a time axis, in seconds, that the plotting facility proposes, raised
// to a whole multiple of what the labels tell apart. Ticks lie on multiples of the step, so no
// two labels then read alike, and each names its own tick (2.5 s would label 12:00:02.5 as
// "12:00:02").
double DistinctTimeLabelStep(double proposedSeconds, double labelResolutionSeconds);

// Scientific notation with one digit before the point and up to three after it (trailing zeros
// and a bare point dropped), "E", a "-" only for a negative exponent, no leading zeros:
// 120000 -> "1.2E5", 0.00125 -> "1.25E-3", 1000 -> "1E3", 0 -> "0E0".
std::string FormatPressureLabel(double value);

} // namespace vg57
