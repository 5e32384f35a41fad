#include "MetricsServer.h"

#include "GuardedHttpServer.h"
#include "MetricsBoard.h"
#include "ProcessMetrics.h"

#include <cerrno>
#include <charconv>
#include <chrono>
#include <csignal>
#include <cstring>
#include <netdb.h>
#include <sys/socket.h>
#include <unistd.h>

namespace vg57 {

namespace {

constexpr char kPath[] = "/metrics";
constexpr int kBacklog = 128;

// What a request gets before any of its body is read: 200 (served), 404 or 405.
int Verdict(const httplib::Request& req) {
    if (req.path != kPath) return 404;
    return req.method == "GET" || req.method == "HEAD" ? 200 : 405;
}

// Why the address can't be bound, in the system's words: the library only says that it failed.
// `notHere` when the host is no address of this machine.
std::string BindFailureReason(const TMetricsAddress& a, bool& notHere) {
    notHere = false;
    addrinfo hints{};
    hints.ai_family = AF_UNSPEC;
    hints.ai_socktype = SOCK_STREAM;
    hints.ai_flags = AI_PASSIVE;
    addrinfo* list = nullptr;
    const std::string service = std::to_string(a.port);
    if (const int rc = getaddrinfo(a.host.c_str(), service.c_str(), &hints, &list); rc != 0) {
        notHere = rc != EAI_AGAIN && rc != EAI_MEMORY && rc != EAI_SYSTEM;
        return gai_strerror(rc);
    }
    std::string reason = "не удалось";
    for (addrinfo* ai = list; ai; ai = ai->ai_next) {
        const int fd = socket(ai->ai_family, ai->ai_socktype | SOCK_CLOEXEC, ai->ai_protocol);
        if (fd < 0) {
            reason = std::strerror(errno);
            continue;
        }
        const int yes = 1;
        setsockopt(fd, SOL_SOCKET, SO_REUSEADDR, &yes, sizeof yes);
        const bool bound = bind(fd, ai->ai_addr, ai->ai_addrlen) == 0;
        if (!bound) {
            notHere = errno == EADDRNOTAVAIL;
            reason = std::strerror(errno);
        }
        close(fd);
        if (bound) break;
    }
    freeaddrinfo(list);
    return reason;
}

} // namespace

bool ParseMetricsAddress(const std::string& text, TMetricsAddress& address, std::string& reason) {
    const std::size_t colon = text.rfind(':');
    std::string host = colon == std::string::npos ? std::string() : text.substr(0, colon);
    if (host.size() >= 2 && host.front() == '[' && host.back() == ']')
        host = host.substr(1, host.size() - 2);
    const std::string port = colon == std::string::npos ? std::string() : text.substr(colon + 1);
    int number = 0;
    const auto [end, ec] = std::from_chars(port.data(), port.data() + port.size(), number);
    if (host.empty() || port.empty() || ec != std::errc() || end != port.data() + port.size() ||
        number < 0 || number > 65535) {
        reason =
            "адрес метрик \"" + text + "\" должен иметь вид ХОСТ:ПОРТ (например 127.0.0.1:9101)";
        return false;
    }
    address = {host, number};
    return true;
}

bool ParseMetricsOptions(const std::string& address, const std::vector<std::string>& labels,
                         TMetricsOptions& options, std::string& reason) {
    options = {};
    if (address.empty()) {
        if (labels.empty()) return true;
        reason = "--metrics-label задано без --metrics";
        return false;
    }
    if (!ParseMetricsAddress(address, options.address, reason)) return false;
    for (const std::string& l : labels)
        if (!AddMetricLabel(l, options.labels, reason)) return false;
    options.enabled = true;
    return true;
}

TMetricsServer::TMetricsServer(const TMetricsBoard& board,
                               const std::vector<TMetricLabel>& constantLabels)
    : TMetricsServer(
          [&board, labels = constantLabels] {
              return MetricsExposition(board.Snapshot(), SteadySecondsNow(), labels);
          },
          constantLabels) {}

TMetricsServer::TMetricsServer(std::function<std::string()> exposition,
                               std::vector<TMetricLabel> constantLabels)
    : exposition_(std::move(exposition)), labels_(std::move(constantLabels)),
      server_(std::make_unique<TGuardedHttpServer>()) {
    // The library's default adds SO_REUSEPORT, with which a second logger would share the
    // address instead of being told that it is taken.
    server_->set_socket_options([](int sock) {
        const int yes = 1;
        setsockopt(sock, SOL_SOCKET, SO_REUSEADDR, &yes, sizeof yes);
    });
    // Anything but a scrape is answered before its body is read: a body is never wanted.
    server_->set_pre_routing_handler([](const httplib::Request& req, httplib::Response& res) {
        res.status = Verdict(req);
        if (res.status == 405) res.set_header("Allow", "GET, HEAD");
        return res.status == 200 ? httplib::Server::HandlerResponse::Unhandled
                                 : httplib::Server::HandlerResponse::Handled;
    });
    server_->set_expect_100_continue_handler(
        [](const httplib::Request& req, httplib::Response& res) {
            res.status = Verdict(req);
            if (res.status == 405) res.set_header("Allow", "GET, HEAD");
            return res.status == 200 ? 100 : res.status;
        });
    // A scrape copies the sample under the board's short lock; it never waits for the gauge.
    server_->Get(kPath, [this](const httplib::Request&, httplib::Response& res) {
        res.set_content(exposition_() +
                            ProcessExposition(ReadProcessSample(), VG57_VERSION, labels_),
                        kMetricsContentType);
    });
}

TMetricsServer::~TMetricsServer() {
    if (!thread_.joinable()) return;
    // stop() does nothing until the listening loop runs: wait for it to, or to have ended.
    while (!server_->is_running() && !listenEnded_)
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    server_->StopNow();
    thread_.join();
}

bool TMetricsServer::Start(const TMetricsAddress& address, std::string& reason) {
    const bool bound = address.port == 0 ? (port_ = server_->bind_to_any_port(address.host)) > 0
                                         : server_->bind_to_port(address.host, address.port);
    if (!bound) {
        reason = "не удалось открыть адрес метрик " + address.host + ":" +
                 std::to_string(address.port) + ": " + BindFailureReason(address, addressNotHere_);
        return false;
    }
    server_->WidenBacklog(kBacklog);
    if (address.port != 0) port_ = address.port;
    // A scraper that hangs up while its answer is written must not end the whole program.
    std::signal(SIGPIPE, SIG_IGN);
    thread_ = std::thread([this] {
        server_->listen_after_bind();
        listenEnded_ = true;
    });
    return true;
}

} // namespace vg57
