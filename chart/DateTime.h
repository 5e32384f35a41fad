// Date-times as the program keeps them: days since 30 December 1899, the fraction being the
// local time of day. Spans are day counts too (600 s = 1/144 day).
#pragma once

#include <cmath>
#include <cstdint>

namespace vg57 {

constexpr double kSecondsPerDay = 86400.0;
constexpr std::int64_t kMillisecondsPerDay = 86'400'000;

// The same local date-time as a whole number of milliseconds since the origin: the one exact
// time a reading keeps from the tick on. A date-time in days holds it exactly as long as it is
// made by DaysOf: MsOf gives the same milliseconds back (up to the year 9999).
inline double DaysOf(std::int64_t ms) {
    return static_cast<double>(ms) / static_cast<double>(kMillisecondsPerDay);
}
inline std::int64_t MsOf(double days) {
    return std::llround(days * static_cast<double>(kMillisecondsPerDay));
}
std::int64_t MakeLocalMs(int year, int month, int day, int hour = 0, int minute = 0, int second = 0,
                         int millisecond = 0);
constexpr double kOneSecond = 1.0 / kSecondsPerDay;

double MakeDateTime(int year, int month, int day, int hour = 0, int minute = 0, int second = 0,
                    int millisecond = 0);
struct TCivilDate {
    int year = 0, month = 0, day = 0;
};
// The calendar date of a whole day number (0 is 30 December 1899; proleptic Gregorian).
TCivilDate CivilDateOf(long long dayNumber);

// The local date and time now, read once from the clock.
std::int64_t CurrentLocalMs();
inline double CurrentDateTime() {
    return DaysOf(CurrentLocalMs());
}
// The time of day alone (date part 0).
inline double TimeOfDay(double dateTime) {
    return dateTime - static_cast<double>(static_cast<long long>(dateTime));
}

} // namespace vg57
