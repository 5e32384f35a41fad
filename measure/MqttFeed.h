// The cycle's readings as MQTT states: each reading with its instant, and a change of staleness
// (no reading for kStaleIntervals polling intervals) as a state of its own. Demonstration values
// never get here. Runs on the cycle's thread.
#pragma once

#include "MqttPublisher.h"
#include "PushTime.h"
#include "ReadingSink.h"

#include <cstdint>
#include <optional>

namespace vg57 {

// The state's JSON: {"time": ISO 8601 with offset, "pressure", "unit", "pascals", "stale"}.
std::string MqttStateJson(const std::string& isoTime, double pressure, std::string_view unitCode,
                          bool stale);

class TMqttFeed : public TReadingSink {
public:
    TMqttFeed(TMqttPublisher& publisher, double intervalSeconds,
              QTimeZone zone = QTimeZone::systemTimeZone());

    void RunStarted() override {}
    void Reading(double time, double pressure, const std::string& unitCode) override;
    void Missed(double time) override;
    void Demonstration(double, double) override {}

private:
    void Publish();

    TMqttPublisher& publisher_;
    double intervalSeconds_;
    TFileInstants instants_;
    std::int64_t previousInstant_ = 0;
    bool havePrevious_ = false;
    // The newest reading, as published.
    std::string isoTime_, unitCode_;
    double pressure_ = 0;
    double steadySeconds_ = 0;
    bool haveReading_ = false;
    bool stale_ = false;
};

} // namespace vg57
