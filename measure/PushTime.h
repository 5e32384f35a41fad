// Instants of an archive file's lines, for what leaves the machine (InfluxDB, MQTT). The archive
// keeps local civil time of day and the file's name its first date. A line's day is the one
// nearest the line before, as the loader reads it; its local time becomes an instant by the
// zone's rules in file order: where the clock repeats an hour, the first pass is summer time and
// the second standard time, since a file is written in order. The zone's rules are the loader's
// and the analysis' (CivilTime); this adds the line-by-line day rule and a cursor's state.
#pragma once

#include "ArchiveFormat.h"
#include "CivilTime.h"

#include <QTimeZone>

#include <cstdint>

namespace vg57 {

// Where a file's reading stands after a line: kept in the push cursor, so that a push resumed
// in the middle of a file carries on with the same days and the same side of a repeated hour.
struct TFileTimeState {
    std::int64_t dayOffset = 0; // days added to the time of day of the lines
    std::int64_t baseDay = 0;   // the first line's day
    std::int64_t previousLocalMs = 0;
    std::int64_t previousInstantMs = 0;
    bool havePrevious = false;
};

// Milliseconds of local civil time since 1970-01-01 00:00 (as if it were UTC) of a date-time
// (days since 30 December 1899).
std::int64_t LocalMsOfDateTime(double dateTime);

class TFileInstants {
public:
    explicit TFileInstants(QTimeZone zone = QTimeZone::systemTimeZone());

    // A file whose name carries `nameLocalMs`, read from its start or resumed from `state`.
    void Start(std::int64_t nameLocalMs, const TFileTimeState& state = {});
    // The next line's time field as Unix milliseconds.
    std::int64_t Instant(const TArchiveTime& time);
    const TFileTimeState& State() const { return state_; }

    // One local time as an instant: of the zone's readings of it, the earliest not before
    // `previousInstantMs` (less a second of clock jitter) when `havePrevious`, else the
    // earliest. A local time the clock skipped goes by the offset before the change.
    std::int64_t InstantOfLocal(std::int64_t localMs, std::int64_t previousInstantMs,
                                bool havePrevious);

private:
    TZoneRules rules_;
    TFileTimeState state_;
    std::int64_t nameLocalMs_ = 0;
};

} // namespace vg57
