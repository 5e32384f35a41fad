#include "PushTime.h"

#include <algorithm>
#include <cmath>
#include <limits>

namespace vg57 {

namespace {

constexpr std::int64_t kMsPerDay = 86'400'000;
constexpr std::int64_t kUnixEpochDay = 25569; // 1970-01-01 in days since 30 December 1899
constexpr std::int64_t kJitterMs = 1000;

} // namespace

std::int64_t LocalMsOfDateTime(double dateTime) {
    return std::llround((dateTime - kUnixEpochDay) * static_cast<double>(kMsPerDay));
}

TFileInstants::TFileInstants(QTimeZone zone)
    : rules_(zone.isValid() ? std::move(zone) : QTimeZone::utc()) {}

void TFileInstants::Start(std::int64_t nameLocalMs, const TFileTimeState& state) {
    nameLocalMs_ = nameLocalMs;
    state_ = state;
}

std::int64_t TFileInstants::Instant(const TArchiveTime& time) {
    const std::int64_t ms = LocalMsOfDateTime(time.value + (time.hasDate ? 0 : kUnixEpochDay));
    if (time.hasDate) return InstantOfLocal(ms, state_.previousInstantMs, state_.havePrevious);
    // The loader's day rule: more than 12 hours back is the next day; back to the day before
    // only when that puts the line at most an hour before the previous one, after a day was
    // added (a clock set back across midnight).
    if (!state_.havePrevious) {
        state_.dayOffset = state_.baseDay = static_cast<std::int64_t>(
            std::llround(static_cast<double>(nameLocalMs_ - ms) / kMsPerDay));
    } else {
        const std::int64_t step = ms + state_.dayOffset * kMsPerDay - state_.previousLocalMs;
        if (step < -kMsPerDay / 2)
            state_.dayOffset += 1;
        else if (state_.dayOffset > state_.baseDay && step - kMsPerDay >= -3'600'000)
            state_.dayOffset -= 1;
    }
    const std::int64_t local = ms + state_.dayOffset * kMsPerDay;
    const std::int64_t instant =
        InstantOfLocal(local, state_.previousInstantMs, state_.havePrevious);
    state_.previousLocalMs = local;
    state_.previousInstantMs = instant;
    state_.havePrevious = true;
    return instant;
}

std::int64_t TFileInstants::InstantOfLocal(std::int64_t localMs, std::int64_t previousInstantMs,
                                           bool havePrevious) {
    // The zone's rules count local time from 30 December 1899; ours from 1970.
    const TZoneRules::TCandidates c = rules_.InstantsOf(localMs + kLocalOriginToUnixMs);
    // Of a repeated hour's two readings, the first pass unless it lies before the line before.
    if (!c.ambiguous || !havePrevious || c.first >= previousInstantMs - kJitterMs) return c.first;
    return c.second;
}

} // namespace vg57
