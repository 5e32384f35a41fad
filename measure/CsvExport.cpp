#include "CsvExport.h"

#include "ArchiveFormat.h"
#include "ArchiveSystem.h"
#include "DateTime.h"

#include <algorithm>
#include <cerrno>
#include <charconv>
#include <cmath>
#include <fcntl.h>
#include <unistd.h>

namespace vg57 {

namespace {

bool WriteAll(int fd, const std::string& bytes) {
    std::size_t done = 0;
    while (done < bytes.size()) {
        const ssize_t n = ::write(fd, bytes.data() + done, bytes.size() - done);
        if (n < 0 && errno == EINTR) continue;
        if (n < 0) return false;
        done += static_cast<std::size_t>(n);
    }
    return true;
}

} // namespace

void AppendIsoTime(std::string& out, std::int64_t instantMs, TZoneRules& zone) {
    const TLocalTime t = LocalTimeAt(zone.LocalOf(instantMs));
    AppendDate(out, t, '-');
    out += 'T';
    AppendClockTime(out, t);
    const long offset = zone.OffsetAt(instantMs);
    out += offset < 0 ? '-' : '+';
    const long minutes = std::labs(offset) / 60;
    AppendDigits(out, minutes / 60, 2);
    out += ':';
    AppendDigits(out, minutes % 60, 2);
}

namespace {

// The instants of the chosen rows, in their time order (timeOf(k): row k's time): wall-clock
// times are turned in that order, so that a repeated hour's passes keep theirs.
template <class TimeOf>
std::vector<std::int64_t> InstantsOfRows(std::size_t rows, TimeOf timeOf, const TCsvRange& range,
                                         TZoneRules& zone) {
    std::vector<std::int64_t> ms(rows);
    std::vector<std::size_t> instantRows; // rows already instants, the rest wall-clock times
    const std::int64_t date = MsOf(range.dateBase);
    for (std::size_t k = 0; k < rows; ++k) {
        const double t = timeOf(k);
        if (t >= kDatedTimesFrom && !range.localTimes) {
            ms[k] = InstantOfDays(t);
            instantRows.push_back(k);
        } else {
            // Whole milliseconds on both sides: the sum of two dates in days would not always be.
            ms[k] = MsOf(t) + (t < kDatedTimesFrom ? date : 0);
        }
    }
    if (instantRows.empty()) return InstantsOfLocal(std::move(ms), zone); // the usual case
    if (instantRows.size() == ms.size()) return ms;
    // Dated files loaded beside undated ones: only the wall-clock times are turned.
    std::vector<std::int64_t> local;
    std::vector<std::size_t> localRows;
    for (std::size_t k = 0, next = 0; k < ms.size(); ++k) {
        if (next < instantRows.size() && instantRows[next] == k) {
            ++next;
            continue;
        }
        local.push_back(ms[k]);
        localRows.push_back(k);
    }
    local = InstantsOfLocal(std::move(local), zone);
    for (std::size_t j = 0; j < localRows.size(); ++j)
        ms[localRows[j]] = local[j];
    return ms;
}

// One gauge's readings as the writer reads them.
struct TSource {
    const std::vector<double>* times;
    const std::vector<double>* pressures;
    const std::vector<EPressureUnit>* units;
    char address; // as written in the address column
};

// A row: its source and the reading's index there.
struct TRow {
    std::uint32_t source;
    std::size_t index;
};

char AddressDigit(int address) {
    return "0123456789ABCDEF"[address & 0xF];
}

std::string WriteCsv(const std::string& path, const std::vector<TSource>& sources, bool withAddress,
                     const TCsvRange& range, std::size_t* written) {
    std::vector<TRow> order;
    std::size_t all = 0;
    for (const TSource& s : sources)
        all += s.times->size();
    order.reserve(all);
    for (std::uint32_t s = 0; s < sources.size(); ++s) {
        const std::vector<double>& times = *sources[s].times;
        for (std::size_t i = 0; i < times.size(); ++i)
            if (times[i] >= range.from && times[i] <= range.to) order.push_back({s, i});
    }
    auto timeOf = [&](const TRow& r) { return (*sources[r.source].times)[r.index]; };
    // Sources come in order of address: equal times then keep it, and each gauge its own order.
    auto earlier = [&](const TRow& a, const TRow& b) { return timeOf(a) < timeOf(b); };
    if (!std::is_sorted(order.begin(), order.end(), earlier))
        std::stable_sort(order.begin(), order.end(), earlier);

    const int fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
    if (fd < 0) return path + ": " + ErrnoText(errno);
    std::string buffer = withAddress ? "time,pressure,unit,address\r\n" : "time,pressure,unit\r\n";
    constexpr std::size_t kChunk = 1 << 20;
    buffer.reserve(kChunk + 128);
    TZoneRules zone(range.zone);
    const std::vector<std::int64_t> instants = InstantsOfRows(
        order.size(), [&](std::size_t k) { return timeOf(order[k]); }, range, zone);
    bool ok = true;
    for (std::size_t k = 0; k < order.size(); ++k) {
        const TSource& s = sources[order[k].source];
        const std::size_t i = order[k].index;
        AppendIsoTime(buffer, instants[k], zone);
        buffer += ',';
        char number[32];
        const auto res = std::to_chars(number, number + sizeof number, (*s.pressures)[i]);
        buffer.append(number, res.ptr);
        buffer += ',';
        buffer += LatinUnitName(i < s.units->size() ? (*s.units)[i] : EPressureUnit::unknown);
        if (withAddress) {
            buffer += ',';
            buffer += s.address;
        }
        buffer += "\r\n";
        if (buffer.size() >= kChunk) {
            ok = WriteAll(fd, buffer);
            buffer.clear();
            if (!ok) break;
        }
    }
    if (ok) ok = WriteAll(fd, buffer);
    const int err = ok ? 0 : errno;
    if (::close(fd) != 0 && ok) return path + ": " + ErrnoText(errno);
    if (!ok) return path + ": " + ErrnoText(err);
    if (written) *written = order.size();
    return {};
}

} // namespace

std::string ExportCsv(const std::string& path, const std::vector<double>& times,
                      const std::vector<double>& pressures, const std::vector<EPressureUnit>& units,
                      const TCsvRange& range, std::size_t* written) {
    return WriteCsv(path, {{&times, &pressures, &units, 0}}, false, range, written);
}

std::string ExportCsvGauges(const std::string& path, const std::vector<TCsvGauge>& gauges,
                            const TCsvRange& range, std::size_t* written) {
    std::vector<const TCsvGauge*> byAddress;
    for (const TCsvGauge& g : gauges)
        byAddress.push_back(&g);
    std::stable_sort(
        byAddress.begin(), byAddress.end(),
        [](const TCsvGauge* a, const TCsvGauge* b) { return a->address < b->address; });
    std::vector<TSource> sources;
    for (const TCsvGauge* g : byAddress)
        sources.push_back({&g->times, &g->pressures, &g->units, AddressDigit(g->address)});
    return WriteCsv(path, sources, true, range, written);
}

} // namespace vg57
