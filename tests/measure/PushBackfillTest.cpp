// A backfill with several requests in flight, against an HTTP server on a loopback port that
// fails on demand: a batch that fails while the one after it is acknowledged holds the cursor
// back, and what follows sends every point; gzipped bodies reach the server whole.
#include "ArchiveFollower.h"
#include "InfluxPush.h"
#include "LineProtocol.h"
#include "TempDir.h"

#include <gtest/gtest.h>
#include <httplib.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <fstream>
#include <mutex>
#include <set>
#include <thread>

using namespace vg57;
using namespace std::chrono_literals;

namespace {

const QTimeZone kBerlin("Europe/Berlin");

// An InfluxDB stand-in: takes every write, but fails a body holding `failTime` (a point's time
// as written) with 503 after `failDelay`, `failures` times.
class TWriteServer {
public:
    TWriteServer() {
        server_.Post("/write", [this](const httplib::Request& req, httplib::Response& res) {
            bool fail = false;
            std::chrono::milliseconds delay{0};
            {
                std::lock_guard<std::mutex> lock(mutex_);
                gzipped_ |= req.get_header_value("Content-Encoding") == "gzip";
                fail = failures_ > 0 && req.body.find(failTime_) != std::string::npos;
                if (fail) --failures_;
                delay = failDelay_;
            }
            if (fail) {
                std::this_thread::sleep_for(delay);
                res.status = 503;
                return;
            }
            std::lock_guard<std::mutex> lock(mutex_);
            ++acknowledged_;
            for (std::size_t at = 0, nl; (nl = req.body.find('\n', at)) != std::string::npos;
                 at = nl + 1)
                points_.push_back(req.body.substr(at, nl - at));
            res.status = 204;
        });
        port_ = server_.bind_to_any_port("127.0.0.1");
        thread_ = std::thread([this] { server_.listen_after_bind(); });
    }
    ~TWriteServer() {
        server_.stop();
        thread_.join();
    }
    void FailOn(std::string time, int failures, std::chrono::milliseconds delay) {
        std::lock_guard<std::mutex> lock(mutex_);
        failTime_ = std::move(time);
        failures_ = failures;
        failDelay_ = delay;
    }
    TInfluxTarget Target(bool gzip) const {
        TInfluxTarget t;
        t.origin = "http://127.0.0.1:" + std::to_string(port_);
        t.pathAndQuery = "/write?db=lab";
        t.gzip = gzip;
        return t;
    }
    std::vector<std::string> Points() {
        std::lock_guard<std::mutex> lock(mutex_);
        return points_;
    }
    int Acknowledged() {
        std::lock_guard<std::mutex> lock(mutex_);
        return acknowledged_;
    }
    bool Gzipped() {
        std::lock_guard<std::mutex> lock(mutex_);
        return gzipped_;
    }

private:
    httplib::Server server_;
    std::thread thread_;
    int port_ = 0;
    std::mutex mutex_;
    std::string failTime_;
    int failures_ = 0;
    std::chrono::milliseconds failDelay_{0};
    std::vector<std::string> points_;
    int acknowledged_ = 0;
    bool gzipped_ = false;
};

// An archive file of `lines` readings 0.1 s apart; its path.
std::string MakeArchive(const std::string& dir, int lines) {
    const std::string path = dir + "/2026_01_02 10_00_00.txt";
    std::ofstream out(path, std::ios::binary);
    for (int i = 0; i < lines; ++i) {
        const int ms = 36'000'000 + i * 100;
        char line[64];
        std::snprintf(line, sizeof line, "%02d:%02d:%02d.%03d %d 0001\r\n", ms / 3'600'000,
                      ms / 60'000 % 60, ms / 1000 % 60, ms % 1000, i + 1);
        out << line;
    }
    return path;
}

TInfluxPushCounts Backfill(const std::string& path, const TInfluxTarget& target, int attempts,
                           int inFlight) {
    TArchiveFollower follower(PointPrefix('0', {}), kBerlin);
    follower.AddFile(path);
    TInfluxWriter writer(target);
    TInfluxPush push(follower, writer, [](const std::string&) {});
    return push.RunToEnd(attempts, inFlight);
}

// The times of the points, once each.
std::set<std::string> Distinct(const std::vector<std::string>& points) {
    std::set<std::string> out;
    for (const std::string& p : points)
        out.insert(p.substr(p.rfind(' ') + 1));
    return out;
}

} // namespace

TEST(PushBackfill, aFailedBatchHoldsTheCursorBackThoughTheOneAfterItWasAcknowledged) {
    test::TempDir dir;
    constexpr int kLines = 12'000; // batches of 5000, 5000 and 2000
    const std::string path = MakeArchive(dir.Path(), kLines);
    TWriteServer server;
    // The first batch (its first point 10:00:00.000 in Berlin) fails slowly, once; the second,
    // sent meanwhile, is acknowledged before the first's answer comes.
    const std::string firstTime = " 1767344400000000000";
    server.FailOn(firstTime, 1, 300ms);
    TInfluxPushCounts counts = Backfill(path, server.Target(false), 1, 2);
    EXPECT_TRUE(counts.gaveUp);
    EXPECT_EQ(counts.written, 0u);
    EXPECT_GE(server.Acknowledged(), 1) << "the batch after the failed one was acknowledged";
    TPushCursor cursor;
    ASSERT_TRUE(ReadCursor(path, cursor));
    EXPECT_EQ(cursor.offset, 0u) << "the cursor never passes a batch that failed";

    // Again, the first batch failing once more: tried again, and every point arrives.
    server.FailOn(firstTime, 1, 300ms);
    counts = Backfill(path, server.Target(false), 5, 3);
    EXPECT_FALSE(counts.gaveUp);
    EXPECT_EQ(counts.written, static_cast<std::uint64_t>(kLines));
    EXPECT_EQ(Distinct(server.Points()).size(), static_cast<std::size_t>(kLines));
    ASSERT_TRUE(ReadCursor(path, cursor));
    EXPECT_EQ(cursor.offset,
              static_cast<std::uint64_t>(std::ifstream(path, std::ios::ate).tellg()));
    const std::size_t received = server.Points().size();
    EXPECT_EQ(Backfill(path, server.Target(false), 5, 3).written, 0u) << "nothing twice";
    EXPECT_EQ(server.Points().size(), received);
}

TEST(PushBackfill, gzippedBodiesArriveWhole) {
    test::TempDir dir;
    constexpr int kLines = 6'000;
    const std::string path = MakeArchive(dir.Path(), kLines);
    TWriteServer server;
    const TInfluxPushCounts counts = Backfill(path, server.Target(true), 5, 2);
    EXPECT_EQ(counts.written, static_cast<std::uint64_t>(kLines));
    EXPECT_TRUE(server.Gzipped());
    const std::vector<std::string> points = server.Points(); // in the order the answers came
    ASSERT_EQ(points.size(), static_cast<std::size_t>(kLines));
    EXPECT_EQ(Distinct(points).size(), static_cast<std::size_t>(kLines));
    EXPECT_NE(std::find(points.begin(), points.end(),
                        "vg57,address=0,unit=Pa pressure=1,pascals=1 1767344400000000000"),
              points.end());
}
