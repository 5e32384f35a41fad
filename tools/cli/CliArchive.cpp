#include "CliArchive.h"

#include "ArchiveLoader.h"
#include "CivilTime.h"
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
    // Summed in whole milliseconds: in days the sum would not always be the reading's time.
    std::int64_t total = hour * 3'600'000LL + minute * 60'000LL + second * 1000LL + ms;
    TCliTime t;
    if (!m.captured(1).isEmpty()) {
        const auto date =
            DateValue(m.captured(1).toInt(), m.captured(2).toInt(), m.captured(3).toInt());
        if (!date) return std::nullopt;
        total += MsOf(*date);
        t.hasDate = true;
    }
    t.value = DaysOf(total);
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

void TurnIntoInstants(TCliArchive& archive) {
    TArchiveData& d = archive.data;
    if (archive.instants || d.times.empty() || (!archive.dated() && !archive.date)) return;
    // Whole milliseconds on both sides: the date and the time of day in days would not add up.
    const std::int64_t date = archive.dated() ? 0 : MsOf(*archive.date);
    for (double& t : d.times)
        t = DaysOf(MsOf(t) + date);
    archive.firstLocalMs = MsOf(d.times.front());
    TZoneRules rules(archive.zone);
    LocalDaysToInstantDays(d.times.data(), d.times.size(), rules);
    archive.instants = true;
}

double ShownTime(const TCliArchive& archive, double time) {
    if (!archive.instants) return time;
    TZoneRules rules(archive.zone);
    return DaysOf(rules.LocalOf(InstantOfDays(time)));
}

TPlaced PlaceTime(const TCliArchive& archive, const TCliTime& time,
                  std::optional<double> notBefore) {
    const TArchiveData& d = archive.data;
    if (d.times.empty()) return {0, {}};
    std::int64_t local = MsOf(time.value);
    if (time.hasDate) {
        if (!archive.instants && !archive.dated()) {
            if (!archive.date) return {0, "the archive's name carries no date: give times of day"};
            local -= MsOf(*archive.date); // on the readings' day 0
        }
    } else {
        // Within a day a time of day names one moment; beyond, it would be a guess.
        if (d.tmax - d.tmin > 1.0) return {0, "the archive spans more than 24 h: use a date"};
        const std::int64_t first = archive.instants ? archive.firstLocalMs : MsOf(d.times.front());
        const std::int64_t day =
            first >= 0 ? first / kMillisecondsPerDay : (first + 1) / kMillisecondsPerDay - 1;
        local += day * kMillisecondsPerDay;
        if (local < first) local += kMillisecondsPerDay;
    }
    if (!archive.instants) return {DaysOf(local), {}};
    TZoneRules rules(archive.zone);
    const std::int64_t from = InstantOfDays(notBefore.value_or(d.times.front()));
    return {InstantDays(InstantOfBound(local, from, rules)), {}};
}

} // namespace vg57::cli
