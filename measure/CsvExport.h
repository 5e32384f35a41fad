// Readings to a CSV file: "time,pressure,unit", the time in ISO 8601 with the UTC offset then in
// force and milliseconds (2026-12-07T14:07:09.512+03:00), the pressure with '.' whatever the
// regional settings, the unit by its Latin name. Plain C++, shared by the window and vg57-cli.
#pragma once

#include "CivilTime.h"
#include "PressureUnit.h"

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

namespace vg57 {

// "yyyy-mm-ddThh:nn:ss.zzz+hh:mm" of an instant (milliseconds since 1970 UTC): its local time
// in the zone and the offset in force then, appended to out.
void AppendIsoTime(std::string& out, std::int64_t instantMs, TZoneRules& zone);

struct TCsvRange {
    double from = -1e300, to = 1e300; // inclusive, in the readings' own times
    // Added to every time before kDatedTimesFrom: the date of readings kept as times of day (a
    // file whose name carries no date, on day 0 and the days after it); dated readings keep theirs.
    double dateBase = 0;
    // The dated times are wall-clock date-times (a live run), turned into instants here in time
    // order; otherwise they are instants already (InstantDays: a loaded file, vg57-cli). Times
    // of day with dateBase are wall-clock times either way.
    bool localTimes = false;
    QTimeZone zone = QTimeZone::systemTimeZone();
};

// Writes the readings in [from, to] in time order (equal times in input order); replaces the
// file. A reading whose unit code is none of the three is kept, with the unit field empty. Returns
// empty, or "<path>: <the system's words>". `written` gets the number of rows.
std::string ExportCsv(const std::string& path, const std::vector<double>& times,
                      const std::vector<double>& pressures, const std::vector<EPressureUnit>& units,
                      const TCsvRange& range, std::size_t* written = nullptr);

// One gauge's readings, for a file of several gauges.
struct TCsvGauge {
    int address = 0; // 0..15
    std::vector<double> times, pressures;
    std::vector<EPressureUnit> units;
};

// Several gauges in one file: "time,pressure,unit,address" (the three columns of one gauge's
// file first, so that a script reading those by place still reads them), the address as the
// gauge shows it (0-9, A-F). Rows in time order, equal times by address, then in input order.
// Otherwise as ExportCsv.
std::string ExportCsvGauges(const std::string& path, const std::vector<TCsvGauge>& gauges,
                            const TCsvRange& range, std::size_t* written = nullptr);

} // namespace vg57
