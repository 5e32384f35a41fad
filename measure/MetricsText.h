// The Prometheus text exposition (format 0.0.4) of a metrics sample, and the constant labels an
// operator adds to tell many gauges apart. Plain C++: tested as text, served by any HTTP server.
#pragma once

#include "MetricsBoard.h"

#include <string>
#include <string_view>
#include <vector>

namespace vg57 {

struct TMetricLabel {
    std::string name;
    std::string value;
};

// Parses "KEY=VALUE" and appends it to `labels`. False with a one-line reason when the name is
// not a label name, is reserved ("__" prefix), is one of our own labels or is given twice.
bool AddMetricLabel(std::string_view text, std::vector<TMetricLabel>& labels, std::string& reason);

// A reading older than three polling intervals is not current: its pressure is omitted.
bool ReadingIsStale(const TMetricsSample& sample, double steadyNowSeconds);

// Every family with its # HELP and # TYPE lines; families without a current value are left out.
std::string MetricsExposition(const TMetricsSample& sample, double steadyNowSeconds,
                              const std::vector<TMetricLabel>& constantLabels);

// Several gauges on one line: every family once, a sample per gauge labelled with its address,
// and the bus's counters and achieved interval.
std::string MetricsExposition(const std::vector<TMetricsSample>& gauges, const TBusSample& bus,
                              double steadyNowSeconds,
                              const std::vector<TMetricLabel>& constantLabels);

// `{name="value",...}` with the values escaped; empty for no labels.
std::string FormatMetricLabels(const std::vector<TMetricLabel>& labels);

// The exposition's content type.
inline constexpr char kMetricsContentType[] = "text/plain; version=0.0.4; charset=utf-8";

} // namespace vg57
