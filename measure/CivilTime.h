// Local civil time and instants. The archive keeps local wall-clock times without an offset;
// durations, slopes, CSV offsets and pushes need instants. A zone's rules turn one into the
// other, and where a wall-clock time names two instants (an hour repeated when summer time
// ends) the order of the readings decides, never a library's memory of its last call.
//
// Local times are milliseconds since 30 December 1899 00:00 of the wall clock (MsOf of a
// date-time); instants are milliseconds since 1970-01-01 00:00 UTC.
#pragma once

#include <QTimeZone>

#include <cstdint>
#include <functional>
#include <vector>

namespace vg57 {

// The local scale's origin (30 December 1899) is this many milliseconds before 1970-01-01.
inline constexpr std::int64_t kLocalOriginToUnixMs = 25569LL * 86'400'000;

// A date-time in days for an instant: the chart's and analysis' scale, on UTC.
double InstantDays(std::int64_t instantMs);
std::int64_t InstantOfDays(double days);
// Times from here on (a year after the origin) carry their dates; earlier ones are times of day
// of files whose names carry no date, on day 0 and the days after it, in no zone.
inline constexpr double kDatedTimesFrom = 366.0;

// One zone's offsets from UTC, cached between two transitions so that a file of a million
// readings costs a few look-ups. Not for several threads at once: one per load or export.
class TZoneRules {
public:
    explicit TZoneRules(QTimeZone zone = QTimeZone::systemTimeZone());

    // Seconds east of UTC in force at the instant.
    int OffsetAt(std::int64_t instantMs);
    // The wall-clock time the instant shows here (local milliseconds).
    std::int64_t LocalOf(std::int64_t instantMs) {
        return instantMs + Offset(instantMs) + kLocalOriginToUnixMs;
    }

    // What a wall-clock time can be: one instant; two (a repeated hour: `first` with the
    // summer offset, `second` with the standard one), with `foldEnd` the local time at which
    // the repeat ends; or none (a skipped hour), given as if the clock had not moved on.
    struct TCandidates {
        std::int64_t first = 0, second = 0;
        bool ambiguous = false;
        std::int64_t foldEnd = 0; // local
    };
    TCandidates InstantsOf(std::int64_t localMs) {
        // The usual case, inline: a day either side lies within the cached span.
        const std::int64_t wall = localMs - kLocalOriginToUnixMs;
        if (wall - kDayMs >= from_ && wall + kDayMs < until_) {
            const std::int64_t at = wall - offset_ * 1000LL;
            return {at, at, false, 0};
        }
        return InstantsOfNearChange(localMs);
    }

private:
    static constexpr std::int64_t kDayMs = 86'400'000;
    TCandidates InstantsOfNearChange(std::int64_t localMs);
    std::int64_t Offset(std::int64_t instantMs) { return OffsetAt(instantMs) * 1000LL; }
    QTimeZone zone_;
    std::int64_t from_ = 1, until_ = 0; // the cached span [from_, until_) of instants
    int offset_ = 0;
};

// One file's local times, in file order, as instants. Within a repeated hour the first pass is
// summer time and the second standard time: a reading there is of the second pass when the
// file goes on from it past the repeat's end without going back (or when the first pass would
// put it before the reading before it). A skipped hour is simply not there.
// Moved in, the vector is turned in place.
std::vector<std::int64_t> InstantsOfLocal(std::vector<std::int64_t> localMs, TZoneRules& zone);

// The same in place, on the chart's scale: local date-times in days become InstantDays.
void LocalDaysToInstantDays(double* days, std::size_t n, TZoneRules& zone);

// The instant of a wall-clock time that a person gave as a bound: the earliest one not before
// `notBefore` (the first occurrence from there on), else the latest one.
std::int64_t InstantOfBound(std::int64_t localMs, std::int64_t notBefore, TZoneRules& zone);

} // namespace vg57

namespace vg57 {

// What a chart key of a loaded view shows: dated keys are instants, shown in the zone's local
// time; times of day of undated files are shown as they are. For the labels and the readout.
std::function<double(double)> ShownLocalTime(const QTimeZone& zone);

} // namespace vg57
