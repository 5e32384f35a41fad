// An archive as the subcommands see it: loaded as the window loads it, and the times of the
// command line placed among its readings.
#pragma once

#include "ArchiveReader.h"

#include <QString>
#include <QTimeZone>

#include <cstdint>
#include <optional>

namespace vg57::cli {

// A TIME argument: "HH:MM:SS[.zzz]" (a time of day) or "YYYY-MM-DDTHH:MM:SS[.zzz]".
struct TCliTime {
    double value = 0; // days: a time of day on day 0, or a date-time
    bool hasDate = false;
};
std::optional<TCliTime> ParseCliTime(const QString& text);
// "YYYY-MM-DD" at midnight.
std::optional<double> ParseCliDate(const QString& text);

struct TCliArchive {
    QString path;
    TArchiveData data;
    // The date of a file whose readings are times of day: added to them to give date-times.
    std::optional<double> date;
    // The readings carry their dates (lines written with a date), so no date is added.
    bool dated() const { return !data.times.empty() && data.tmin >= 1.0; }
    // The rules of local time, and whether the readings' times are instants (InstantDays) yet.
    QTimeZone zone = QTimeZone::systemTimeZone();
    bool instants = false;
    std::int64_t firstLocalMs = 0; // the first line's wall-clock time, once they are
};

// Reads the file; the reason on failure ("<path>: <the system's words>"), also when not a line
// of it is a reading.
std::optional<QString> LoadCliArchive(TCliArchive& archive);
// With a date (the lines' own or `date`), the readings become instants by the zone's rules in
// file order, so that durations and offsets hold across summer time. Without one they stay
// times of day.
void TurnIntoInstants(TCliArchive& archive);
// What a reading's time shows: its wall-clock date-time.
double ShownTime(const TCliArchive& archive, double time);

// A TIME among the archive's readings, in the readings' own times: a time of day is its first
// occurrence from the file's first line on; a date-time needs a date for undated readings. With
// instants, a wall-clock time that names two is the first of them not before `notBefore` (the
// first reading, or for --to the placed --from). The usage reason when it can't be placed.
struct TPlaced {
    double value = 0;
    QString problem;
};
TPlaced PlaceTime(const TCliArchive& archive, const TCliTime& time,
                  std::optional<double> notBefore = std::nullopt);

} // namespace vg57::cli
