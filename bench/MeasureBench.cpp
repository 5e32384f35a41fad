// The measurement side's costs, in named sections (all by default, or those named on the command
// line): loading a day's archive into the chart against a bare reader of the same file, the same
// for 4 million lines with the load's peak memory, the leak rate of that day, its CSV export
// against a bare writer, and the cost of one archive line with its fdatasync. Figures are printed
// as "figure: NAME VALUE UNIT".
#include "ArchiveFormat.h"
#include "ArchiveLoadJob.h"
#include "ArchiveLoader.h"
#include "ArchiveWriter.h"
#include "ChartModel.h"
#include "CsvExport.h"
#include "CycleBench.h"
#include "DateTime.h"
#include "LeakRate.h"
#include "TempDir.h"

#include <algorithm>
#include <charconv>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <filesystem>
#include <fstream>
#include <functional>
#include <string>
#include <sys/wait.h>
#include <unistd.h>
#include <vector>

using namespace vg57;
using Clock = std::chrono::steady_clock;
namespace fs = std::filesystem;

namespace {

constexpr long kDayAtHalfSecond = 172800;

double Ms(Clock::duration d) {
    return std::chrono::duration<double, std::milli>(d).count();
}

double Median(std::vector<double> v) {
    std::sort(v.begin(), v.end());
    return v[v.size() / 2];
}

std::string ReadWhole(const std::string& path) {
    std::string bytes;
    const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
    char buf[1 << 16];
    for (ssize_t n; (n = ::read(fd, buf, sizeof buf)) > 0;)
        bytes.append(buf, static_cast<std::size_t>(n));
    ::close(fd);
    return bytes;
}

// The floor: the file read whole, lines split, "hh:nn:ss.zzz" taken apart by position and the
// pressure converted with from_chars, the points stored. No checks beyond what it needs.
std::size_t BareRead(const std::string& path, std::vector<double>& xs, std::vector<double>& ys) {
    const std::string bytes = ReadWhole(path);
    xs.clear();
    ys.clear();
    const char* p = bytes.data();
    const char* end = p + bytes.size();
    auto two = [](const char* s) { return (s[0] - '0') * 10 + (s[1] - '0'); };
    while (p < end) {
        const char* lf = static_cast<const char*>(std::memchr(p, '\n', end - p));
        if (!lf) lf = end;
        if (lf - p > 14 && p[12] == ' ') {
            const int ms = (p[9] - '0') * 100 + (p[10] - '0') * 10 + (p[11] - '0');
            const double t =
                (two(p) * 3600000.0 + two(p + 3) * 60000.0 + two(p + 6) * 1000.0 + ms) / 86400000.0;
            double v = 0;
            const char* q = p + 13;
            const char* space = static_cast<const char*>(std::memchr(q, ' ', lf - q));
            if (space && std::from_chars(q, space, v).ec == std::errc()) {
                xs.push_back(t);
                ys.push_back(v);
            }
        }
        p = lf + 1;
    }
    return xs.size();
}

// A day's archive at 0.5 s, warm in the cache.
std::string WriteDay(const test::TempDir& folder) {
    const std::string path = folder.Path() + "/day.txt";
    {
        std::ofstream out(path, std::ios::binary);
        for (long i = 0; i < kDayAtHalfSecond; ++i) {
            const TLocalTime t = LocalTimeOf(MakeDateTime(2026, 12, 7) + i * 0.5 / 86400);
            const long double p =
                1e-3L * (1 + 0.5L * std::sin(i * 0.001L)) * (1 + 0.02L * std::sin(i * 1.7L));
            out << FormatArchiveLine(t, p, "0002");
        }
    }
    ReadWhole(path);
    return path;
}

// The leak rate of the whole day as vg57-cli computes it: the file loaded, the interval's
// readings selected and converted, the fit and its halves.
std::size_t LeakRateOfDay(const std::string& path) {
    TArchiveData data;
    if (const std::string problem = ReadArchiveFile(path, data); !problem.empty()) {
        std::fprintf(stderr, "%s\n", problem.c_str());
        std::exit(1);
    }
    const TLeakAnalysis a = AnalyseLeak(
        SelectLeakReadings(data.times, data.pressures, ReadingUnits(data), data.tmin, data.tmax),
        10.0);
    return a.problem == ELeakProblem::none ? a.result.readings : 0;
}

// The fit of an hour at 0.5 s as the dialog and vg57-cli make it: the interval's readings
// selected, both models, the halves and dp/dt in windows. Two-digit readings of a leak with
// outgassing, so that the saturating model is searched and taken.
void LeakFit() {
    std::vector<double> times, pressures;
    std::vector<EPressureUnit> units;
    for (int i = 0; i < 7200; ++i) {
        const double t = i * 0.5;
        const double p = 1e-3 + 3e-7 * t + 5e-4 * -std::expm1(-t / 600);
        const double step = std::pow(10.0, std::floor(std::log10(p)) - 1);
        times.push_back(MakeDateTime(2026, 12, 7, 14) + t / 86400);
        pressures.push_back(std::round(p / step) * step);
        units.push_back(EPressureUnit::mbar);
    }
    std::vector<double> ms;
    ELeakVerdict verdict = ELeakVerdict::none;
    for (int round = 0; round < 21; ++round) {
        const auto t0 = Clock::now();
        const TLeakAnalysis a = AnalyseLeak(
            SelectLeakReadings(times, pressures, units, times.front(), times.back()), 10.0);
        ms.push_back(Ms(Clock::now() - t0));
        verdict = a.result.rise.verdict;
    }
    if (verdict != ELeakVerdict::leakAndOutgassing) {
        std::fprintf(stderr, "the hour's verdict is %d, not a leak with outgassing\n",
                     static_cast<int>(verdict));
        std::exit(1);
    }
    std::printf("leak rate fit of 7200 readings, both models: %.2f ms (median of 21)\n",
                Median(ms));
    std::printf("figure: leak_rate_fit_3600_ms %.2f ms\n", Median(ms));
}

void ArchiveLoad() {
    test::TempDir folder;
    const std::string path = WriteDay(folder);

    std::vector<double> loadMs, bareMs, readMs, storeMs, leakMs;
    std::size_t leakReadings = 0;
    std::vector<double> xs, ys;
    std::size_t loaded = 0, bare = 0;
    for (int round = 0; round < 15; ++round) {
        TChartModel chart(MakeDateTime(2026, 12, 7));
        auto t0 = Clock::now();
        if (const std::string problem = LoadArchiveFile(path, chart); !problem.empty()) {
            std::fprintf(stderr, "%s\n", problem.c_str());
            std::exit(1);
        }
        loadMs.push_back(Ms(Clock::now() - t0));
        loaded = chart.Points().Size();
        // The same split in two: reading and parsing, then storing in the chart.
        TArchiveData data;
        t0 = Clock::now();
        ReadArchiveFile(path, data);
        readMs.push_back(Ms(Clock::now() - t0));
        t0 = Clock::now();
        chart.LoadArchive(data.times, data.pressures, data.tmin, data.tmax);
        storeMs.push_back(Ms(Clock::now() - t0));
        t0 = Clock::now();
        bare = BareRead(path, xs, ys);
        bareMs.push_back(Ms(Clock::now() - t0));
        t0 = Clock::now();
        leakReadings = LeakRateOfDay(path);
        leakMs.push_back(Ms(Clock::now() - t0));
    }
    if (loaded != kDayAtHalfSecond || bare != kDayAtHalfSecond ||
        leakReadings != kDayAtHalfSecond) {
        std::fprintf(stderr, "loaded %zu, bare reader %zu, leak rate %zu of %ld lines\n", loaded,
                     bare, leakReadings, kDayAtHalfSecond);
        std::exit(1);
    }
    const double load = Median(loadMs), floor = Median(bareMs);
    std::printf("archive of %ld lines: chart load %.2f ms, bare reader %.2f ms (medians of 15)\n",
                kDayAtHalfSecond, load, floor);
    std::printf("  of which reading and parsing %.2f ms, storing in the chart %.2f ms\n",
                Median(readMs), Median(storeMs));
    std::printf("figure: archive_load_172800_ms %.2f ms\n", load);
    std::printf("figure: archive_bare_reader_172800_ms %.2f ms\n", floor);
    std::printf("figure: archive_load_172800_ratio %.2f x\n", load / floor);
    const double leak = Median(leakMs);
    std::printf("  leak rate of the day %.2f ms, of which reading the file %.2f ms\n", leak,
                Median(readMs));
    std::printf("figure: leak_rate_172800_ms %.2f ms\n", leak);
    std::printf("figure: leak_rate_172800_ratio %.2f x\n", leak / floor);
}

// The floor of the export: the same bytes as ExportCsv writes, made by hand with to_chars and a
// fixed offset, to the same disk.
void BareCsv(const std::string& path, const std::vector<double>& times,
             const std::vector<double>& pressures, double dateBase, long offsetSeconds) {
    std::string out = "time,pressure,unit\r\n";
    out.reserve(times.size() * 48);
    char buf[64];
    auto digits = [&](long v, int w) {
        for (int i = w - 1; i >= 0; --i, v /= 10)
            buf[i] = static_cast<char>('0' + v % 10);
        out.append(buf, static_cast<std::size_t>(w));
    };
    const long offMin = std::labs(offsetSeconds) / 60;
    for (std::size_t i = 0; i < times.size(); ++i) {
        const TLocalTime t = LocalTimeOf(times[i] + dateBase);
        digits(t.year, 4), out += '-', digits(t.month, 2), out += '-', digits(t.day, 2);
        out += 'T';
        digits(t.hour, 2), out += ':', digits(t.minute, 2), out += ':', digits(t.second, 2);
        out += '.', digits(t.millisecond, 3);
        out += offsetSeconds < 0 ? '-' : '+', digits(offMin / 60, 2), out += ':';
        digits(offMin % 60, 2);
        out += ',';
        const auto res = std::to_chars(buf, buf + sizeof buf, pressures[i]);
        out.append(buf, res.ptr);
        out += ",Torr\r\n";
    }
    const int fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
    for (std::size_t done = 0; done < out.size();) {
        const ssize_t n = ::write(fd, out.data() + done, out.size() - done);
        if (n <= 0) break;
        done += static_cast<std::size_t>(n);
    }
    ::close(fd);
}

void Export() {
    test::TempDir folder;
    TArchiveData data;
    ReadArchiveFile(WriteDay(folder), data);
    // The day's file names its own date; undated times of day get it added.
    const double dateBase = MakeDateTime(2026, 12, 7) - MakeDateTime(1899, 12, 30);
    TCsvRange range;
    range.dateBase = dateBase;
    const std::string csv = folder.Path() + "/day.csv", bareCsv = folder.Path() + "/bare.csv";
    TZoneRules zone;
    const long offset = zone.OffsetAt(zone.InstantsOf(MsOf(data.times.front() + dateBase)).first);
    std::vector<double> exportMs, bareMs;
    for (int round = 0; round < 11; ++round) {
        auto t0 = Clock::now();
        if (const std::string problem =
                ExportCsv(csv, data.times, data.pressures, ReadingUnits(data), range);
            !problem.empty()) {
            std::fprintf(stderr, "%s\n", problem.c_str());
            std::exit(1);
        }
        exportMs.push_back(Ms(Clock::now() - t0));
        t0 = Clock::now();
        BareCsv(bareCsv, data.times, data.pressures, dateBase, offset);
        bareMs.push_back(Ms(Clock::now() - t0));
    }
    if (ReadWhole(csv) != ReadWhole(bareCsv)) {
        std::fprintf(stderr, "the export and the bare writer wrote different bytes\n");
        std::exit(1);
    }
    const double exp = Median(exportMs), floor = Median(bareMs);
    std::printf("CSV of %ld readings: export %.2f ms, bare writer %.2f ms (medians of 11)\n",
                kDayAtHalfSecond, exp, floor);
    std::printf("figure: export_172800_ms %.2f ms\n", exp);
    std::printf("figure: export_bare_writer_172800_ms %.2f ms\n", floor);
    std::printf("figure: export_172800_ratio %.2f x\n", exp / floor);
}

constexpr long kFourMillion = 4'000'000;

// 4 million lines at 0.5 s (23 days) from the name's date, in file order or scrambled.
std::string WriteBigArchive(const std::string& folder, bool scrambled) {
    const double start = MakeDateTime(2026, 11, 1, 10, 0, 0);
    const std::string path = folder + "/" + ArchiveFileName(LocalTimeOf(start));
    std::ofstream out(path, std::ios::binary);
    std::string block;
    for (long i = 0; i < kFourMillion; ++i) {
        // A prime step visits every line once, far from file order.
        const long j = scrambled ? i * 7919 % kFourMillion : i;
        const long double p =
            1e-3L * (1 + 0.5L * std::sin(j * 0.001L)) * (1 + 0.02L * std::sin(j * 1.7L));
        block += FormatArchiveLine(LocalTimeOf(start + j * 0.5 / 86400), p, "0002");
        if (block.size() > (1 << 20)) {
            out << block;
            block.clear();
        }
    }
    out << block;
    return path;
}

long StatusKib(const char* key) {
    std::ifstream status("/proc/self/status");
    for (std::string line; std::getline(status, line);)
        if (line.rfind(key, 0) == 0) return std::atol(line.c_str() + std::strlen(key));
    return -1;
}

// The whole load as the window runs it: the worker thread, then the chart's store.
std::size_t LoadAsTheWindowDoes(const std::string& path, TChartModel& chart) {
    TArchiveLoadJob job({{path}}, {});
    TLoadResult result = job.Take();
    if (!result.problem.empty()) {
        std::fprintf(stderr, "%s %s\n", result.problem.c_str(), result.detail.c_str());
        std::exit(1);
    }
    ShowLoadedReadings(chart, std::move(result.data));
    return chart.Points().Size();
}

// Peak resident size of one load, less the size before it, in a fresh child process so that
// nothing else this program did counts; "5" to clear_refs restarts the peak.
double LoadPeakMib(const std::string& path) {
    int pipeFds[2];
    if (::pipe(pipeFds) != 0) std::exit(1);
    const pid_t child = ::fork();
    if (child == 0) {
        std::ofstream("/proc/self/clear_refs") << "5";
        const long before = StatusKib("VmRSS:");
        TChartModel chart(0);
        const std::size_t points = LoadAsTheWindowDoes(path, chart);
        const double mib = (StatusKib("VmHWM:") - before) / 1024.0;
        const bool ok = points == static_cast<std::size_t>(kFourMillion);
        (void)!::write(pipeFds[1], &mib, sizeof mib);
        ::_exit(ok ? 0 : 1);
    }
    double mib = -1;
    (void)!::read(pipeFds[0], &mib, sizeof mib);
    int status = 0;
    ::waitpid(child, &status, 0);
    ::close(pipeFds[0]);
    ::close(pipeFds[1]);
    if (!WIFEXITED(status) || WEXITSTATUS(status) != 0) {
        std::fprintf(stderr, "the load in the child process failed\n");
        std::exit(1);
    }
    return mib;
}

void ArchiveLoad4m() {
    test::TempDir folder;
    const double budget = 32.0 * kFourMillion / (1024 * 1024) + 64;
    const std::string path = WriteBigArchive(folder.Path(), false);
    const double peak = LoadPeakMib(path);
    ReadWhole(path); // warm in the cache
    std::vector<double> loadMs, bareMs, xs, ys;
    for (int round = 0; round < 3; ++round) {
        TChartModel chart(0);
        auto t0 = Clock::now();
        LoadAsTheWindowDoes(path, chart);
        loadMs.push_back(Ms(Clock::now() - t0));
        t0 = Clock::now();
        if (BareRead(path, xs, ys) != static_cast<std::size_t>(kFourMillion)) std::exit(1);
        bareMs.push_back(Ms(Clock::now() - t0));
    }
    fs::remove(path);
    const std::string scrambled = WriteBigArchive(folder.Path(), true);
    const double scrambledPeak = LoadPeakMib(scrambled);
    TChartModel chart(0);
    const auto t0 = Clock::now();
    LoadAsTheWindowDoes(scrambled, chart);
    const double scrambledMs = Ms(Clock::now() - t0);
    fs::remove(scrambled);

    const double load = Median(loadMs), floor = Median(bareMs);
    std::printf("archive of %ld lines (%s): load %.0f ms, bare reader %.0f ms (medians of 3)\n",
                kFourMillion, folder.Path().c_str(), load, floor);
    std::printf("  peak memory of the load %.1f MiB, budget 32 B a point + 64 MiB = %.1f MiB\n",
                peak, budget);
    std::printf("  out of order: load %.0f ms, peak %.1f MiB\n", scrambledMs, scrambledPeak);
    std::printf("figure: archive_load_4m_ms %.0f ms\n", load);
    std::printf("figure: archive_load_4m_ratio %.2f x\n", load / floor);
    std::printf("figure: archive_load_4m_peak_mib %.1f MiB\n", peak);
    std::printf("figure: archive_load_4m_unordered_peak_mib %.1f MiB\n", scrambledPeak);
}

void ArchiveWrite() {
    test::TempDir folder;
    TArchiveWriter writer;
    writer.SetFolder(folder.Path());
    writer.Reset();
    const std::int64_t start = MakeLocalMs(2026, 12, 7, 10, 0, 0);
    std::vector<double> us;
    constexpr int kLines = 400;
    for (int i = 0; i < kLines; ++i) {
        const auto t0 = Clock::now();
        writer.WriteArchiveLine(start + i * 500, 1.25e-3L + i * 1e-9L, "0002");
        us.push_back(Ms(Clock::now() - t0) * 1000.0);
    }
    writer.Close();
    if (!writer.Problem().empty()) {
        std::fprintf(stderr, "%s\n", writer.Problem().c_str());
        std::exit(1);
    }
    us.erase(us.begin()); // the first line also creates the file and syncs the folder
    std::sort(us.begin(), us.end());
    std::printf("archive line with fdatasync: median %.1f us, 90th percentile %.1f us (%d lines, "
                "%s)\n",
                us[us.size() / 2], us[us.size() * 9 / 10], kLines - 1,
                fs::temp_directory_path().c_str());
    std::printf("figure: archive_write_line_us %.1f us\n", us[us.size() / 2]);
}

struct Section {
    const char* name;
    std::function<void()> run;
};

} // namespace

int main(int argc, char** argv) {
    const Section sections[] = {
        {"archive_load", ArchiveLoad},   {"archive_load_4m", ArchiveLoad4m},
        {"archive_write", ArchiveWrite}, {"export", Export},
        {"leak_fit", LeakFit},           {"measuring", MeasuringCpu},
        {"silent", SilentCpu},
    };
    bool ran = false;
    for (const Section& s : sections) {
        bool wanted = argc < 2;
        for (int i = 1; i < argc; ++i)
            wanted = wanted || std::strcmp(argv[i], s.name) == 0;
        if (!wanted) continue;
        std::printf("== %s\n", s.name);
        std::fflush(stdout);
        s.run();
        ran = true;
    }
    if (!ran) {
        std::fprintf(stderr, "sections:");
        for (const Section& s : sections)
            std::fprintf(stderr, " %s", s.name);
        std::fprintf(stderr, "\n");
        return 1;
    }
    return 0;
}
