#include "ArchiveLoader.h"

#include "ArchiveSystem.h"
#include "ChartModel.h"
#include "CivilTime.h"

#include <algorithm>
#include <cerrno>
#include <cstdint>
#include <fcntl.h>
#include <map>
#include <numeric>
#include <optional>
#include <sys/stat.h>
#include <unistd.h>
#include <vector>

namespace vg57 {

namespace {

class TFile {
public:
    explicit TFile(int fd) : fd_(fd) {}
    ~TFile() {
        if (fd_ >= 0) ::close(fd_);
    }
    TFile(const TFile&) = delete;
    TFile& operator=(const TFile&) = delete;
    int fd() const { return fd_; }

private:
    int fd_;
};

constexpr std::size_t kChunk = 256 * 1024;

// A written line takes 20 to 30 bytes. Only a hint: pages reserved and never written cost no
// memory, and room for all files at once spares a copy of everything read so far per file.
std::size_t ReadingsHint(std::uint64_t bytes, std::size_t limit = SIZE_MAX) {
    return static_cast<std::size_t>(std::min<std::uint64_t>(bytes / 20, limit));
}

// Feeds one file to the reader. Returns empty, or "<path>: <the system's words>". Stops early
// when cancelled or over the limit; the caller looks at both.
std::string ReadInto(const std::string& path, TArchiveReader& reader, TLoadProgress* progress,
                     bool reserve) {
    // Non-blocking, so that a named pipe chosen by mistake cannot hang the load in open().
    TFile file(::open(path.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC));
    if (file.fd() < 0) return path + ": " + ErrnoText(errno);
    struct stat st {};
    if (::fstat(file.fd(), &st) != 0) return path + ": " + ErrnoText(errno);
    if (S_ISDIR(st.st_mode)) return path + ": " + ErrnoText(EISDIR);
    // A device or a pipe may never end.
    if (!S_ISREG(st.st_mode)) return path + ": не обычный файл";

    if (reserve) reader.Reserve(ReadingsHint(static_cast<std::uint64_t>(st.st_size)));
    std::vector<char> buffer(kChunk);
    for (;;) {
        if (progress && progress->cancel.load()) return {};
        const ssize_t n = ::read(file.fd(), buffer.data(), buffer.size());
        if (n < 0 && errno == EINTR) continue;
        if (n < 0) return path + ": " + ErrnoText(errno);
        if (n == 0) break;
        reader.Feed({buffer.data(), static_cast<std::size_t>(n)});
        if (progress) progress->bytesRead += static_cast<std::uint64_t>(n);
        if (reader.OverLimit()) return {};
    }
    reader.Finish();
    return {};
}

// Puts `values` in the order of `order`, holding one extra copy of this array only.
template <class T> void Permute(std::vector<T>& values, const std::vector<std::uint32_t>& order) {
    std::vector<T> sorted;
    sorted.reserve(order.size());
    for (std::uint32_t i : order)
        sorted.push_back(values[i]);
    values = std::move(sorted);
}

// Sorted once, by time and then by position, which keeps equal times in file order without
// the buffer of a stable sort: 4 bytes a reading for the order, then one array at a time.
void SortByTime(TArchiveData& data) {
    const std::vector<double>& t = data.times;
    if (std::is_sorted(t.begin(), t.end())) return;
    std::vector<std::uint32_t> order(t.size());
    std::iota(order.begin(), order.end(), 0u);
    std::sort(order.begin(), order.end(), [&t](std::uint32_t a, std::uint32_t b) {
        return t[a] < t[b] || (t[a] == t[b] && a < b);
    });
    Permute(data.times, order);
    Permute(data.pressures, order);
    Permute(data.units, order);
}

struct TFileSpan {
    const std::string* path;
    double first, last;
};

// Two files whose spans cross would zig-zag into one false curve. Empty, or the two names.
std::string Overlapping(std::vector<TFileSpan> spans) {
    std::sort(spans.begin(), spans.end(),
              [](const TFileSpan& a, const TFileSpan& b) { return a.first < b.first; });
    for (std::size_t i = 1; i < spans.size(); ++i)
        if (spans[i].first < spans[i - 1].last) return *spans[i - 1].path + "\n" + *spans[i].path;
    return {};
}

TLoadResult Refused(std::string problem, std::string detail = {}) {
    TLoadResult r;
    r.problem = std::move(problem);
    r.detail = std::move(detail);
    return r;
}

} // namespace

namespace {

// Reads one gauge's files into `data`, in time order. Empty, or the refusal (or cancellation).
std::optional<TLoadResult> ReadGauge(const std::vector<std::string>& paths,
                                     const TLoadRequest& request, std::uint64_t bytes,
                                     TLoadProgress& progress, TLoadResult& result,
                                     TArchiveData& data) {
    TZoneRules rules(request.zone);
    std::vector<TFileSpan> spans;
    const std::size_t hint = ReadingsHint(bytes, request.maxReadings);
    data.times.reserve(hint);
    data.pressures.reserve(hint);
    data.units.reserve(hint);
    for (const std::string& path : paths) {
        const std::size_t firstOfFile = data.times.size();
        TArchiveReader reader(std::move(data));
        reader.Limit(request.maxReadings);
        const auto named = ArchiveNameDateTime(path);
        if (named) {
            reader.StartAt(*named);
            ++result.datedFiles;
        } else {
            ++result.undatedFiles;
        }
        const std::string problem = ReadInto(path, reader, &progress, false);
        if (progress.cancel.load()) {
            TLoadResult cancelled;
            cancelled.cancelled = true;
            return cancelled;
        }
        if (!problem.empty()) return Refused("Невозможно загрузить файл", problem);
        if (reader.OverLimit())
            return Refused("Слишком много измерений", "В выбранных файлах больше " +
                                                          std::to_string(request.maxReadings) +
                                                          " измерений. Выберите меньше файлов.");
        if (reader.Accepted() == 0)
            return Refused("В файле " + path + " нет ни одной строки с измерением");
        // Overlap is judged in local time: that is where the file order decides the instants.
        spans.push_back({&path, reader.First(), reader.Last()});
        data = reader.Take();
        if (named) // times of day with a date, or a line's own date: local either way
            LocalDaysToInstantDays(data.times.data() + firstOfFile, data.times.size() - firstOfFile,
                                   rules);
    }
    if (const std::string names = Overlapping(spans); !names.empty())
        return Refused("Файлы перекрываются по времени, их показания смешались бы в одну кривую",
                       names);
    SortByTime(data);
    if (result.datedFiles > 0 && !data.times.empty()) {
        data.tmin = data.times.front();
        data.tmax = data.times.back();
    }
    return std::nullopt;
}

// A gauge address's value, 0..15, for ordering the gauges.
int HexValue(char address) {
    return address <= '9' ? address - '0' : address - 'A' + 10;
}

std::uint64_t FileBytes(const std::string& path) {
    struct stat st {};
    if (::stat(path.c_str(), &st) == 0 && S_ISREG(st.st_mode))
        return static_cast<std::uint64_t>(st.st_size);
    return 0;
}

} // namespace

TLoadResult LoadArchives(const TLoadRequest& request, TLoadProgress& progress) {
    std::uint64_t total = 0;
    // The files per gauge address, in order of address; -1 for names without one.
    std::map<int, std::vector<std::string>> byGauge;
    std::map<int, std::uint64_t> bytes;
    for (const std::string& path : request.paths) {
        const std::optional<char> named = ArchiveNameAddress(path);
        const int address = named ? HexValue(*named) : -1;
        byGauge[address].push_back(path);
        bytes[address] += FileBytes(path);
        total += FileBytes(path);
    }
    progress.bytesTotal = total;

    TLoadResult result;
    result.zone = request.zone;
    if (byGauge.size() <= 1) {
        if (auto refused = ReadGauge(request.paths, request, total, progress, result, result.data))
            return std::move(*refused);
        return result;
    }
    TLoadRequest rest = request;
    for (const auto& [address, paths] : byGauge) {
        TLoadedGauge& gauge = result.gauges.emplace_back();
        gauge.address = address;
        if (auto refused = ReadGauge(paths, rest, bytes[address], progress, result, gauge.data))
            return std::move(*refused);
        // The limit holds for the whole load.
        rest.maxReadings -= std::min(rest.maxReadings, gauge.data.times.size());
    }
    return result;
}

std::string ReadArchiveFile(const std::string& path, TArchiveData& data) {
    TArchiveReader reader;
    if (std::string problem = ReadInto(path, reader, nullptr, true); !problem.empty())
        return problem;
    data = reader.Take();
    return {};
}

void ShowLoadedReadings(TChartModel& chart, TArchiveData&& data, const QTimeZone& zone) {
    const double tmin = data.tmin, tmax = data.tmax;
    chart.LoadArchive(std::move(data.times), std::move(data.pressures), tmin, tmax, data.units,
                      data.unitCodes);
    chart.SetShownTime(ShownLocalTime(zone));
}

void ShowLoadedGauges(TChartModel& chart, std::vector<TLoadedGauge>&& gauges,
                      const QTimeZone& zone) {
    std::vector<TChartModel::TGaugeArchive> archives;
    double tmin = 0, tmax = 0;
    for (std::size_t k = 0; k < gauges.size(); ++k) {
        TArchiveData& d = gauges[k].data;
        tmin = k == 0 ? d.tmin : std::min(tmin, d.tmin);
        tmax = k == 0 ? d.tmax : std::max(tmax, d.tmax);
        archives.push_back({gauges[k].address, std::move(d.times), std::move(d.pressures),
                            std::move(d.units), std::move(d.unitCodes)});
    }
    chart.LoadGaugeArchives(std::move(archives), tmin, tmax);
    chart.SetShownTime(ShownLocalTime(zone));
}

std::size_t LoadedReadings(const TLoadResult& result) {
    std::size_t n = result.data.times.size();
    for (const TLoadedGauge& g : result.gauges)
        n += g.data.times.size();
    return n;
}

std::size_t LoadedLinesSkipped(const TLoadResult& result) {
    std::size_t n = result.data.Skipped();
    for (const TLoadedGauge& g : result.gauges)
        n += g.data.Skipped();
    return n;
}

std::string LoadArchiveFile(const std::string& path, TChartModel& chart) {
    TLoadProgress progress;
    TLoadResult result = LoadArchives({{path}}, progress);
    if (!result.problem.empty()) return result.detail.empty() ? result.problem : result.detail;
    ShowLoadedReadings(chart, std::move(result.data));
    return {};
}

} // namespace vg57
