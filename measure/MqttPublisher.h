// One gauge's live state on an MQTT broker (libmosquitto): a retained JSON state on
// "vg57/<system>/<address>/state" at each reading and each change of staleness, a retained
// "online" on ".../status" with "offline" as the last will set at connect, and optionally the
// Home Assistant discovery config. MQTT is a live view: while the broker is away only the newest
// state is kept, and sent when it is back.
//
// A state goes out on the socket from the thread that publishes it (any one thread), at once.
// The connection's thread of its own connects, and while connected looks at the socket once a
// second (sooner after every kMaxUnread publishes): the broker's acknowledgements wait there
// till then, so a reading costs one send and no wake-up of another thread. Every call into the
// library on a connection is made holding one mutex (the library's unthreaded mode).
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

    // Publishes between two looks at the socket, at most: the broker's acknowledgements of
    // more would hold back the next publishes (the library keeps 20 unacknowledged).
    static constexpr int kMaxUnread = 10;

private:
    static void OnConnect(mosquitto* m, void* self, int rc);
    void Connected(); // in a read of the socket, mutex_ held
    // The connection's thread: connects, serves the socket, and after a failure waits 1 s,
    // doubling to 60 s, before trying again.
    void Run();
    // Serves a connection until it is lost or the publisher stops; the library's code.
    int Serve();
    std::string DiscoveryConfig() const;

    TMqttOptions options_;
    std::string base_; // "vg57/<system>/<address>"
    mosquitto* client_ = nullptr;
    std::thread thread_;
    std::mutex mutex_; // held in every call into the library while a connection is up
    std::condition_variable wake_;
    std::string state_;      // guarded by mutex_: the newest state
    bool connected_ = false; // guarded by mutex_: the broker acknowledged the connection
    bool stopping_ = false;  // guarded by mutex_
    int unread_ = 0;         // guarded by mutex_: publishes since the last look at the socket
};

} // namespace vg57
