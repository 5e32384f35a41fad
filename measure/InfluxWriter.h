// Writes batches of line protocol to InfluxDB over HTTP (cpp-httplib's client): the 1.x path
// "/write?db=NAME" with an optional user and password, or the 2.x path
// "/api/v2/write?org=...&bucket=..." with a token. Bodies go gzipped unless the server refuses
// that. One request at a time, from one thread; Abort may come from another.
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
};

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

private:
    TInfluxTarget target_;
    std::unique_ptr<httplib::Client> client_;
    bool gzip_ = true;
};

} // namespace vg57
