// The pushes' costs against servers started here on loopback ports (sections by name, all by
// default): readings lost by vg57-cli log --influx over a 3-minute run at 0.1 s with InfluxDB
// stopped for 30 s; the logger's CPU with --influx and --mqtt against without, both running over
// the same minute; and vg57-cli push of a 4-million-line archive into InfluxDB, beside the
// server's own bound in the same run (the same points pre-formatted and posted by the best client
// at hand). Figures are printed as "figure: NAME VALUE UNIT".
#include "ArchiveFollower.h"
#include "ArchiveFormat.h"
#include "DateTime.h"
#include "InfluxPush.h"
#include "InfluxServer.h"
#include "LineProtocol.h"
#include "Loopback.h"
#include "SimProcess.h"
#include "SoakRss.h"
#include "TempDir.h"

#include <QCoreApplication>
#include <QDateTime>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QProcess>
#include <QStandardPaths>
#include <QTimeZone>

#include <httplib.h>

#include <atomic>
#include <chrono>
#include <cmath>
#include <csignal>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <memory>
#include <netinet/in.h>
#include <set>
#include <sys/resource.h>
#include <sys/socket.h>
#include <thread>
#include <unistd.h>

using namespace vg57;
using vg57::test::FreeLoopbackPort;
using Clock = std::chrono::steady_clock;
namespace fs = std::filesystem;

