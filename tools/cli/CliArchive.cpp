#include "CliArchive.h"

#include "ArchiveLoader.h"
#include "DateTime.h"

#include <QDate>
#include <QRegularExpression>

#include <cmath>

namespace vg57::cli {

namespace {
std::optional<double> DateValue(int year, int month, int day) {
    if (!QDate::isValid(year, month, day) || year < 1) return std::nullopt;
    return MakeDateTime(year, month, day);
}
} // namespace

std::optional<TCliTime> ParseCliTime(const QString& text) {
    static const QRegularExpression form(
        R"(^(?:(\d{4})-(\d{2})-(\d{2})T)?(\d{2}):(\d{2}):(\d{2})(?:\.(\d{1,3}))?$)");
    const auto m = form.match(text);
    if (!m.hasMatch()) return std::nullopt;
    const int hour = m.captured(4).toInt(), minute = m.captured(5).toInt(),
              second = m.captured(6).toInt();
    if (hour > 23 || minute > 59 || second > 59) return std::nullopt;
    // ".5" is half a second: the digits are a fraction, not a count of milliseconds.
    const int ms = m.captured(7).isEmpty() ? 0 : m.captured(7).leftJustified(3, '0').toInt();
    TCliTime t;
    t.value = (hour * 3600000.0 + minute * 60000.0 + second * 1000.0 + ms) / 86400000.0;
    if (!m.captured(1).isEmpty()) {
        const auto date =
            DateValue(m.captured(1).toInt(), m.captured(2).toInt(), m.captured(3).toInt());
        if (!date) return std::nullopt;
        t.value += *date;
        t.hasDate = true;
    }
    return t;
}

std::optional<double> ParseCliDate(const QString& text) {
    static const QRegularExpression form(R"(^(\d{4})-(\d{2})-(\d{2})$)");
    const auto m = form.match(text);
    if (!m.hasMatch()) return std::nullopt;
    return DateValue(m.captured(1).toInt(), m.captured(2).toInt(), m.captured(3).toInt());
}

std::optional<QString> LoadCliArchive(TCliArchive& archive) {
    const std::string problem = ReadArchiveFile(archive.path.toStdString(), archive.data);
    if (!problem.empty()) return QString::fromStdString(problem);
    // As the window refuses it: a file of no reading (a binary file, a wrong file) is no archive.
    if (archive.data.times.empty())
        return QString("%1: not a single reading in %2 lines")
            .arg(archive.path)
            .arg(archive.data.lines);
    return std::nullopt;
}

TPlaced PlaceTime(const TCliArchive& archive, const TCliTime& time) {
    const TArchiveData& d = archive.data;
    if (d.times.empty()) return {0, {}};
    if (time.hasDate) {
        if (archive.dated()) return {time.value, {}};
        if (!archive.date) return {0, "the archive's name carries no date: give times of day"};
        return {time.value - *archive.date, {}};
    }
    // Within a day a time of day names one moment; beyond, it would be a guess.
    if (d.tmax - d.tmin > 1.0) return {0, "the archive spans more than 24 h: use a date"};
    const double first = d.times.front();
    double placed = std::floor(first) + time.value;
    // Whole milliseconds on both sides: half of one absorbs the rounding of the day's fraction.
    if (placed < first - 0.5 / 86400000.0) placed += 1.0;
    return {placed, {}};
}

} // namespace vg57::cli
