// Serves GET /metrics on one address, from its own threads, with the exposition of a metrics
// board. Nothing listens unless an address is given.
#pragma once

#include "MetricsText.h"

#include <atomic>
#include <functional>
#include <memory>
#include <string>
#include <thread>
#include <vector>

namespace vg57 {

class TMetricsBoard;
class TGuardedHttpServer;

struct TMetricsAddress {
    std::string host;
    int port = 0;
};

// "HOST:PORT" ("[::1]:9101" for IPv6); false with a one-line reason when malformed.
bool ParseMetricsAddress(const std::string& text, TMetricsAddress& address, std::string& reason);

// The options --metrics HOST:PORT and --metrics-label KEY=VALUE (repeatable) of both programs.
struct TMetricsOptions {
    bool enabled = false; // an address was given: nothing listens otherwise
    TMetricsAddress address;
    std::vector<TMetricLabel> labels;
};
// False with a one-line reason for a usage error; labels without an address are one too.
bool ParseMetricsOptions(const std::string& address, const std::vector<std::string>& labels,
                         TMetricsOptions& options, std::string& reason);

class TMetricsServer {
public:
    TMetricsServer(const TMetricsBoard& board, const std::vector<TMetricLabel>& constantLabels);
    // Serves what `exposition` returns, called on the server's threads (several gauges' boards),
    // followed by the process's own metrics with the constant labels.
    explicit TMetricsServer(std::function<std::string()> exposition,
                            std::vector<TMetricLabel> constantLabels = {});
    // Stops listening and joins the server thread.
    ~TMetricsServer();
    TMetricsServer(const TMetricsServer&) = delete;
    TMetricsServer& operator=(const TMetricsServer&) = delete;

    // Binds and starts serving; false with the system's reason when the address can't be bound.
    // Serving ignores SIGPIPE for the whole process.
    bool Start(const TMetricsAddress& address, std::string& reason);
    // After a failed Start: the address is none of this machine's (a setting to correct, not a
    // passing condition such as a port in use).
    bool AddressNotHere() const { return addressNotHere_; }
    // The bound port (the one asked for, or the one chosen for port 0).
    int Port() const { return port_; }

private:
    const std::function<std::string()> exposition_;
    const std::vector<TMetricLabel> labels_;
    std::unique_ptr<TGuardedHttpServer> server_;
    std::thread thread_;
    std::atomic<bool> listenEnded_{false};
    int port_ = 0;
    bool addressNotHere_ = false;
};

} // namespace vg57
