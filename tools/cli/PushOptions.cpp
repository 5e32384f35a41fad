#include "PushOptions.h"

#include "LineProtocol.h"
#include "PushAuth.h"

#include <QSysInfo>

namespace vg57::cli {

void AddInfluxOptions(QCommandLineParser& p) {
    p.addOptions({
        {"influx",
         "Слать показания в InfluxDB: http://ХОСТ:8086/write?db=ИМЯ или "
         ".../api/v2/write?org=...&bucket=....",
         "URL"},
        {"influx-auth-file", "Файл с user = ..., password = ... или token = ... для InfluxDB.",
         "FILE"},
    });
}

void AddMqttOptions(QCommandLineParser& p) {
    p.addOptions({
        {"mqtt", "Публиковать состояние на брокере MQTT ХОСТ:ПОРТ.", "HOST:PORT"},
        {"mqtt-auth-file", "Файл с user, password, cafile, capath, certfile, keyfile для MQTT.",
         "FILE"},
        {"mqtt-discovery", "Публиковать конфигурацию обнаружения Home Assistant."},
        {"mqtt-keepalive", "Интервал keep-alive MQTT, с (30).", "SECONDS"},
    });
}

bool ReadPushLabels(const QCommandLineParser& p, std::vector<TMetricLabel>& labels,
                    std::string& reason) {
    labels.clear();
    for (const QString& l : p.values("metrics-label")) {
        if (!AddMetricLabel(l.toStdString(), labels, reason)) return false;
        if (labels.back().name == "address" || labels.back().name == "unit")
            return reason = "--metrics-label: address and unit are the gauge's own tags", false;
    }
    return true;
}

bool ReadPushOptions(const QCommandLineParser& p, TPushOptions& o, std::string& reason,
                     bool withMqtt) {
    o = {};
    if (!ReadPushLabels(p, o.labels, reason)) return false;
    if (p.isSet("influx-auth-file") && !p.isSet("influx"))
        return reason = "--influx-auth-file given without --influx", false;
    if (p.isSet("influx")) {
        std::map<std::string, std::string> auth;
        if (p.isSet("influx-auth-file") &&
            !ReadAuthFile(p.value("influx-auth-file").toStdString(), {"user", "password", "token"},
                          auth, reason))
            return false;
        TInfluxTarget target;
        if (!ParseInfluxTarget(p.value("influx").toStdString(), auth, target, reason)) return false;
        o.influx = target;
    }
    if (!withMqtt) return true;
    for (const char* name : {"mqtt-auth-file", "mqtt-discovery", "mqtt-keepalive"})
        if (p.isSet(name) && !p.isSet("mqtt"))
            return reason = std::string("--") + name + " given without --mqtt", false;
    if (!p.isSet("mqtt")) return true;
    TMqttOptions m;
    if (!ParseMqttAddress(p.value("mqtt").toStdString(), m, reason)) return false;
    if (p.isSet("mqtt-auth-file") &&
        !ReadAuthFile(p.value("mqtt-auth-file").toStdString(),
                      {"user", "password", "cafile", "capath", "certfile", "keyfile"}, m.auth,
                      reason))
        return false;
    if (p.isSet("mqtt-keepalive")) {
        bool ok = false;
        m.keepAliveSeconds = p.value("mqtt-keepalive").toInt(&ok);
        if (!ok || m.keepAliveSeconds < 5 || m.keepAliveSeconds > 65535) // the library's range
            return reason = "--mqtt-keepalive: 5 to 65535 seconds", false;
    }
    m.discovery = p.isSet("mqtt-discovery");
    m.system = QSysInfo::machineHostName().toStdString();
    for (const TMetricLabel& l : o.labels)
        if (l.name == "system") m.system = l.value;
    o.mqtt = m;
    return true;
}

TGaugePush::TGaugePush(const TPushOptions& options, char address, std::string folder,
                       std::string nameSuffix, double intervalSeconds,
                       std::function<void(const std::string&)> say)
    : options_(options), address_(address), folder_(std::move(folder)),
      suffix_(std::move(nameSuffix)), intervalSeconds_(intervalSeconds), say_(std::move(say)) {}

TGaugePush::~TGaugePush() {
    influx_.reset(); // joins its thread before the follower and writer go
    feed_.reset();
    mqtt_.reset();
}

bool TGaugePush::Start(std::string& reason) {
    if (options_.influx) {
        follower_ = std::make_unique<TArchiveFollower>(PointPrefix(address_, options_.labels));
        if (!follower_->FollowFolder(folder_, suffix_, reason)) return false;
        writer_ = std::make_unique<TInfluxWriter>(*options_.influx);
        influx_ = std::make_unique<TInfluxPush>(*follower_, *writer_, say_);
        influx_->Start(true); // told by ArchiveGrew
        say_("InfluxDB: " + options_.influx->origin + options_.influx->pathAndQuery + ", адрес " +
             std::string(1, address_));
    }
    if (options_.mqtt) {
        TMqttOptions m = *options_.mqtt;
        m.address = address_;
        mqtt_ = std::make_unique<TMqttPublisher>(m);
        if (!mqtt_->Start(reason)) return false;
        feed_ = std::make_unique<TMqttFeed>(*mqtt_, intervalSeconds_);
        say_("MQTT: " + m.host + ":" + std::to_string(m.port) + ", " + mqtt_->StateTopic());
    }
    return true;
}

} // namespace vg57::cli
