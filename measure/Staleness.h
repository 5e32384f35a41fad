// When the newest reading stops counting as current: the screen greys it and the metrics omit it
// by one rule, so a dashboard and the window never disagree about a silent gauge.
//
// The rule follows what the line achieves, not only what was asked: a gauge that answers slower
// than the polling interval gives a reading per tick all the same, and that reading is current.
// Stale is no reading for three of the intervals achieved (tick start to tick start, or a tick's
// own length, the longest of the last few), never fewer than three of the configured interval.
#pragma once

#include <algorithm>
#include <array>
#include <chrono>

namespace vg57 {

inline constexpr int kStaleIntervals = 3; // polling intervals without a reading

// The interval staleness is measured in, in seconds.
inline double StalenessInterval(double configuredSeconds, double achievedSeconds) {
    return std::max(configuredSeconds, achievedSeconds);
}

// The intervals achieved between the starts of the last ticks.
class TTickPace {
public:
    using TClock = std::chrono::steady_clock;

    // A new run: what earlier runs achieved says nothing about this one.
    void Reset() { *this = {}; }
    void TickStarted(TClock::time_point at) {
        if (last_ != TClock::time_point{}) Add(at - last_);
        last_ = at;
    }
    // A tick that lasted this long says the next one can't come sooner: the first reading of a
    // run is judged by it before a second tick has started.
    void TickEnded(TClock::time_point at) {
        if (last_ != TClock::time_point{}) Add(at - last_);
    }
    // The longest of the last intervals, in seconds; 0 before the first tick ended.
    double AchievedSeconds() const {
        double longest = 0;
        for (const auto& d : intervals_)
            longest = std::max(longest, d.count());
        return longest;
    }

private:
    void Add(TClock::duration d) {
        intervals_[next_++ % intervals_.size()] = std::chrono::duration<double>(d);
    }

    TClock::time_point last_{};
    std::array<std::chrono::duration<double>, 8> intervals_{};
    std::size_t next_ = 0;
};

} // namespace vg57