namespace {

[[noreturn]] void Fail(const std::string& why) {
    std::fprintf(stderr, "bench_push: %s\n", why.c_str());
    std::exit(1);
}

// The server of the benchmark, with its database and a count of what it holds.
class Influx : public vg57::test::TInfluxServer {
public:
    using TInfluxServer::TInfluxServer;
    void Start() {
        if (!TInfluxServer::Start()) Fail("influxd did not start");
        Query("CREATE DATABASE lab");
    }
    // The number of distinct times stored.
    long long Count(const std::string& db = "lab") {
        const QJsonArray rows = Query("SELECT count(pressure) FROM " + db + "..vg57");
        return rows.isEmpty() ? 0 : static_cast<long long>(rows.at(0).toArray().at(1).toDouble());
    }
};

long ArchivedLines(const std::string& folder) {
    long n = 0;
    for (const auto& e : fs::directory_iterator(folder))
        if (e.path().extension() == ".txt") {
            std::ifstream in(e.path(), std::ios::binary);
            n += std::count(std::istreambuf_iterator<char>(in), {}, '\n');
        }
    return n;
}

QStringList ArchiveFiles(const std::string& folder) {
    QStringList out;
    for (const auto& e : fs::directory_iterator(folder))
        if (e.path().extension() == ".txt") out << QString::fromStdString(e.path().string());
    return out;
}

// vg57-cli push; its wall time in seconds.
double Push(const QStringList& files, const QString& url) {
    QProcess push;
    push.setProcessChannelMode(QProcess::ForwardedErrorChannel);
    const auto start = Clock::now();
    push.start(VG57_CLI_PATH, QStringList{"push", "--influx", url} + files);
    if (!push.waitForFinished(600000) || push.exitCode() != 0) Fail("vg57-cli push failed");
    std::printf("%s", push.readAllStandardOutput().constData());
    return std::chrono::duration<double>(Clock::now() - start).count();
}

// vg57-cli log on `gauge` into `archive` with `extra` options, started.
std::unique_ptr<QProcess> StartLogger(const test::SimProcess& gauge, const std::string& archive,
                                      const QStringList& extra) {
    auto cli = std::make_unique<QProcess>();
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert("XDG_CONFIG_HOME", QString::fromStdString(gauge.ConfigHome()));
    cli->setProcessEnvironment(env);
    cli->setProcessChannelMode(QProcess::ForwardedChannels);
    cli->start(VG57_CLI_PATH, QStringList{"log", "--port", "COM3", "--interval", "0.1",
                                          "--archive-dir", QString::fromStdString(archive)} +
                                  extra);
    if (!cli->waitForStarted(10000)) Fail("vg57-cli did not start");
    return cli;
}

// Its CPU seconds so far, then stopped.
double StopLogger(QProcess& cli) {
    const double cpu = bench::CpuSeconds(std::to_string(cli.processId()));
    kill(static_cast<pid_t>(cli.processId()), SIGTERM);
    cli.waitForFinished(10000);
    return cpu;
}

// vg57-cli log for `seconds` with `extra` options; its CPU seconds.
double LogRun(const test::SimProcess& gauge, const std::string& archive, const QStringList& extra,
              int seconds, const std::function<void(int)>& atSecond = {}) {
    const std::unique_ptr<QProcess> cli = StartLogger(gauge, archive, extra);
    for (int s = 0; s < seconds; ++s) {
        std::this_thread::sleep_for(std::chrono::seconds(1));
        if (atSecond) atSecond(s);
    }
    return StopLogger(*cli);
}

void Lost() {
    test::TempDir work;
    Influx influx(work.Path());
    influx.Start();
    test::SimProcess gauge({"--com", "3"});
    const std::string archive = work.Path() + "/archive";
    LogRun(gauge, archive, {"--influx", influx.Url()}, 180, [&](int s) {
        if (s == 60) influx.Stop();
        if (s == 90) influx.Start();
    });
    // The readings of the last second wait in the archive for the next start; pushed here.
    Push(ArchiveFiles(archive), influx.Url());
    const long lines = ArchivedLines(archive);
    std::printf("push lost: %ld archived, %lld stored\n", lines, influx.Count());
    std::printf("figure: push_lost %lld readings\n", lines - influx.Count());
}

void CpuRatio() {
    test::TempDir work;
    Influx influx(work.Path());
    influx.Start();
    const int mqttPort = FreeLoopbackPort();
    std::ofstream(work.Path() + "/mosquitto.conf")
        << "listener " << mqttPort << " 127.0.0.1\nallow_anonymous true\npersistence false\n"
        << "log_dest none\n";
    QProcess broker;
    broker.start(QStandardPaths::findExecutable("mosquitto", {"/usr/sbin", "/usr/bin"}),
                 {"-c", QString::fromStdString(work.Path() + "/mosquitto.conf")});
    if (!broker.waitForStarted(10000)) Fail("mosquitto did not start");
    // Both loggers at once, each on a simulator of its own, over the same minute: a machine
    // shared with other work loads both alike, where one run after the other could catch a
    // busy minute for one and a quiet one for the other.
    test::SimProcess gaugeOff({"--com", "3"}), gaugeOn({"--com", "3"});
    constexpr int kSeconds = 60;
    const std::unique_ptr<QProcess> loggerOff = StartLogger(gaugeOff, work.Path() + "/off", {});
    const std::unique_ptr<QProcess> loggerOn =
        StartLogger(gaugeOn, work.Path() + "/on",
                    {"--influx", influx.Url(), "--mqtt", QString("127.0.0.1:%1").arg(mqttPort),
                     "--mqtt-discovery"});
    std::this_thread::sleep_for(std::chrono::seconds(kSeconds));
    const double off = StopLogger(*loggerOff);
    const double on = StopLogger(*loggerOn);
    broker.terminate();
    broker.waitForFinished(10000);
    std::printf("push cpu: %.2f s without, %.2f s with --influx and --mqtt in %d s\n", off, on,
                kSeconds);
    std::printf("figure: push_cpu_ratio %.3f ratio\n", on / off);
}

// User and system CPU of the children waited for so far, in seconds.
double ChildrenCpuSeconds() {
    rusage usage{};
    getrusage(RUSAGE_CHILDREN, &usage);
    return static_cast<double>(usage.ru_utime.tv_sec + usage.ru_stime.tv_sec) +
           static_cast<double>(usage.ru_utime.tv_usec + usage.ru_stime.tv_usec) / 1e6;
}

// The server's own pace, waited for between two loads: its CPU over half a second below 5 %
// (its compactions after millions of points), at most 60 s.
void WaitUntilIdle(const Influx& influx) {
    const std::string pid = std::to_string(influx.Pid());
    for (int i = 0; i < 120; ++i) {
        const double before = bench::CpuSeconds(pid);
        std::this_thread::sleep_for(std::chrono::milliseconds(500));
        if (bench::CpuSeconds(pid) - before < 0.025) return;
    }
}

// The archive's points as the push formats them, in batches of the push's size: read by the
// push's own follower, never committed (the cursor it makes is removed after, so the push begins
// at the file's start).
std::vector<std::string> PreformattedBatches(const std::string& path) {
    std::vector<std::string> bodies;
    TArchiveFollower follower(PointPrefix('0', {}));
    follower.AddFile(path);
    TPushBatch batch;
    std::string problem;
    while (follower.Next(TInfluxPush::kMaxPoints, batch, problem) && !batch.Empty())
        bodies.push_back(std::move(batch.body));
    if (!problem.empty()) Fail(problem);
    fs::remove(CursorPath(path));
    return bodies;
}

// The server's bound: the pre-formatted batches posted plain (no gzip: the server's cheapest)
// by `inFlight` clients with kept-alive connections, each taking the next batch; points/s.
double PostBatches(const Influx& influx, const std::vector<std::string>& bodies, int inFlight,
                   const std::string& db) {
    std::atomic<std::size_t> next{0};
    std::atomic<bool> failed{false};
    std::vector<std::thread> clients;
    const auto start = Clock::now();
    for (int c = 0; c < inFlight; ++c)
        clients.emplace_back([&] {
            httplib::Client client("127.0.0.1", influx.Port());
            client.set_keep_alive(true);
            client.set_read_timeout(60, 0);
            client.set_write_timeout(60, 0);
            for (std::size_t i; (i = next++) < bodies.size() && !failed;) {
                const auto r = client.Post("/write?db=" + db, bodies[i], "text/plain");
                if (!r || r->status != 204) failed = true;
            }
        });
    for (std::thread& t : clients)
        t.join();
    if (failed) Fail("the server refused a pre-formatted batch");
    return std::chrono::duration<double>(Clock::now() - start).count();
}

void Backfill() {
    test::TempDir work;
    constexpr long kLines = 4'000'000;
    constexpr int kInFlight = 4;
    const double start = MakeDateTime(2026, 11, 1, 10, 0, 0);
    const std::string path = work.Path() + "/" + ArchiveFileName(LocalTimeOf(start));
    {
        std::ofstream out(path, std::ios::binary);
        std::string block;
        for (long i = 0; i < kLines; ++i) {
            const long double p = 1e-3L * (1 + 0.5L * std::sin(i * 0.001L));
            block += FormatArchiveLine(LocalTimeOf(start + i * 0.1 / 86400), p, "0001");
            if (block.size() > (1 << 20)) out << block, block.clear();
        }
        out << block;
    }
    Influx influx(work.Path());
    influx.Start();
    // The server's bound before and after the push (each on a database of its own, the server
    // idle again in between): the push runs on a server that holds 4 M points more than the
    // first bound's, fewer than the second's. The bound is the better of the two.
    const std::vector<std::string> bodies = PreformattedBatches(path);
    const auto bound = [&](const std::string& db) {
        influx.Query("CREATE DATABASE " + db);
        WaitUntilIdle(influx);
        const double s = PostBatches(influx, bodies, kInFlight, db);
        const long long stored = influx.Count(db);
        if (stored != kLines)
            Fail(db + ": stored " + std::to_string(stored) + " of " + std::to_string(kLines));
        return s;
    };
    const std::string server = std::to_string(influx.Pid());
    double serverCpu[3] = {};
    double cpu = bench::CpuSeconds(server);
    const double before = bound("before");
    serverCpu[0] = bench::CpuSeconds(server) - cpu;
    WaitUntilIdle(influx);
    cpu = bench::CpuSeconds(server);
    const double clientCpu = ChildrenCpuSeconds();
    const double seconds = Push({QString::fromStdString(path)}, influx.Url());
    const double pushCpu = ChildrenCpuSeconds() - clientCpu;
    serverCpu[1] = bench::CpuSeconds(server) - cpu;
    const long long stored = influx.Count();
    if (stored != kLines)
        Fail("stored " + std::to_string(stored) + " of " + std::to_string(kLines));
    cpu = bench::CpuSeconds(server);
    const double after = bound("after");
    serverCpu[2] = bench::CpuSeconds(server) - cpu;
    std::printf("push backfill: the server's CPU %.1f s in the bound before, %.1f s in the push, "
                "%.1f s in the bound after; vg57-cli push's own CPU %.1f s\n",
                serverCpu[0], serverCpu[1], serverCpu[2], pushCpu);
    const double boundSeconds = std::min(before, after);
    std::printf("push backfill: %ld lines in %.1f s; the server's bound (pre-formatted batches "
                "of %zu, %d in flight, plain): %.1f s before the push, %.1f s after\n",
                kLines, seconds, TInfluxPush::kMaxPoints, kInFlight, before, after);
    std::printf("figure: push_backfill_readings_per_s %.0f readings/s\n", kLines / seconds);
    std::printf("figure: push_backfill_server_bound_readings_per_s %.0f readings/s\n",
                kLines / boundSeconds);
    std::printf("figure: push_backfill_ratio_to_bound %.3f ratio\n", boundSeconds / seconds);
}

} // namespace

int main(int argc, char** argv) {
    QCoreApplication app(argc, argv);
    if (QStandardPaths::findExecutable("influxd").isEmpty())
        Fail("influxd is not installed (./test.sh installs the influxdb package)");
    std::set<std::string> names(argv + 1, argv + argc);
    const auto wanted = [&](const char* name) { return names.empty() || names.count(name) > 0; };
    if (wanted("backfill")) Backfill();
    if (wanted("cpu")) CpuRatio();
    if (wanted("lost")) Lost();
    return 0;
}
