// The standard process metrics (process_open_fds, process_max_fds, process_resident_memory_bytes,
// process_cpu_seconds_total, process_start_time_seconds) and vg57_build_info, read from the
// kernel at each scrape: a logger running out of descriptors or memory shows on a dashboard.
// Only this process's own /proc entries are read, which a unit with ProcSubset=pid still has.
#pragma once

#include "MetricsText.h"

#include <optional>
#include <string>
#include <vector>

namespace vg57 {

struct TProcessSample {
    double openFds = 0;
    double maxFds = 0;
    double residentBytes = 0;
    double cpuSeconds = 0;
    double startUnixSeconds = 0;
};

// Nothing when /proc can't be read.
std::optional<TProcessSample> ReadProcessSample();

// The families with # HELP and # TYPE; the process families are left out without a sample.
std::string ProcessExposition(const std::optional<TProcessSample>& sample,
                              const std::string& version,
                              const std::vector<TMetricLabel>& constantLabels);

} // namespace vg57
