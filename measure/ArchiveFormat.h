// The archive file's text: its name, one reading as a line, and a line read back. Plain C++
// without Qt, so that the fuzz build can take it alone. ':' always separates the time fields,
// so that a file written on one machine loads on any other.
#pragma once

#include "PressureUnit.h"

#include <optional>
#include <string>
#include <string_view>

namespace vg57 {

// A local date and time as the clock gives it.
struct TLocalTime {
    int year = 1899, month = 12, day = 30;
    int hour = 0, minute = 0, second = 0, millisecond = 0;
};

// A date-time (days since 30 December 1899) split into its fields, to the nearest millisecond.
// Values before day 1 or after the year 9999 give the origin.
TLocalTime LocalTimeOf(double dateTime);

// "yyyy_mm_dd hh_nn_ss.txt", e.g. "2024_03_05 14_07_09.txt".
std::string ArchiveFileName(const TLocalTime& t);
// The date-time a file name of that form carries (the folder part is ignored), also with a
// gauge's address (ArchiveNameAddress); empty for any other name or an impossible date.
std::optional<double> ArchiveNameDateTime(std::string_view path);
// The gauge address of a file of a run of several gauges, "yyyy_mm_dd hh_nn_ss a5.txt": 0..15
// for '0'..'9' and 'A'..'F' (either case). Empty for a single gauge's name and any other.
std::optional<int> ArchiveNameAddress(std::string_view path);

// "hh:nn:ss.zzz", space, the pressure in the general number format, space, the unit code, CR LF.
// An empty unit code leaves the line ending in the space.
std::string FormatArchiveLine(const TLocalTime& t, long double pressure, std::string_view unitCode);
// Fixed-width decimal digits of a value that is never negative.
void AppendDigits(std::string& out, long value, int width);
// "yyyy<sep>mm<sep>dd", as a file's name begins and as the CSV export's times begin.
void AppendDate(std::string& out, const TLocalTime& t, char separator);
// "hh:nn:ss.zzz", as a line begins and as the CSV export's times end.
void AppendClockTime(std::string& out, const TLocalTime& t);

// A time field read back: a time of day (a value on day 0) or a date at midnight.
struct TArchiveTime {
    double value = 0;
    bool hasDate = false;
};

// No time in any accepted form needs more characters; longer texts are refused, which lets a
// reader keep only a bounded prefix of a line (kArchiveLineExamined).
constexpr std::size_t kArchiveTimeTextMax = 64;
// The characters after the first space in which the pressure and its closing space must lie.
constexpr std::size_t kArchivePressureWindow = 100;
// A line is judged on at most this many leading characters; the rest cannot change the result.
constexpr std::size_t kArchiveLineExamined = kArchiveTimeTextMax + 1 + kArchivePressureWindow;

// The time text of a line: hour[:min[:sec[.ms]]] with each part a run of digits and an optional
// AM/PM marker before or after, or a short date "dd.mm.yyyy". The whole text must be consumed.
std::optional<TArchiveTime> ParseArchiveTime(std::string_view text);

// The longest unit code kept; the gauge's are four characters.
constexpr std::size_t kArchiveUnitCodeMax = 16;

struct TArchiveReading {
    TArchiveTime time;
    double pressure = 0;
    // What follows the pressure's closing space, up to a space, a CR or the end (a view into
    // the line).
    std::string_view unitCode;
};

// One line without its LF (a CR before it does no harm): the time before the first space, the
// pressure up to the next space within the following 100 characters, '.' as decimal point, then
// the unit code up to a space or CR (at most kArchiveUnitCodeMax characters). What follows the
// unit code is not examined. Empty when the line is to be skipped.
std::optional<TArchiveReading> ParseArchiveLine(std::string_view line);

} // namespace vg57
