#include "MqttPublisher.h"

#include <mosquitto.h>

#include <algorithm>
#include <chrono>
#include <poll.h>

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
            // A clean end: "offline" goes out before the DISCONNECT.
            if (connected_) {
                Publish(client_, StatusTopic(), kOffline);
                mosquitto_disconnect(client_);
                connected_ = false;
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
        // Not yet connected_: nobody else calls into the library while this one connects.
        const int rc = linked ? mosquitto_reconnect(client_)
                              : mosquitto_connect(client_, options_.host.c_str(), options_.port,
                                                  options_.keepAliveSeconds);
        if (rc == MOSQ_ERR_SUCCESS) {
            linked = true;
            if (Serve() == MOSQ_ERR_SUCCESS) delaySeconds = 1; // it was up: try again soon
        }
        std::unique_lock<std::mutex> lock(mutex_);
        connected_ = false;
        if (stopping_) break;
        wake_.wait_for(lock, std::chrono::seconds(delaySeconds), [this] { return stopping_; });
        delaySeconds = std::min(delaySeconds * 2, 60);
    }
}

int TMqttPublisher::Serve() {
    // Until the broker acknowledges the connection the socket is watched closely (and TLS's
    // handshake served); then it is looked at once a second, or after kMaxUnread publishes.
    bool up = false;
    for (;;) {
        std::unique_lock<std::mutex> lock(mutex_);
        if (stopping_) return MOSQ_ERR_SUCCESS;
        if (connected_) {
            up = true;
            wake_.wait_for(lock, std::chrono::seconds(1),
                           [this] { return stopping_ || unread_ >= kMaxUnread; });
            if (stopping_) return MOSQ_ERR_SUCCESS;
        } else {
            if (up) return MOSQ_ERR_CONN_LOST;
            pollfd socket{mosquitto_socket(client_), POLLIN, 0};
            if (mosquitto_want_write(client_)) socket.events |= POLLOUT;
            lock.unlock();
            if (socket.fd < 0) return MOSQ_ERR_NO_CONN;
            ::poll(&socket, 1, 100);
            lock.lock();
            if (stopping_) return MOSQ_ERR_SUCCESS;
        }
        unread_ = 0;
        // Whatever arrived: acknowledgements, the CONNACK (Connected runs in here), pings.
        // A packet a read; a second's acknowledgements are a few dozen.
        int rc = mosquitto_loop_read(client_, 1);
        pollfd more{mosquitto_socket(client_), POLLIN, 0};
        for (int n = 0; rc == MOSQ_ERR_SUCCESS && more.fd >= 0 && n < 1000 &&
                        ::poll(&more, 1, 0) > 0 && (more.revents & POLLIN);
             ++n)
            rc = mosquitto_loop_read(client_, 1);
        if (rc == MOSQ_ERR_SUCCESS && mosquitto_want_write(client_))
            rc = mosquitto_loop_write(client_, 1);
        if (rc == MOSQ_ERR_SUCCESS) rc = mosquitto_loop_misc(client_);
        if (rc != MOSQ_ERR_SUCCESS) {
            connected_ = false;
            return up ? MOSQ_ERR_SUCCESS : rc;
        }
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
    thread_ = std::thread([this] { Run(); });
    return true;
}

void TMqttPublisher::OnConnect(mosquitto*, void* self, int rc) {
    if (rc == 0) static_cast<TMqttPublisher*>(self)->Connected();
}

void TMqttPublisher::Connected() {
    // Queued by the library inside its read, and written when the read is done.
    Publish(client_, StatusTopic(), kOnline);
    if (options_.discovery)
        Publish(client_,
                "homeassistant/sensor/vg57_" + TopicLevel(options_.system) + "_" +
                    std::string(1, options_.address) + "/config",
                DiscoveryConfig());
    connected_ = true;
    if (!state_.empty()) Publish(client_, StateTopic(), state_);
}

void TMqttPublisher::PublishState(const std::string& json) {
    bool wake = false;
    {
        std::lock_guard<std::mutex> lock(mutex_);
        state_ = json;
        // Not connected: the newest goes out at the next connect.
        if (!connected_) return;
        Publish(client_, StateTopic(), json);
        wake = ++unread_ == kMaxUnread;
    }
    if (wake) wake_.notify_all();
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
