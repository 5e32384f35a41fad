#include "DateTime.h"

#include <chrono>
#include <ctime>

namespace vg57 {

namespace {
// Days from 1970-01-01 to a civil date (proleptic Gregorian).
long long DaysFromCivil(int y, unsigned m, unsigned d) {
    y -= m <= 2;
    const long long era = (y >= 0 ? y : y - 399) / 400;
    const unsigned yoe = static_cast<unsigned>(y - era * 400);
    const unsigned doy = (153 * (m + (m > 2 ? -3 : 9)) + 2) / 5 + d - 1;
    const unsigned doe = yoe * 365 + yoe / 4 - yoe / 100 + doy;
    return era * 146097 + static_cast<long long>(doe) - 719468;
}
constexpr long long kEpochOffset = 25569; // 1899-12-30 to 1970-01-01
} // namespace

double MakeDateTime(int year, int month, int day, int hour, int minute, int second,
                    int millisecond) {
    const long long days =
        DaysFromCivil(year, static_cast<unsigned>(month), static_cast<unsigned>(day)) +
        kEpochOffset;
    return static_cast<double>(days) +
           (hour * 3600000.0 + minute * 60000.0 + second * 1000.0 + millisecond) / 86400000.0;
}

std::int64_t MakeLocalMs(int year, int month, int day, int hour, int minute, int second,
                         int millisecond) {
    const long long days =
        DaysFromCivil(year, static_cast<unsigned>(month), static_cast<unsigned>(day)) +
        kEpochOffset;
    return days * kMillisecondsPerDay + hour * 3'600'000LL + minute * 60'000LL + second * 1000LL +
           millisecond;
}

TCivilDate CivilDateOf(long long dayNumber) {
    const long long z = dayNumber - kEpochOffset + 719468; // days since 1 March 0000
    const long long era = (z >= 0 ? z : z - 146096) / 146097;
    const long long doe = z - era * 146097;
    const long long yoe = (doe - doe / 1460 + doe / 36524 - doe / 146096) / 365;
    const long long doy = doe - (365 * yoe + yoe / 4 - yoe / 100);
    const long long mp = (5 * doy + 2) / 153;
    TCivilDate d;
    d.day = static_cast<int>(doy - (153 * mp + 2) / 5 + 1);
    d.month = static_cast<int>(mp < 10 ? mp + 3 : mp - 9);
    d.year = static_cast<int>(yoe + era * 400 + (d.month <= 2 ? 1 : 0));
    return d;
}

std::int64_t CurrentLocalMs() {
    using namespace std::chrono;
    const auto now = system_clock::now();
    const std::time_t t = system_clock::to_time_t(now);
    std::tm local{};
    localtime_r(&t, &local);
    const int ms =
        static_cast<int>(duration_cast<milliseconds>(now.time_since_epoch()).count() % 1000);
    return MakeLocalMs(local.tm_year + 1900, local.tm_mon + 1, local.tm_mday, local.tm_hour,
                       local.tm_min, local.tm_sec, ms);
}

} // namespace vg57
