// The pushes of vg57-cli log: --influx, --mqtt and their files, and one gauge's pushes wired
// from them. One TGaugePush per gauge archive stream, each with its own address tag.
#pragma once

#include "ArchiveFollower.h"
#include "InfluxPush.h"
#include "MetricsText.h"
#include "MqttFeed.h"

#include <QCommandLineParser>

#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

namespace vg57::cli {

struct TPushOptions {
    std::optional<TInfluxTarget> influx;
    std::optional<TMqttOptions> mqtt; // without the address, which is each gauge's
    std::vector<TMetricLabel> labels; // --metrics-label, as tags
    bool Any() const { return influx || mqtt; }
};

// --influx URL and --influx-auth-file FILE (both commands).
void AddInfluxOptions(QCommandLineParser& parser);
// --mqtt HOST:PORT, --mqtt-auth-file FILE, --mqtt-discovery, --mqtt-keepalive SECONDS.
void AddMqttOptions(QCommandLineParser& parser);
// What was given, with the labels; false with the reason of a usage error. `withMqtt`: the
// parser has the MQTT options.
bool ReadPushOptions(const QCommandLineParser& parser, TPushOptions& options, std::string& reason,
                     bool withMqtt = true);
// The labels of --metrics-label (the address and unit tags are the push's own).
bool ReadPushLabels(const QCommandLineParser& parser, std::vector<TMetricLabel>& labels,
                    std::string& reason);

class TGaugePush {
public:
    // The stream of `address` in `folder`: files "<date> <time><nameSuffix>.txt".
    TGaugePush(const TPushOptions& options, char address, std::string folder,
               std::string nameSuffix, double intervalSeconds,
               std::function<void(const std::string&)> say);
    // Stops the InfluxDB thread, then says "offline" on MQTT.
    ~TGaugePush();

    // Call before the run's first reading, so that its file is followed from its start.
    bool Start(std::string& reason);
    // Where the cycle's readings go for MQTT; null without --mqtt.
    TReadingSink* Tap() { return feed_.get(); }
    // The archive's writer added a line (the InfluxDB push reads the archive then, not by
    // looking every second).
    void ArchiveGrew() {
        if (influx_) influx_->Grew();
    }

private:
    TPushOptions options_;
    char address_;
    std::string folder_, suffix_;
    double intervalSeconds_;
    std::function<void(const std::string&)> say_;
    std::unique_ptr<TArchiveFollower> follower_;
    std::unique_ptr<TInfluxWriter> writer_;
    std::unique_ptr<TInfluxPush> influx_;
    std::unique_ptr<TMqttPublisher> mqtt_;
    std::unique_ptr<TMqttFeed> feed_;
};

} // namespace vg57::cli
