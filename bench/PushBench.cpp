// The pushes' costs against servers started here on loopback ports (sections by name, all by
// default): readings lost by vg57-cli log --influx over a 3-minute run at 0.1 s with InfluxDB
// stopped for 30 s; the logger's CPU with --influx and --mqtt against without, over runs of the
// same length; and vg57-cli push of a 4-million-line archive into InfluxDB. Figures are printed
// as "figure: NAME VALUE UNIT".
#include "ArchiveFormat.h"
#include "DateTime.h"
#include "InfluxServer.h"
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

#include <chrono>
#include <cmath>
#include <csignal>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <netinet/in.h>
#include <set>
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
    long long Count() {
        const QJsonArray rows = Query("SELECT count(pressure) FROM vg57");
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

// vg57-cli log for `seconds` with `extra` options; its CPU seconds.
double LogRun(const test::SimProcess& gauge, const std::string& archive, const QStringList& extra,
              int seconds, const std::function<void(int)>& atSecond = {}) {
    QProcess cli;
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert("XDG_CONFIG_HOME", QString::fromStdString(gauge.ConfigHome()));
    cli.setProcessEnvironment(env);
    cli.setProcessChannelMode(QProcess::ForwardedChannels);
    cli.start(VG57_CLI_PATH, QStringList{"log", "--port", "COM3", "--interval", "0.1",
                                         "--archive-dir", QString::fromStdString(archive)} +
                                 extra);
    if (!cli.waitForStarted(10000)) Fail("vg57-cli did not start");
    const std::string pid = std::to_string(cli.processId());
    for (int s = 0; s < seconds; ++s) {
        std::this_thread::sleep_for(std::chrono::seconds(1));
        if (atSecond) atSecond(s);
    }
    const double cpu = bench::CpuSeconds(pid);
    kill(static_cast<pid_t>(cli.processId()), SIGTERM);
    cli.waitForFinished(10000);
    return cpu;
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
    test::SimProcess gauge({"--com", "3"});
    constexpr int kSeconds = 60;
    const double off = LogRun(gauge, work.Path() + "/off", {}, kSeconds);
    const double on = LogRun(gauge, work.Path() + "/on",
                             {"--influx", influx.Url(), "--mqtt",
                              QString("127.0.0.1:%1").arg(mqttPort), "--mqtt-discovery"},
                             kSeconds);
    broker.terminate();
    broker.waitForFinished(10000);
    std::printf("push cpu: %.2f s without, %.2f s with --influx and --mqtt in %d s\n", off, on,
                kSeconds);
    std::printf("figure: push_cpu_ratio %.3f ratio\n", on / off);
}

void Backfill() {
    test::TempDir work;
    constexpr long kLines = 4'000'000;
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
    const double seconds = Push({QString::fromStdString(path)}, influx.Url());
    const long long stored = influx.Count();
    if (stored != kLines)
        Fail("stored " + std::to_string(stored) + " of " + std::to_string(kLines));
    std::printf("push backfill: %ld lines in %.1f s\n", kLines, seconds);
    std::printf("figure: push_backfill_readings_per_s %.0f readings/s\n", kLines / seconds);
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
