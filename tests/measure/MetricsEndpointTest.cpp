// The metrics endpoint against clients that misbehave, on raw loopback sockets: what each gets,
// and that none of them holds a connection, a byte budget or the stop.
#include "GuardedHttpServer.h"
#include "Loopback.h"
#include "MetricsBoard.h"
#include "MetricsServer.h"

#include <gtest/gtest.h>

#include <chrono>
#include <filesystem>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <thread>
#include <unistd.h>

using namespace vg57;
using namespace vg57::test;
using namespace std::chrono_literals;
using Clock = std::chrono::steady_clock;

namespace {

// Sends `parts` one after another `gap` apart (stopping when the server has hung up), then
// reads until the server closes or `limit` passes. Returns what came back.
std::string Exchange(int port, const std::vector<std::string>& parts, std::chrono::milliseconds gap,
                     std::chrono::milliseconds limit = 5000ms) {
    const int fd = ConnectLoopback(port);
    const auto end = Clock::now() + limit;
    std::string reply;
    char buf[4096];
    for (std::size_t i = 0; i < parts.size() && Clock::now() < end; ++i) {
        if (send(fd, parts[i].data(), parts[i].size(), MSG_NOSIGNAL) < 0) break;
        if (i + 1 < parts.size()) std::this_thread::sleep_for(gap);
    }
    for (pollfd p{fd, POLLIN, 0}; Clock::now() < end;) {
        if (poll(&p, 1, 50) <= 0) continue;
        const ssize_t n = recv(fd, buf, sizeof buf, 0);
        if (n <= 0) break;
        reply.append(buf, static_cast<std::size_t>(n));
    }
    close(fd);
    return reply;
}

struct Endpoint {
    TMetricsBoard board;
    std::unique_ptr<TMetricsServer> server =
        std::make_unique<TMetricsServer>(board, std::vector<TMetricLabel>{});
    int port = 0;
    Endpoint() {
        std::string reason;
        EXPECT_TRUE(server->Start({"127.0.0.1", 0}, reason)) << reason;
        port = server->Port();
    }
};

std::string Scrape(int port) {
    return Exchange(port, {"GET /metrics HTTP/1.1\r\nHost: x\r\n\r\n"}, 0ms);
}

} // namespace

TEST(MetricsEndpoint, answersOnlyScrapesAndNeverReadsABody) {
    Endpoint e;
    const std::string big = "Content-Length: 157286400\r\n";
    const struct {
        std::vector<std::string> parts;
        const char* statusLine; // "" when the connection must end without an answer
        bool body;
    } rows[] = {
        {{"GET /metrics HTTP/1.1\r\n\r\n"}, "HTTP/1.1 200", true},
        {{"HEAD /metrics HTTP/1.1\r\n\r\n"}, "HTTP/1.1 200", false},
        {{"POST /metrics HTTP/1.1\r\n" + big + "\r\n"}, "HTTP/1.1 405", false},
        {{"POST /metrics HTTP/1.1\r\n" + big + "Expect: 100-continue\r\n\r\n"},
         "HTTP/1.1 405",
         false},
        {{"PUT /metrics HTTP/1.1\r\nTransfer-Encoding: chunked\r\n\r\n"}, "HTTP/1.1 405", false},
        {{"GET /other HTTP/1.1\r\n\r\n"}, "HTTP/1.1 404", false},
        {{"POST / HTTP/1.1\r\n" + big + "\r\n"}, "HTTP/1.1 404", false},
        // A request line or headers beyond the budget are never answered as a scrape.
        {{"GET /metrics HTTP/1.1\r\nX: " + std::string(20000, 'a') + "\r\n\r\n"}, "", false},
        {{"GET /" + std::string(9000, 'm') + " HTTP/1.1\r\n\r\n"}, "", false},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.parts[0].substr(0, 60));
        // The body is never sent: an answer that waited for it would not come in time.
        const std::string reply = Exchange(e.port, row.parts, 0ms, 3000ms);
        if (*row.statusLine == 0) {
            EXPECT_EQ(reply.find("200"), std::string::npos) << reply;
            continue;
        }
        EXPECT_TRUE(reply.starts_with(row.statusLine)) << reply;
        EXPECT_EQ(reply.find("vg57_measuring") != std::string::npos, row.body) << reply;
        if (std::string(row.statusLine).ends_with("405")) {
            EXPECT_NE(reply.find("Allow: GET, HEAD"), std::string::npos) << reply;
        }
    }
}

