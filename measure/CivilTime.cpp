#include "CivilTime.h"

#include "DateTime.h"

#include <QDateTime>

#include <limits>
#include <memory>

namespace vg57 {

namespace {

// A step back this small is the clock's jitter, not a second pass (as the writer allows).
constexpr std::int64_t kBackToleranceMs = 1000;

std::int64_t UnixOfLocal(std::int64_t localMs) {
    return localMs - kLocalOriginToUnixMs;
}

} // namespace

double InstantDays(std::int64_t instantMs) {
    return DaysOf(instantMs + kLocalOriginToUnixMs);
}

std::int64_t InstantOfDays(double days) {
    return MsOf(days) - kLocalOriginToUnixMs;
}

TZoneRules::TZoneRules(QTimeZone zone) : zone_(std::move(zone)) {}

int TZoneRules::OffsetAt(std::int64_t instantMs) {
    if (instantMs >= from_ && instantMs < until_) return offset_;
    const QDateTime at = QDateTime::fromMSecsSinceEpoch(instantMs, Qt::UTC);
    offset_ = zone_.isValid() ? zone_.offsetFromUtc(at) : 0;
    from_ = std::numeric_limits<std::int64_t>::min();
    until_ = std::numeric_limits<std::int64_t>::max();
    if (zone_.isValid() && zone_.hasTransitions()) {
        const QTimeZone::OffsetData before = zone_.previousTransition(at.addMSecs(1));
        const QTimeZone::OffsetData after = zone_.nextTransition(at);
        if (before.atUtc.isValid()) from_ = before.atUtc.toMSecsSinceEpoch();
        if (after.atUtc.isValid()) until_ = after.atUtc.toMSecsSinceEpoch();
        if (from_ > instantMs) from_ = instantMs; // never trust a span that misses its point
        if (until_ <= instantMs) until_ = instantMs + 1;
    }
    return offset_;
}

TZoneRules::TCandidates TZoneRules::InstantsOfNearChange(std::int64_t localMs) {
    const std::int64_t wall = UnixOfLocal(localMs);
    // No zone moves its clock twice within two days: the offsets a day either side are the
    // only ones this wall-clock time can have.
    const std::int64_t before = Offset(wall - kDayMs), after = Offset(wall + kDayMs);
    TCandidates c;
    const std::int64_t early = wall - before, late = wall - after;
    if (before == after) {
        c.first = c.second = early;
        return c;
    }
    const bool earlyFits = Offset(early) == before, lateFits = Offset(late) == after;
    if (earlyFits && lateFits) {
        c.first = std::min(early, late);
        c.second = std::max(early, late);
        c.ambiguous = c.first != c.second;
        // The repeat ends where the earlier offset's wall clock reaches the change.
        const QTimeZone::OffsetData change =
            zone_.nextTransition(QDateTime::fromMSecsSinceEpoch(c.first, Qt::UTC));
        const std::int64_t at = change.atUtc.isValid() ? change.atUtc.toMSecsSinceEpoch() : late;
        c.foldEnd = at + std::max(before, after) + kLocalOriginToUnixMs;
        return c;
    }
    // Skipped by the clock: read with the offset in force before the change.
    c.first = c.second = lateFits && !earlyFits ? late : early;
    return c;
}

namespace {

// In file order; `get(i)` is reading i's local time until `set(i, ...)` gives its instant.
template <class Get, class Set> void ToInstants(std::size_t n, Get get, Set set, TZoneRules& zone) {
    std::size_t decidedUntil = 0; // readings before it in the current repeat: `secondPass`
    bool secondPass = false;
    std::int64_t previous = 0; // the instant of reading i - 1
    for (std::size_t i = 0; i < n; ++i) {
        const std::int64_t local = get(i);
        const TZoneRules::TCandidates c = zone.InstantsOf(local);
        std::int64_t instant = c.first;
        if (c.ambiguous) {
            if (i >= decidedUntil) {
                // Follow the file on while it stays in the repeat and does not go back.
                std::size_t j = i + 1;
                std::int64_t last = local;
                for (; j < n; ++j) {
                    const std::int64_t next = get(j);
                    if (next + kBackToleranceMs < last) break;
                    last = next;
                    if (next >= c.foldEnd) break;
                }
                secondPass = j < n && last >= c.foldEnd;
                decidedUntil = j;
            }
            // Never back before the reading before it: the first pass already lies behind.
            const bool behind = i > 0 && c.first + kBackToleranceMs < previous;
            if (secondPass || behind) instant = c.second;
        }
        set(i, instant);
        previous = instant;
    }
}

} // namespace

std::vector<std::int64_t> InstantsOfLocal(std::vector<std::int64_t> localMs, TZoneRules& zone) {
    ToInstants(
        localMs.size(), [&](std::size_t i) { return localMs[i]; },
        [&](std::size_t i, std::int64_t v) { localMs[i] = v; }, zone);
    return localMs;
}

void LocalDaysToInstantDays(double* days, std::size_t n, TZoneRules& zone) {
    ToInstants(
        n, [&](std::size_t i) { return MsOf(days[i]); },
        [&](std::size_t i, std::int64_t v) { days[i] = InstantDays(v); }, zone);
}

std::int64_t InstantOfBound(std::int64_t localMs, std::int64_t notBefore, TZoneRules& zone) {
    const TZoneRules::TCandidates c = zone.InstantsOf(localMs);
    return c.first >= notBefore ? c.first : c.second;
}

std::function<double(double)> ShownLocalTime(const QTimeZone& zone) {
    auto rules = std::make_shared<TZoneRules>(zone);
    return [rules](double key) {
        return key < kDatedTimesFrom ? key : DaysOf(rules->LocalOf(InstantOfDays(key)));
    };
}

} // namespace vg57
