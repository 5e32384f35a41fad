#include "ArchiveFormat.h"

#include "DateTime.h"
#include "NumberFormat.h"

#include <algorithm>
#include <charconv>
#include <cmath>

namespace vg57 {

namespace {

bool IsDigit(char c) {
    return c >= '0' && c <= '9';
}

// A run of digits at i; the value saturates, since only range checks follow.
bool ReadDigits(std::string_view t, std::size_t& i, long& value, std::size_t* count = nullptr) {
    const std::size_t start = i;
    value = 0;
    for (; i < t.size() && IsDigit(t[i]); ++i)
        if (value < 1'000'000) value = value * 10 + (t[i] - '0');
    if (count) *count = i - start;
    return i > start;
}

enum class EMarker { none, am, pm };

EMarker ReadMarker(std::string_view t, std::size_t& i) {
    if (i + 2 > t.size() || (t[i + 1] != 'M' && t[i + 1] != 'm')) return EMarker::none;
    const char c = t[i];
    if (c != 'A' && c != 'a' && c != 'P' && c != 'p') return EMarker::none;
    i += 2;
    return c == 'A' || c == 'a' ? EMarker::am : EMarker::pm;
}

double TimeOfDayValue(long hour, long minute, long second, long ms) {
    return (hour * 3600000.0 + minute * 60000.0 + second * 1000.0 + ms) / 86400000.0;
}

// "hh:nn:ss.zzz" exactly as written: the common case, taken apart by position.
bool ParseWrittenTime(std::string_view t, double& out) {
    if (t.size() != 12 || t[2] != ':' || t[5] != ':' || t[8] != '.') return false;
    for (std::size_t i : {0, 1, 3, 4, 6, 7, 9, 10, 11})
        if (!IsDigit(t[i])) return false;
    auto two = [&](std::size_t i) { return (t[i] - '0') * 10L + (t[i + 1] - '0'); };
    const long hour = two(0), minute = two(3), second = two(6);
    if (hour > 23 || minute > 59 || second > 59) return false;
    out = TimeOfDayValue(hour, minute, second, two(9) * 10 + (t[11] - '0'));
    return true;
}

bool ParseTimeOfDay(std::string_view t, double& out) {
    if (ParseWrittenTime(t, out)) return true;
    std::size_t i = 0;
    EMarker marker = ReadMarker(t, i);
    long hour = 0, minute = 0, second = 0, ms = 0;
    if (!ReadDigits(t, i, hour)) return false;
    if (i < t.size() && t[i] == ':') {
        if (!ReadDigits(t, ++i, minute)) return false;
        if (i < t.size() && t[i] == ':') {
            if (!ReadDigits(t, ++i, second)) return false;
            if (i < t.size() && t[i] == '.' && !ReadDigits(t, ++i, ms)) return false;
        }
    }
    if (marker == EMarker::none) marker = ReadMarker(t, i);
    if (i != t.size()) return false;
    if (marker != EMarker::none) {
        // 12 AM is midnight, 12 PM noon.
        if (hour > 12) return false;
        if (hour == 12) hour = 0;
        if (marker == EMarker::pm) hour += 12;
    }
    if (hour > 23 || minute > 59 || second > 59 || ms > 999) return false;
    out = TimeOfDayValue(hour, minute, second, ms);
    return true;
}

bool IsLeapYear(long y) {
    return (y % 4 == 0 && y % 100 != 0) || y % 400 == 0;
}

// The short date "d.m.yyyy" (one or two digits for day and month).
bool ParseDate(std::string_view t, double& out) {
    std::size_t i = 0, n = 0;
    long day = 0, month = 0, year = 0;
    if (!ReadDigits(t, i, day, &n) || n > 2 || i >= t.size() || t[i] != '.') return false;
    if (!ReadDigits(t, ++i, month, &n) || n > 2 || i >= t.size() || t[i] != '.') return false;
    if (!ReadDigits(t, ++i, year, &n) || n != 4 || i != t.size()) return false;
    static constexpr int kDays[] = {31, 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
    if (year < 1 || month < 1 || month > 12 || day < 1) return false;
    const long last = kDays[month - 1] + (month == 2 && IsLeapYear(year) ? 1 : 0);
    if (day > last) return false;
    out = MakeDateTime(static_cast<int>(year), static_cast<int>(month), static_cast<int>(day));
    return true;
}

// The pressure field: an optional sign, digits with an optional '.', an optional exponent; the
// rules of ParseNumber, converted straight to the double the chart keeps (one rounding, and far
// faster than through long double).
bool ParsePressure(std::string_view t, double& out) {
    // The common case first: a number from_chars takes whole, starting with a digit or '.', is
    // one the rules below accept (from_chars alone would also take "inf" and "nan").
    if (!t.empty() && (IsDigit(t[0]) || t[0] == '.')) {
        const auto res = std::from_chars(t.data(), t.data() + t.size(), out);
        if (res.ec == std::errc() && res.ptr == t.data() + t.size()) return true;
    }
    std::size_t i = 0;
    bool negative = false;
    if (i < t.size() && (t[i] == '+' || t[i] == '-')) negative = t[i++] == '-';
    const std::size_t start = i;
    std::size_t digits = 0;
    for (; i < t.size() && IsDigit(t[i]); ++i)
        ++digits;
    if (i < t.size() && t[i] == '.')
        for (++i; i < t.size() && IsDigit(t[i]); ++i)
            ++digits;
    if (digits == 0) return false;
    if (i < t.size() && (t[i] == 'E' || t[i] == 'e')) {
        ++i;
        if (i < t.size() && (t[i] == '+' || t[i] == '-')) ++i;
        const std::size_t expStart = i;
        while (i < t.size() && IsDigit(t[i]))
            ++i;
        if (i == expStart) return false;
    }
    if (i != t.size()) return false;
    // from_chars takes no '+': the sign is applied here.
    const std::string_view body = t.substr(start);
    double value = 0;
    const auto res = std::from_chars(body.data(), body.data() + body.size(), value);
    if (res.ec == std::errc() && res.ptr == body.data() + body.size()) {
        out = negative ? -value : value;
        return true;
    }
    // Beyond a double: too small reads as zero, too large cannot be charted.
    const auto general = ParseNumber(t);
    if (!general || !std::isfinite(static_cast<double>(*general))) return false;
    out = static_cast<double>(*general);
    // A negative pressure too small for a double would read as -0 and pass for none: it is
    // refused here, as every negative pressure is.
    return !(*general < 0 && out == 0);
}

// The time field; plain results rather than optionals keep the per-line path free of stalls.
bool ParseTime(std::string_view text, TArchiveTime& out) {
    if (text.empty() || text.size() > kArchiveTimeTextMax) return false;
    out.hasDate = false;
    if (ParseTimeOfDay(text, out.value)) return true;
    out.hasDate = true;
    return ParseDate(text, out.value);
}

constexpr long long kMsPerDay = 86'400'000;

} // namespace

TLocalTime LocalTimeOf(double dateTime) {
    if (!(dateTime >= 1.0 && dateTime < 2958466.0)) return {};
    return LocalTimeAt(std::llround(dateTime * kMsPerDay));
}

TLocalTime LocalTimeAt(std::int64_t total) {
    if (!(total >= kMsPerDay && total < 2958466LL * kMsPerDay)) return {};
    const long long msOfDay = total % kMsPerDay;
    const TCivilDate date = CivilDateOf(total / kMsPerDay);
    TLocalTime t;
    t.year = date.year;
    t.month = date.month;
    t.day = date.day;
    t.hour = static_cast<int>(msOfDay / 3'600'000);
    t.minute = static_cast<int>(msOfDay / 60'000 % 60);
    t.second = static_cast<int>(msOfDay / 1000 % 60);
    t.millisecond = static_cast<int>(msOfDay % 1000);
    return t;
}

void AppendDigits(std::string& out, long value, int width) {
    char buf[8];
    for (int i = width - 1; i >= 0; --i, value /= 10)
        buf[i] = static_cast<char>('0' + value % 10);
    out.append(buf, static_cast<std::size_t>(width));
}

void AppendDate(std::string& out, const TLocalTime& t, char separator) {
    AppendDigits(out, t.year, 4);
    out += separator;
    AppendDigits(out, t.month, 2);
    out += separator;
    AppendDigits(out, t.day, 2);
}

void AppendClockTime(std::string& out, const TLocalTime& t) {
    AppendDigits(out, t.hour, 2);
    out += ':';
    AppendDigits(out, t.minute, 2);
    out += ':';
    AppendDigits(out, t.second, 2);
    out += '.';
    AppendDigits(out, t.millisecond, 3);
}

std::string ArchiveFileName(const TLocalTime& t, char address) {
    std::string out;
    out.reserve(26);
    AppendDate(out, t, '_');
    out += ' ';
    AppendDigits(out, t.hour, 2);
    out += '_';
    AppendDigits(out, t.minute, 2);
    out += '_';
    AppendDigits(out, t.second, 2);
    if (address) {
        out += " a";
        out += address;
    }
    out += ".txt";
    return out;
}

std::optional<char> ArchiveNameAddress(std::string_view path) {
    const std::size_t slash = path.rfind('/');
    const std::string_view name = slash == std::string_view::npos ? path : path.substr(slash + 1);
    // "yyyy_mm_dd hh_nn_ss aC.txt": the address is one of the gauge's 0-9, A-F.
    constexpr std::size_t kSize = 26, kAt = 21;
    if (name.size() != kSize || name.substr(kAt - 2, 2) != " a" || !name.ends_with(".txt"))
        return std::nullopt;
    const char c = name[kAt];
    if (!IsDigit(c) && !(c >= 'A' && c <= 'F')) return std::nullopt;
    return c;
}

std::string ArchiveNameWithoutAddress(std::string_view path) {
    std::string out(path);
    if (ArchiveNameAddress(path)) out.erase(out.size() - 7, 3); // " aC" before ".txt"
    return out;
}

std::string FormatArchiveLine(const TLocalTime& t, long double pressure,
                              std::string_view unitCode) {
    std::string out;
    out.reserve(40);
    AppendClockTime(out, t);
    out += ' ';
    out += FormatGeneral(pressure);
    out += ' ';
    out += unitCode;
    out += "\r\n";
    return out;
}

std::optional<double> ArchiveNameDateTime(std::string_view fullPath) {
    const std::string plain = ArchiveNameWithoutAddress(fullPath);
    const std::string_view path = plain;
    const std::size_t slash = path.rfind('/');
    const std::string_view name = slash == std::string_view::npos ? path : path.substr(slash + 1);
    // Fixed positions: digits everywhere but the separators of "yyyy_mm_dd hh_nn_ss.txt".
    constexpr std::string_view kForm = "dddd_dd_dd dd_dd_dd.txt";
    if (name.size() != kForm.size()) return std::nullopt;
    for (std::size_t i = 0; i < kForm.size(); ++i)
        if (kForm[i] == 'd' ? !IsDigit(name[i]) : name[i] != kForm[i]) return std::nullopt;
    auto number = [&](std::size_t at, std::size_t width) {
        int v = 0;
        for (std::size_t i = at; i < at + width; ++i)
            v = v * 10 + (name[i] - '0');
        return v;
    };
    double date = 0;
    const std::string dateText = std::to_string(number(8, 2)) + "." + std::to_string(number(5, 2)) +
                                 "." + std::string(name.substr(0, 4));
    const int hour = number(11, 2), minute = number(14, 2), second = number(17, 2);
    if (!ParseDate(dateText, date) || hour > 23 || minute > 59 || second > 59) return std::nullopt;
    return date + (hour * 3600.0 + minute * 60.0 + second) / 86400.0;
}

std::optional<TArchiveTime> ParseArchiveTime(std::string_view text) {
    TArchiveTime t;
    if (!ParseTime(text, t)) return std::nullopt;
    return t;
}

std::optional<TArchiveReading> ParseArchiveLine(std::string_view line) {
    TArchiveReading r;
    std::size_t p1 = 12;
    // A line as the program writes it has its time at fixed places; others take the long way.
    if (line.size() > p1 && line[p1] == ' ' && ParseWrittenTime(line.substr(0, p1), r.time.value)) {
        r.time.hasDate = false;
    } else {
        p1 = line.find(' ');
        if (p1 == std::string_view::npos) return std::nullopt; // no time text
        if (!ParseTime(line.substr(0, p1), r.time)) return std::nullopt;
    }
    const std::string_view window = line.substr(p1 + 1, kArchivePressureWindow);
    const std::size_t p2 = window.find(' ');
    if (p2 == std::string_view::npos) return std::nullopt;
    // The gauge reports no negative pressure: such a line is malformed, not a reading.
    if (!ParsePressure(window.substr(0, p2), r.pressure) || r.pressure < 0) return std::nullopt;
    // By hand: find_first_of looks each character up in the set, a call per character, and this
    // runs for every line of a day's file.
    const std::string_view rest = line.substr(p1 + 1 + p2 + 1);
    std::size_t n = 0;
    const std::size_t codeEnd = std::min(rest.size(), kArchiveUnitCodeMax);
    while (n < codeEnd && rest[n] != ' ' && rest[n] != '\r')
        ++n;
    // A unit code is four characters, or none before the first unit was read. Any other length
    // is a line cut short ("0.00011 0" of a full disk), never a unit.
    if (n != 0 && n != kArchiveUnitCodeLength) return std::nullopt;
    r.unitCode = rest.substr(0, n);
    return r;
}

} // namespace vg57
