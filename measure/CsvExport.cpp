#include "CsvExport.h"

#include "ArchiveFormat.h"
#include "ArchiveSystem.h"

#include <algorithm>
#include <cerrno>
#include <charconv>
#include <cmath>
#include <ctime>
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

long TUtcOffsets::At(double localDateTime) {
    const auto hour = static_cast<long long>(std::floor(localDateTime * 24.0));
    if (hour == hour_) return offset_;
    const TLocalTime t = LocalTimeOf(localDateTime);
    std::tm tm{};
    tm.tm_year = t.year - 1900;
    tm.tm_mon = t.month - 1;
    tm.tm_mday = t.day;
    tm.tm_hour = t.hour;
    tm.tm_min = t.minute;
    tm.tm_sec = t.second;
    tm.tm_isdst = -1; // the zone's rules decide
    std::mktime(&tm);
    hour_ = hour;
    offset_ = tm.tm_gmtoff;
    return offset_;
}

void AppendIsoTime(std::string& out, double localDateTime, TUtcOffsets& offsets) {
    const TLocalTime t = LocalTimeOf(localDateTime);
    AppendDate(out, t, '-');
    out += 'T';
    AppendClockTime(out, t);
    const long offset = offsets.At(localDateTime);
    out += offset < 0 ? '-' : '+';
    const long minutes = std::labs(offset) / 60;
    AppendDigits(out, minutes / 60, 2);
    out += ':';
    AppendDigits(out, minutes % 60, 2);
}

std::string ExportCsv(const std::string& path, const std::vector<double>& times,
                      const std::vector<double>& pressures, const std::vector<EPressureUnit>& units,
                      const TCsvRange& range, std::size_t* written) {
    std::vector<std::size_t> order;
    order.reserve(times.size());
    for (std::size_t i = 0; i < times.size(); ++i)
        if (times[i] >= range.from && times[i] <= range.to) order.push_back(i);
    auto earlier = [&](std::size_t a, std::size_t b) { return times[a] < times[b]; };
    if (!std::is_sorted(order.begin(), order.end(), earlier))
        std::stable_sort(order.begin(), order.end(), earlier);

    const int fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
    if (fd < 0) return path + ": " + ErrnoText(errno);
    std::string buffer = "time,pressure,unit\r\n";
    constexpr std::size_t kChunk = 1 << 20;
    buffer.reserve(kChunk + 128);
    TUtcOffsets offsets;
    bool ok = true;
    for (std::size_t i : order) {
        // Only times of day get the date: dated readings loaded beside them keep their own.
        const double date = times[i] < kDatedTimesFrom ? range.dateBase : 0.0;
        AppendIsoTime(buffer, times[i] + date, offsets);
        buffer += ',';
        char number[32];
        const auto res = std::to_chars(number, number + sizeof number, pressures[i]);
        buffer.append(number, res.ptr);
        buffer += ',';
        buffer += LatinUnitName(i < units.size() ? units[i] : EPressureUnit::unknown);
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

} // namespace vg57
