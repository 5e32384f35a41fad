// What a scrape publishes: the cycle's last reading and counters, copied under a short lock.
// The cycle writes on the user-interface thread; the metrics server reads from its own threads.
// Neither side holds the lock across an exchange with the gauge: a scrape never waits for one.
#pragma once

#include <array>
#include <cstdint>
#include <functional>
#include <mutex>
#include <optional>
#include <string>
#include <string_view>

namespace vg57 {

struct TMetricsSample {
    bool measuring = false;
    bool deviceUp = false;
    bool adapterPresent = false;
    // The newest reading: its pressure in pascals, its Unix time (UTC) and, for staleness, its
    // time on the monotonic clock. Demonstration values never get here.
    bool haveReading = false;
    double pressurePa = 0;
    double readingUnixSeconds = 0;
    double readingSteadySeconds = 0;
    // The polling interval staleness is measured in: as achieved, at least as configured.
    double intervalSeconds = 0.5;
    std::uint64_t readings = 0;
    std::uint64_t readFailures = 0;
    std::uint64_t archiveWriteErrors = 0;
    // SP1L ... SP3H in pascals, once read together with the unit they are given in.
    std::optional<std::array<double, 6>> setPointsPa;
    std::string port, device, address, unit;
};

class TMetricsBoard {
public:
    // Runs `change` on the sample under the lock: keep it to assignments.
    void Update(const std::function<void(TMetricsSample&)>& change);
    TMetricsSample Snapshot() const;

private:
    mutable std::mutex mutex_;
    TMetricsSample sample_; // guarded by mutex_
};

// The line's own figures when several gauges share it.
struct TBusSample {
    std::uint64_t exchanges = 0, resyncs = 0, strays = 0;
    double achievedIntervalSeconds = 0; // 0: not known yet
};

// The line's figures, set on the user-interface thread after every turn, read by scrapes.
class TBusBoard {
public:
    void Set(const TBusSample& sample);
    TBusSample Snapshot() const;

private:
    mutable std::mutex mutex_;
    TBusSample sample_; // guarded by mutex_
};

// The clocks a reading is stamped with, in seconds.
double UnixSecondsNow();
double SteadySecondsNow();

} // namespace vg57
