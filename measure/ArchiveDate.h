// The date an archive's name carries: its lines hold times of day only, and the file is named
// after the run's first reading, "yyyy_mm_dd hh_nn_ss.txt" ("yyyy_mm_dd hh_nn_ss a5.txt" for one of
// several gauges on a line).
#pragma once

#include <optional>
#include <string_view>

namespace vg57 {

// Midnight of the named date (a date-time), from a path or a bare file name; empty when the
// name has another form or names no real date.
std::optional<double> DateOfArchiveName(std::string_view path);

} // namespace vg57
