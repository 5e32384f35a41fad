// Readings to a CSV file: "time,pressure,unit", the time in ISO 8601 with the local UTC offset
// and milliseconds (2026-12-07T14:07:09.512+03:00), the pressure with '.' whatever the regional
// settings, the unit by its Latin name. Plain C++, shared by the window and vg57-cli.
#pragma once

#include "PressureUnit.h"

#include <cstddef>
#include <string>
#include <vector>

namespace vg57 {

// The offset of local time from UTC, looked up once per hour of local time: asking the time
// zone for every line would cost more than the rest of the line together.
class TUtcOffsets {
public:
    // Seconds east of UTC in force at the local date-time (days since 30 December 1899).
    long At(double localDateTime);

private:
    long long hour_ = -1; // the local hour of the last look-up, counted from the origin
    long offset_ = 0;
};

// "yyyy-mm-ddThh:nn:ss.zzz+hh:mm" of a local date-time, appended to out.
void AppendIsoTime(std::string& out, double localDateTime, TUtcOffsets& offsets);

struct TCsvRange {
    double from = -1e300, to = 1e300; // inclusive, in the readings' own times
    // Added to every time before kDatedTimesFrom: the date of readings kept as times of day (a
    // file whose name carries no date, on day 0 and the days after it); dated readings keep theirs.
    double dateBase = 0;
};
// Times from here on (a year after the date origin) carry their own dates.
inline constexpr double kDatedTimesFrom = 366.0;

// Writes the readings in [from, to] in time order (equal times in input order); replaces the
// file. A reading whose unit code is none of the three is kept, with the unit field empty. Returns
// empty, or "<path>: <the system's words>". `written` gets the number of rows.
std::string ExportCsv(const std::string& path, const std::vector<double>& times,
                      const std::vector<double>& pressures, const std::vector<EPressureUnit>& units,
                      const TCsvRange& range, std::size_t* written = nullptr);

} // namespace vg57
