// Readings as InfluxDB line protocol (also taken by VictoriaMetrics and Telegraf): measurement
// "vg57", the tags address, unit and the constant labels, the fields pressure (as read) and
// pascals, and the reading's instant in nanoseconds.
#pragma once

#include "MetricsText.h"

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace vg57 {

// A tag key or value with the characters the protocol gives a meaning (comma, space, '=')
// escaped by a backslash.
std::string EscapeTag(std::string_view text);

// "vg57,address=0,<labels>": what every point of one gauge begins with. The labels are sorted by
// key, as the server keeps them.
std::string PointPrefix(char address, std::vector<TMetricLabel> labels);

// Appends one point ending in LF; false (nothing appended) when a value is not finite, which the
// protocol cannot carry. `unitCode` is the gauge's ("0001"): its name goes in the unit tag, or
// the code itself when it names no unit, and pascals only when known.
bool AppendPoint(std::string& out, std::string_view prefix, std::string_view unitCode,
                 double pressure, std::int64_t unixMs);

} // namespace vg57
