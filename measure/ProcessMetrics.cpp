#include "ProcessMetrics.h"

#include <charconv>
#include <ctime>
#include <dirent.h>
#include <fstream>
#include <sstream>
#include <sys/resource.h>
#include <unistd.h>

namespace vg57 {

namespace {

std::string Number(double v) {
    char buf[64];
    return std::string(buf, std::to_chars(buf, buf + sizeof buf, v).ptr);
}

double Seconds(clockid_t clock) {
    timespec t{};
    clock_gettime(clock, &t);
    return static_cast<double>(t.tv_sec) + static_cast<double>(t.tv_nsec) * 1e-9;
}

} // namespace

std::optional<TProcessSample> ReadProcessSample() {
    TProcessSample s;
    DIR* fds = opendir("/proc/self/fd");
    if (!fds) return std::nullopt;
    int entries = 0;
    while (const dirent* e = readdir(fds))
        entries += e->d_name[0] != '.';
    closedir(fds);
    s.openFds = entries - 1; // the listing's own descriptor

    rlimit limit{};
    if (getrlimit(RLIMIT_NOFILE, &limit) == 0) s.maxFds = static_cast<double>(limit.rlim_cur);

    // After the command name, which may hold spaces and parentheses: state is field 3.
    std::ifstream statFile("/proc/self/stat");
    const std::string stat((std::istreambuf_iterator<char>(statFile)), {});
    const std::size_t close = stat.rfind(')');
    if (close == std::string::npos) return std::nullopt;
    std::istringstream fields(stat.substr(close + 2));
    std::string field;
    double utime = 0, stime = 0, started = 0;
    for (int n = 3; fields >> field && n <= 22; ++n) {
        if (n == 14) utime = std::stod(field);
        if (n == 15) stime = std::stod(field);
        if (n == 22) started = std::stod(field);
    }
    const double tick = static_cast<double>(sysconf(_SC_CLK_TCK));
    s.cpuSeconds = (utime + stime) / tick;
    // The start is kept in ticks since boot; the time since boot needs no /proc/uptime.
    s.startUnixSeconds = Seconds(CLOCK_REALTIME) - (Seconds(CLOCK_BOOTTIME) - started / tick);

    std::ifstream statm("/proc/self/statm");
    double pages = 0, resident = 0;
    if (!(statm >> pages >> resident)) return std::nullopt;
    s.residentBytes = resident * static_cast<double>(sysconf(_SC_PAGESIZE));
    return s;
}

std::string ProcessExposition(const std::optional<TProcessSample>& s, const std::string& version,
                              const std::vector<TMetricLabel>& constantLabels) {
    std::string out;
    const auto family = [&](const char* name, const char* type, const char* help,
                            const std::string& labels, const std::string& value) {
        out += std::string("# HELP ") + name + ' ' + help + "\n# TYPE " + name + ' ' + type + '\n' +
               name + labels + ' ' + value + '\n';
    };
    const std::string labels = FormatMetricLabels(constantLabels);
    if (s) {
        family("process_open_fds", "gauge", "Number of open file descriptors.", labels,
               Number(s->openFds));
        family("process_max_fds", "gauge", "Maximum number of open file descriptors.", labels,
               Number(s->maxFds));
        family("process_resident_memory_bytes", "gauge", "Resident memory size in bytes.", labels,
               Number(s->residentBytes));
        family("process_cpu_seconds_total", "counter",
               "Total user and system CPU time spent in seconds.", labels, Number(s->cpuSeconds));
        char start[64];
        family("process_start_time_seconds", "gauge",
               "Start time of the process since unix epoch in seconds.", labels,
               std::string(start, std::to_chars(start, start + sizeof start, s->startUnixSeconds,
                                                std::chars_format::fixed, 2)
                                      .ptr));
    }
    std::vector<TMetricLabel> withVersion = constantLabels;
    withVersion.push_back({"version", version});
    family("vg57_build_info", "gauge", "Always 1; the program's version in a label.",
           FormatMetricLabels(withVersion), "1");
    return out;
}

} // namespace vg57
