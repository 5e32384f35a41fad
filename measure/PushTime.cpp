#include "PushTime.h"

#include <QDateTime>

#include <algorithm>
#include <cmath>
#include <limits>

namespace vg57 {

namespace {

constexpr std::int64_t kMsPerDay = 86'400'000;
constexpr std::int64_t kUnixEpochDay = 25569; // 1970-01-01 in days since 30 December 1899
// Around a change of offset, both readings of a local time are looked at; offsets differ by
// far less than a day.
constexpr std::int64_t kNearChangeMs = kMsPerDay;
constexpr std::int64_t kJitterMs = 1000;

QDateTime Utc(std::int64_t ms) {
    return QDateTime::fromMSecsSinceEpoch(ms, Qt::UTC);
}

} // namespace

std::int64_t LocalMsOfDateTime(double dateTime) {
    return std::llround((dateTime - kUnixEpochDay) * static_cast<double>(kMsPerDay));
}

TFileInstants::TFileInstants(QTimeZone zone) : zone_(std::move(zone)) {
    if (!zone_.isValid()) zone_ = QTimeZone::utc();
}

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

int TFileInstants::OffsetMsAt(std::int64_t instantMs) const {
    return zone_.offsetFromUtc(Utc(instantMs)) * 1000;
}

void TFileInstants::CacheSpan(std::int64_t instantMs) {
    const QDateTime at = Utc(instantMs);
    const QTimeZone::OffsetData before = zone_.previousTransition(at.addMSecs(1));
    const QTimeZone::OffsetData after = zone_.nextTransition(at);
    spanFrom_ = before.atUtc.isValid() ? before.atUtc.toMSecsSinceEpoch()
                                       : std::numeric_limits<std::int64_t>::min() / 2;
    spanTo_ = after.atUtc.isValid() ? after.atUtc.toMSecsSinceEpoch()
                                    : std::numeric_limits<std::int64_t>::max() / 2;
    spanOffsetMs_ = OffsetMsAt(instantMs);
    haveSpan_ = true;
}

std::int64_t TFileInstants::InstantOfLocal(std::int64_t localMs, std::int64_t previousInstantMs,
                                           bool havePrevious) {
    if (haveSpan_) {
        const std::int64_t u = localMs - spanOffsetMs_;
        if (u >= spanFrom_ + kNearChangeMs && u < spanTo_ - kNearChangeMs) return u;
    }
    // Every offset in force near this local time, and the instants that truly read as it.
    std::int64_t candidates[3];
    int n = 0;
    for (const std::int64_t probe : {localMs - kNearChangeMs, localMs, localMs + kNearChangeMs}) {
        const std::int64_t u = localMs - OffsetMsAt(probe);
        if (OffsetMsAt(u) == localMs - u &&
            std::find(candidates, candidates + n, u) == candidates + n)
            candidates[n++] = u;
    }
    for (int i = 1; i < n; ++i) // at most three: in order by hand
        for (int j = i; j > 0 && candidates[j] < candidates[j - 1]; --j)
            std::swap(candidates[j], candidates[j - 1]);
    std::int64_t chosen;
    if (n == 0) {
        chosen = localMs - OffsetMsAt(localMs - kNearChangeMs); // skipped by the clock
    } else {
        // Earlier than the line before on every reading: the clock went back; the latest.
        chosen = havePrevious ? candidates[n - 1] : candidates[0];
        if (havePrevious)
            for (int i = 0; i < n; ++i)
                if (candidates[i] >= previousInstantMs - kJitterMs) {
                    chosen = candidates[i];
                    break;
                }
    }
    CacheSpan(chosen);
    return chosen;
}

} // namespace vg57
