#include "InfluxWriter.h"

#include <httplib.h>
#include <zlib.h>

#include <cctype>

namespace vg57 {

namespace {
constexpr std::size_t kGzipFrom = 16 * 1024;
} // namespace

// A deflate stream made once and reset for each body, and the buffer it writes into.
struct TInfluxWriter::TGzip {
    z_stream stream{};
    bool ready = false;
    std::string out;
    TGzip() {
        ready =
            deflateInit2(&stream, 1, Z_DEFLATED, 15 + 16 /* gzip */, 8, Z_DEFAULT_STRATEGY) == Z_OK;
    }
    ~TGzip() {
        if (ready) deflateEnd(&stream);
    }
    // False when zlib fails (the body then goes plain).
    bool Compress(const std::string& body) {
        if (!ready || deflateReset(&stream) != Z_OK) return false;
        out.resize(deflateBound(&stream, body.size()));
        stream.next_in = reinterpret_cast<Bytef*>(const_cast<char*>(body.data()));
        stream.avail_in = static_cast<uInt>(body.size());
        stream.next_out = reinterpret_cast<Bytef*>(out.data());
        stream.avail_out = static_cast<uInt>(out.size());
        const int rc = deflate(&stream, Z_FINISH);
        out.resize(stream.total_out);
        return rc == Z_STREAM_END;
    }
};

bool IsLoopbackOrigin(const std::string& origin) {
    std::size_t host = origin.find("://");
    host = host == std::string::npos ? 0 : host + 3;
    std::string name = origin.substr(host);
    if (name.rfind('[', 0) == 0) {
        name = name.substr(1, name.find(']') - 1);
    } else if (const std::size_t colon = name.find(':'); colon != std::string::npos) {
        name.resize(colon);
    }
    for (char& c : name)
        c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    return name == "localhost" || name == "::1" || name.rfind("127.", 0) == 0;
}

bool ParseInfluxTarget(const std::string& url, const std::map<std::string, std::string>& auth,
                       TInfluxTarget& target, std::string& reason) {
    target = {};
    const std::size_t scheme = url.find("://");
    const std::size_t path = scheme == std::string::npos ? scheme : url.find('/', scheme + 3);
    const bool known = url.rfind("http://", 0) == 0 || url.rfind("https://", 0) == 0;
    if (!known || path == std::string::npos || path == scheme + 3) {
        reason = "--influx: expected http://HOST:PORT/write?db=NAME or "
                 "http://HOST:PORT/api/v2/write?org=ORG&bucket=BUCKET, got \"" +
                 url + "\"";
        return false;
    }
    target.origin = url.substr(0, path);
    target.pathAndQuery = url.substr(path);
    const std::string p = target.pathAndQuery;
    const bool v1 = p.rfind("/write?", 0) == 0 && p.find("db=") != std::string::npos;
    const bool v2 = p.rfind("/api/v2/write?", 0) == 0 && p.find("bucket=") != std::string::npos;
    if (!v1 && !v2) {
        reason = "--influx: the path must be /write?db=NAME or /api/v2/write?org=ORG&bucket=NAME";
        return false;
    }
    const bool inQuery = p.find("?u=") != std::string::npos || p.find("&u=") != std::string::npos ||
                         p.find("?p=") != std::string::npos || p.find("&p=") != std::string::npos;
    if (inQuery || target.origin.find('@') != std::string::npos) {
        reason = "--influx: credentials go in --influx-auth-file, not in the URL";
        return false;
    }
    auto value = [&](const char* key) {
        const auto it = auth.find(key);
        return it == auth.end() ? std::string() : it->second;
    };
    target.user = value("user");
    target.password = value("password");
    target.token = value("token");
    // Over loopback there is no network to spare: compressing would only take the processor
    // from the server, which shares it.
    target.gzip = !IsLoopbackOrigin(target.origin);
    return true;
}

TInfluxWriter::TInfluxWriter(TInfluxTarget target)
    : target_(std::move(target)), client_(std::make_unique<httplib::Client>(target_.origin)) {
    if (target_.gzip) gzip_ = std::make_unique<TGzip>();
    client_->set_connection_timeout(5, 0);
    client_->set_read_timeout(30, 0);
    client_->set_write_timeout(30, 0);
    client_->set_keep_alive(true);
    if (!target_.token.empty())
        client_->set_default_headers({{"Authorization", "Token " + target_.token}});
    else if (!target_.user.empty())
        client_->set_basic_auth(target_.user, target_.password);
}

TInfluxWriter::~TInfluxWriter() = default;

void TInfluxWriter::Abort() {
    client_->stop();
}

EWriteResult TInfluxWriter::Write(const std::string& body, std::string& reason) {
    for (;;) {
        // A second's readings are a few kilobytes: compressing them costs more than it saves.
        const bool gzipped = gzip_ && body.size() >= kGzipFrom && gzip_->Compress(body);
        const std::string& sent = gzipped ? gzip_->out : body;
        const httplib::Result res = client_->Post(
            target_.pathAndQuery,
            gzipped ? httplib::Headers{{"Content-Encoding", "gzip"}} : httplib::Headers{},
            sent.data(), sent.size(), "text/plain; charset=utf-8");
        if (!res) {
            reason = httplib::to_string(res.error());
            return EWriteResult::failed;
        }
        if (res->status / 100 == 2) return EWriteResult::written;
        if (res->status == 415 && gzipped) {
            gzip_.reset(); // this server takes plain bodies only
            continue;
        }
        std::string text = res->body.substr(0, 300);
        while (!text.empty() && (text.back() == '\n' || text.back() == '\r'))
            text.pop_back();
        reason = "HTTP " + std::to_string(res->status) + (text.empty() ? "" : ": " + text);
        return res->status == 400 ? EWriteResult::refused : EWriteResult::failed;
    }
}

} // namespace vg57
