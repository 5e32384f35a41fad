// Writes batches of line protocol to InfluxDB over HTTP (cpp-httplib's client, the connection
// kept alive): the 1.x path "/write?db=NAME" with an optional user and password, or the 2.x path
// "/api/v2/write?org=...&bucket=..." with a token. Bodies of a backlog go gzipped (level 1: a
// fraction of the default level's time, for a body a little larger) when the target says so,
// until the server refuses that. One request at a time, from one thread; Abort may come
// from another.
#pragma once

#include <map>
#include <memory>
#include <string>

namespace httplib {
class Client;
}

namespace vg57 {

struct TInfluxTarget {
    std::string origin;       // "http://host:port"
    std::string pathAndQuery; // "/write?db=lab"
    std::string user, password, token;
    bool gzip = true; // a backlog's bodies (not for a server on this machine's loopback)
};

// "http://127.0.0.1:8086", "http://localhost", "http://[::1]:8086": the server is on this
// machine's loopback.
bool IsLoopbackOrigin(const std::string& origin);

// The URL and the keys of an auth file (user, password, token); false with a one-line reason.
bool ParseInfluxTarget(const std::string& url, const std::map<std::string, std::string>& auth,
                       TInfluxTarget& target, std::string& reason);

enum class EWriteResult {
    written, // acknowledged
    refused, // the server will never take these points (HTTP 400): skip them
    failed,  // the server is away or failing: try again later
};

class TInfluxWriter {
public:
    explicit TInfluxWriter(TInfluxTarget target);
    ~TInfluxWriter();
    TInfluxWriter(const TInfluxWriter&) = delete;
    TInfluxWriter& operator=(const TInfluxWriter&) = delete;

    // Sends one body; `reason` says why it was refused or failed.
    EWriteResult Write(const std::string& body, std::string& reason);
    // Cuts a request in progress short (from another thread): it returns `failed`.
    void Abort();
    const std::string& Origin() const { return target_.origin; }
    const TInfluxTarget& Target() const { return target_; }

private:
    struct TGzip;
    TInfluxTarget target_;
    std::unique_ptr<httplib::Client> client_;
    std::unique_ptr<TGzip> gzip_; // null once the server refused gzip
};

} // namespace vg57