TEST(MetricsEndpoint, slowAndIdleClientsNeitherHoldTheirConnectionNorLockScrapesOut) {
    Endpoint e;
    // Two clients trickling their headers, as long as they are let: the whole request has a
    // deadline, however often a byte arrives.
    std::vector<std::string> trickle{"GET /metrics HTTP/1.1\r\n"};
    for (int i = 0; i < 40; ++i)
        trickle.push_back("X-Slow: " + std::to_string(i) + "\r\n");
    std::vector<std::thread> slow;
    std::vector<Clock::duration> held(2);
    for (std::size_t i = 0; i < held.size(); ++i)
        slow.emplace_back([&, i] {
            const auto t0 = Clock::now();
            EXPECT_EQ(Exchange(e.port, trickle, 250ms, 9000ms).find("200"), std::string::npos);
            held[i] = Clock::now() - t0;
        });
    std::this_thread::sleep_for(200ms);
    for (int i = 0; i < 5; ++i)
        EXPECT_NE(Scrape(e.port).find("vg57_device_up"), std::string::npos);
    for (std::thread& t : slow)
        t.join();
    for (const Clock::duration d : held)
        EXPECT_LT(d, 3500ms); // 40 lines at 0.25 s would be 10 s

    // Far more idle connections than the bound: the newest always gets in, and the endpoint
    // never holds more descriptors than twice the bound.
    const auto descriptors = [] {
        return std::distance(std::filesystem::directory_iterator("/proc/self/fd"), {});
    };
    const long before = descriptors();
    std::vector<int> idle;
    for (int i = 0; i < 300; ++i)
        idle.push_back(ConnectLoopback(e.port));
    for (int i = 0; i < 5; ++i)
        EXPECT_NE(Scrape(e.port).find("vg57_device_up"), std::string::npos);
    EXPECT_LE(descriptors(), before + 300 + 2 * THttpLimits{}.maxConnections);
    for (int fd : idle)
        close(fd);
}

TEST(MetricsEndpoint, stoppingEndsEveryConnectionAtOnce) {
    auto e = std::make_unique<Endpoint>();
    std::vector<std::thread> slow;
    for (int i = 0; i < 8; ++i)
        slow.emplace_back([port = e->port] {
            Exchange(port, {"GET /metrics HTTP/1.1\r\n", "X: 1\r\n", "X: 2\r\n"}, 900ms, 4000ms);
        });
    std::this_thread::sleep_for(300ms); // every one inside its request
    const auto t0 = Clock::now();
    e.reset();
    EXPECT_LT(Clock::now() - t0, 500ms);
    for (std::thread& t : slow)
        t.join();
}

TEST(MetricsEndpoint, processMetricsFollowTheProcess) {
    Endpoint e;
    const auto value = [](const std::string& body, const std::string& name) {
        const std::size_t at = body.find("\n" + name + " ");
        return at == std::string::npos ? -1.0 : std::stod(body.substr(at + name.size() + 2));
    };
    const std::string before = Scrape(e.port);
    int pipes[50][2];
    for (auto& p : pipes)
        ASSERT_EQ(pipe(p), 0);
    std::vector<char> touched(64 << 20, 1); // resident, page by page
    const std::string after = Scrape(e.port);
    for (auto& p : pipes) {
        close(p[0]);
        close(p[1]);
    }
    EXPECT_EQ(value(after, "process_open_fds") - value(before, "process_open_fds"), 100);
    EXPECT_EQ(value(after, "process_max_fds"), sysconf(_SC_OPEN_MAX));
    EXPECT_GE(value(after, "process_resident_memory_bytes") -
                  value(before, "process_resident_memory_bytes"),
              60 << 20);
    EXPECT_GT(value(after, "process_cpu_seconds_total"), 0);
    const double age = UnixSecondsNow() - value(after, "process_start_time_seconds");
    EXPECT_TRUE(age > 0 && age < 600) << age;
    EXPECT_NE(after.find("vg57_build_info{version=\""), std::string::npos) << after;
    EXPECT_EQ(touched[12345], 1);
}
