// The metrics server under load: scrapes from several threads while the cycle's side updates
// the board, and the server destroyed while scrapes are still arriving. Run under TSan too.
#include "MetricsServer.h"
#include "MetricsBoard.h"

#include <gtest/gtest.h>
#include <httplib.h>

#include <atomic>
#include <chrono>
#include <cstring>
#include <thread>

using namespace vg57;

TEST(MetricsServer, scrapesSeeTheBoardWhileItChangesAndStoppingEndsAtOnce) {
    TMetricsBoard board;
    auto server = std::make_unique<TMetricsServer>(board, std::vector<TMetricLabel>{});
    std::string reason;
    ASSERT_TRUE(server->Start({"127.0.0.1", 0}, reason)) << reason;

    std::atomic<bool> stop{false};
    std::atomic<int> answered{0}, consistent{0};
    std::vector<std::thread> scrapers;
    for (int i = 0; i < 3; ++i)
        scrapers.emplace_back([&, port = server->Port()] {
            httplib::Client client("127.0.0.1", port);
            client.set_connection_timeout(1, 0);
            while (!stop) {
                const auto res = client.Get("/metrics");
                if (!res) continue; // refused once the server is gone
                ++answered;
                // Readings and failures are updated together: a scrape never sees half of it.
                const std::string& b = res->body;
                const auto value = [&](const char* name) {
                    const std::size_t at = b.find(std::string("\n") + name + " ");
                    return at == std::string::npos ? -1L
                                                   : std::stol(b.substr(at + strlen(name) + 2));
                };
                if (value("vg57_readings_total") == value("vg57_read_failures_total")) ++consistent;
                EXPECT_EQ(res->get_header_value("Content-Type"), kMetricsContentType);
            }
        });
    const auto limit = std::chrono::steady_clock::now() + std::chrono::seconds(20);
    for (long n = 1; answered < 60 && std::chrono::steady_clock::now() < limit; ++n)
        board.Update([n](TMetricsSample& m) { m.readings = m.readFailures = n; });

    const auto t0 = std::chrono::steady_clock::now();
    server.reset(); // scrapes still coming
    EXPECT_LT(std::chrono::steady_clock::now() - t0, std::chrono::seconds(1));
    stop = true;
    for (auto& t : scrapers)
        t.join();
    EXPECT_GE(answered.load(), 60);
    EXPECT_EQ(consistent.load(), answered.load());
}
