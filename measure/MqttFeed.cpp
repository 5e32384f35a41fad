#include "MqttFeed.h"

#include "MetricsBoard.h"
#include "PressureUnit.h"
#include "Staleness.h"

#include <charconv>
#include <cmath>

namespace vg57 {

namespace {

void AppendJsonNumber(std::string& out, double value) {
    if (!std::isfinite(value)) {
        out += "null";
        return;
    }
    char buf[32];
    out.append(buf, std::to_chars(buf, buf + sizeof buf, value).ptr);
}

} // namespace

std::string MqttStateJson(const std::string& isoTime, double pressure, std::string_view unitCode,
                          bool stale) {
    const std::string_view name = LatinUnitName(UnitOfCode(unitCode));
    std::string unit;
    for (const char c : name.empty() ? unitCode : name)
        if (c != '"' && c != '\\' && static_cast<unsigned char>(c) >= 0x20) unit += c;
    std::string out = "{\"time\":\"" + isoTime + "\",\"pressure\":";
    AppendJsonNumber(out, pressure);
    out += ",\"unit\":\"" + unit + "\",\"pascals\":";
    const double perUnit = PascalsPerUnit(unitCode);
    AppendJsonNumber(out, perUnit > 0 ? pressure * perUnit : NAN);
    out += stale ? ",\"stale\":true}" : ",\"stale\":false}";
    return out;
}

TMqttFeed::TMqttFeed(TMqttPublisher& publisher, double intervalSeconds, QTimeZone zone)
    : publisher_(publisher), intervalSeconds_(intervalSeconds), instants_(std::move(zone)) {}

void TMqttFeed::Reading(double time, double pressure, const std::string& unitCode) {
    const std::int64_t instant =
        instants_.InstantOfLocal(LocalMsOfDateTime(time), previousInstant_, havePrevious_);
    previousInstant_ = instant;
    havePrevious_ = true;
    // The local time as the archive has it, with the offset that makes it this instant.
    const TLocalTime t = LocalTimeOf(time);
    const std::int64_t offsetMinutes = (LocalMsOfDateTime(time) - instant) / 60'000;
    const std::int64_t minutes = offsetMinutes < 0 ? -offsetMinutes : offsetMinutes;
    isoTime_.clear();
    AppendDate(isoTime_, t, '-');
    isoTime_ += 'T';
    AppendClockTime(isoTime_, t);
    isoTime_ += offsetMinutes < 0 ? '-' : '+';
    AppendDigits(isoTime_, static_cast<long>(minutes / 60), 2);
    isoTime_ += ':';
    AppendDigits(isoTime_, static_cast<long>(minutes % 60), 2);
    pressure_ = pressure;
    unitCode_ = unitCode;
    steadySeconds_ = SteadySecondsNow();
    haveReading_ = true;
    stale_ = false;
    Publish();
}

void TMqttFeed::Missed(double) {
    if (!haveReading_ || stale_) return;
    if (SteadySecondsNow() - steadySeconds_ <= kStaleIntervals * intervalSeconds_) return;
    stale_ = true;
    Publish();
}

void TMqttFeed::Publish() {
    publisher_.PublishState(MqttStateJson(isoTime_, pressure_, unitCode_, stale_));
}

} // namespace vg57
