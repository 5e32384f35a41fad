#include "MqttPublisher.h"

#include <mosquitto.h>

#include <algorithm>
#include <chrono>

namespace vg57 {

namespace {

constexpr char kOnline[] = "online", kOffline[] = "offline";

void Publish(mosquitto* m, const std::string& topic, const std::string& payload) {
    mosquitto_publish(m, nullptr, topic.c_str(), static_cast<int>(payload.size()), payload.data(),
                      1, true);
}

} // namespace

bool ParseMqttAddress(const std::string& text, TMqttOptions& options, std::string& reason) {
    const std::size_t colon = text.rfind(':');
    int port = 0;
    try {
        if (colon != std::string::npos) port = std::stoi(text.substr(colon + 1));
    } catch (...) {
        port = 0;
    }
    if (colon == std::string::npos || colon == 0 || port <= 0 || port > 65535 ||
        text.find_first_not_of("0123456789", colon + 1) != std::string::npos) {
        reason = "--mqtt: expected HOST:PORT (for example 127.0.0.1:1883), got \"" + text + "\"";
        return false;
    }
    options.host = text.substr(0, colon);
    if (options.host.size() > 2 && options.host.front() == '[' && options.host.back() == ']')
        options.host = options.host.substr(1, options.host.size() - 2);
    options.port = port;
    return true;
}

std::string TopicLevel(const std::string& text) {
    std::string out;
    for (const char c : text) {
        const bool plain = (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') ||
                           (c >= '0' && c <= '9') || c == '-' || c == '_';
        out += plain ? c : '_';
    }
    return out.empty() ? "_" : out;
}

TMqttPublisher::TMqttPublisher(TMqttOptions options)
    : options_(std::move(options)),
      base_("vg57/" + TopicLevel(options_.system) + "/" + std::string(1, options_.address)) {
    mosquitto_lib_init();
}

TMqttPublisher::~TMqttPublisher() {
    if (client_) {
        {
            std::lock_guard<std::mutex> lock(mutex_);
            stopping_ = true;
            // A clean end: "offline" goes out before the DISCONNECT, which also wakes the
            // connection's thread from its wait on the socket.
            if (connected_) {
                Publish(client_, StatusTopic(), kOffline);
                mosquitto_disconnect(client_);
            }
        }
        wake_.notify_all();
        if (thread_.joinable()) thread_.join();
        mosquitto_destroy(client_);
    }
    mosquitto_lib_cleanup();
}

void TMqttPublisher::Run() {
    int delaySeconds = 1;
    bool linked = false; // a connection was made once: later ones are reconnections
    for (;;) {
        {
            std::lock_guard<std::mutex> lock(mutex_);
            if (stopping_) break;
        }
        int rc = linked ? mosquitto_reconnect(client_)
                        : mosquitto_connect(client_, options_.host.c_str(), options_.port,
                                            options_.keepAliveSeconds);
        if (rc == MOSQ_ERR_SUCCESS) {
            linked = true;
            delaySeconds = 1;
            // Whole seconds in the socket's wait: a publish or the DISCONNECT of a stop wakes it.
            while ((rc = mosquitto_loop(client_, 1000, 1)) == MOSQ_ERR_SUCCESS) {
                std::lock_guard<std::mutex> lock(mutex_);
                if (stopping_) break;
            }
        }
        std::unique_lock<std::mutex> lock(mutex_);
        connected_ = false;
        if (stopping_) break;
        wake_.wait_for(lock, std::chrono::seconds(delaySeconds), [this] { return stopping_; });
        delaySeconds = std::min(delaySeconds * 2, 60);
    }
}

bool TMqttPublisher::Start(std::string& reason) {
    client_ = mosquitto_new(nullptr, true, this);
    if (!client_) return reason = "MQTT: the client can't be made", false;
    const auto& a = options_.auth;
    auto value = [&](const char* key) {
        const auto it = a.find(key);
        return it == a.end() ? nullptr : it->second.c_str();
    };
    if (value("user")) mosquitto_username_pw_set(client_, value("user"), value("password"));
    if (value("cafile") || value("capath")) {
        const int rc = mosquitto_tls_set(client_, value("cafile"), value("capath"),
                                         value("certfile"), value("keyfile"), nullptr);
        if (rc != MOSQ_ERR_SUCCESS)
            return reason = std::string("MQTT TLS: ") + mosquitto_strerror(rc), false;
    }
    const std::string status = StatusTopic();
    mosquitto_will_set(client_, status.c_str(), sizeof kOffline - 1, kOffline, 1, true);
    mosquitto_connect_callback_set(client_, &TMqttPublisher::OnConnect);
    // Publishing comes from the cycle's thread, the socket is served by ours.
    mosquitto_threaded_set(client_, true);
    thread_ = std::thread([this] { Run(); });
    return true;
}

void TMqttPublisher::OnConnect(mosquitto*, void* self, int rc) {
    if (rc == 0) static_cast<TMqttPublisher*>(self)->Connected();
}

void TMqttPublisher::Connected() {
    Publish(client_, StatusTopic(), kOnline);
    if (options_.discovery)
        Publish(client_,
                "homeassistant/sensor/vg57_" + TopicLevel(options_.system) + "_" +
                    std::string(1, options_.address) + "/config",
                DiscoveryConfig());
    std::lock_guard<std::mutex> lock(mutex_);
    connected_ = true;
    if (!state_.empty()) Publish(client_, StateTopic(), state_);
}

void TMqttPublisher::PublishState(const std::string& json) {
    std::lock_guard<std::mutex> lock(mutex_);
    state_ = json;
    // Not connected: the newest goes out at the next connect.
    if (connected_) Publish(client_, StateTopic(), json);
}

std::string TMqttPublisher::DiscoveryConfig() const {
    // Home Assistant's pressure sensors take Pa (never Torr): the state's pascals.
    const std::string id = "vg57_" + TopicLevel(options_.system) + "_" + options_.address;
    const std::string name = "VG-57 " + TopicLevel(options_.system) + " " + options_.address;
    return "{\"name\":\"" + name + "\",\"unique_id\":\"" + id + "_pressure\",\"object_id\":\"" +
           id + "\",\"state_topic\":\"" + StateTopic() +
           "\",\"value_template\":\"{{ value_json.pascals }}\",\"device_class\":\"pressure\","
           "\"unit_of_measurement\":\"Pa\",\"state_class\":\"measurement\","
           "\"availability_topic\":\"" +
           StatusTopic() +
           "\",\"payload_available\":\"online\",\"payload_not_available\":\"offline\","
           "\"device\":{\"identifiers\":[\"" +
           id + "\"],\"name\":\"" + name + "\",\"model\":\"VG-57\"}}";
}

} // namespace vg57
