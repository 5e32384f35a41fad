// Date-times as the program keeps them: days since 30 December 1899, the fraction being the
// local time of day. Spans are day counts too (600 s = 1/144 day).
#pragma once

namespace vg57 {

constexpr double kSecondsPerDay = 86400.0;
constexpr double kOneSecond = 1.0 / kSecondsPerDay;

double MakeDateTime(int year, int month, int day, int hour = 0, int minute = 0, int second = 0,
                    int millisecond = 0);
struct TCivilDate {
    int year = 0, month = 0, day = 0;
};
// The calendar date of a whole day number (0 is 30 December 1899; proleptic Gregorian).
TCivilDate CivilDateOf(long long dayNumber);

// The local date and time now.
double CurrentDateTime();
// The time of day alone (date part 0).
inline double TimeOfDay(double dateTime) {
    return dateTime - static_cast<double>(static_cast<long long>(dateTime));
}

} // namespace vg57
