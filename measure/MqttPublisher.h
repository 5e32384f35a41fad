// One gauge's live state on an MQTT broker (libmosquitto): a retained JSON state on
// "vg57/<system>/<address>/state" at each reading and each change of staleness, a retained
// "online" on ".../status" with "offline" as the last will set at connect, and optionally the
// Home Assistant discovery config. MQTT is a live view: while the broker is away only the newest
// state is kept, and sent when it is back. The library's own thread talks to the broker;
// Publish may be called from any one thread.
#pragma once

#include <condition_variable>
#include <map>
#include <mutex>
#include <string>
#include <thread>

struct mosquitto;

namespace vg57 {

struct TMqttOptions {
    std::string host;
    int port = 1883;
    int keepAliveSeconds = 30;
    std::string system; // the topic's <system>
    char address = '0';
    bool discovery = false;
    // From the auth file: user, password, cafile, capath, certfile, keyfile.
    std::map<std::string, std::string> auth;
};

// "HOST:PORT"; false with a one-line reason.
bool ParseMqttAddress(const std::string& text, TMqttOptions& options, std::string& reason);
// A topic level made of the text: characters MQTT or Home Assistant give a meaning become '_'.
std::string TopicLevel(const std::string& text);

class TMqttPublisher {
public:
    explicit TMqttPublisher(TMqttOptions options);
    // A clean end says "offline" itself; the will covers an unclean one.
    ~TMqttPublisher();
    TMqttPublisher(const TMqttPublisher&) = delete;
    TMqttPublisher& operator=(const TMqttPublisher&) = delete;

    // Sets up the connection and its thread; a broker that is away is tried again with back-off
    // (1 s to 60 s). False with a reason only when the options can't be used (TLS files).
    bool Start(std::string& reason);
    // The newest state as JSON; kept, and published retained when connected.
    void PublishState(const std::string& json);

    std::string StateTopic() const { return base_ + "/state"; }
    std::string StatusTopic() const { return base_ + "/status"; }

private:
    static void OnConnect(mosquitto* m, void* self, int rc);
    void Connected();
    // The connection's thread: connects, serves the socket, and after a failure waits 1 s,
    // doubling to 60 s, before trying again.
    void Run();
    std::string DiscoveryConfig() const;

    TMqttOptions options_;
    std::string base_; // "vg57/<system>/<address>"
    mosquitto* client_ = nullptr;
    std::thread thread_;
    std::mutex mutex_;
    std::condition_variable wake_;
    std::string state_;      // guarded by mutex_: the newest state
    bool connected_ = false; // guarded by mutex_
    bool stopping_ = false;  // guarded by mutex_
};

} // namespace vg57
