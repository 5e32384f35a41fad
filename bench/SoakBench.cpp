// A week of logging in minutes: vg57-cli log against the simulator at the shortest interval,
// until 90 000 readings are archived or 15 minutes have passed (VG57_BENCH_SOAK_SECONDS
// shortens it). Its memory growth, CPU per reading, readings lost between the simulator and
// the archive, and the CPU per reading while scraped 10 times a second against none, in blocks
// that alternate within the same run. Then the window's cycle with its chart (WindowSoak).
#include "Numbers.h"
#include "SimProcess.h"
#include "SoakRss.h"
#include "WindowSoak.h"

#include <QApplication>
#include <QProcess>

#include <httplib.h>

#include <atomic>
#include <chrono>
#include <csignal>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <map>
#include <thread>

using namespace vg57;
namespace fs = std::filesystem;
using Clock = std::chrono::steady_clock;

namespace {

constexpr long kTarget = 90000;
constexpr long kWarmUp = 10000; // memory grows from here on only by leaks
constexpr auto kBlock = std::chrono::seconds(20);

int SoakSeconds() {
    const char* s = std::getenv("VG57_BENCH_SOAK_SECONDS");
    return s ? std::max(30, std::atoi(s)) : 15 * 60;
}

// Archived lines so far, counted from where the last call stopped.
class ArchiveCounter {
public:
    explicit ArchiveCounter(std::string folder) : folder_(std::move(folder)) {}
    long Lines() {
        for (const auto& f : fs::directory_iterator(folder_)) {
            std::ifstream in(f.path(), std::ios::binary);
            in.seekg(static_cast<std::streamoff>(read_[f.path()]));
            char buf[65536];
            while (in.read(buf, sizeof buf) || in.gcount() > 0) {
                read_[f.path()] += static_cast<std::size_t>(in.gcount());
                lines_ += std::count(buf, buf + in.gcount(), '\n');
            }
        }
        return lines_;
    }

private:
    std::string folder_;
    std::map<fs::path, std::size_t> read_;
    long lines_ = 0;
};

// Replies to "S1" in the simulator's log: the readings it sent.
long ReadingsSent(const std::string& logPath) {
    std::ifstream in(logPath);
    long sent = 0;
    bool pending = false;
    for (std::string line; std::getline(in, line);) {
        if (line.find(" REQ ") != std::string::npos)
            pending = line.size() >= 4 && line.compare(line.size() - 4, 4, " 0S1") == 0;
        else if (pending && line.find(" TX ") != std::string::npos) {
            ++sent;
            pending = false;
        }
    }
    return sent;
}

void CliSoak() {
    test::TempDir work;
    const std::string simLog = work.Path() + "/sim.log";
    test::SimProcess gauge({"--com", "3", "--log", simLog});
    const std::string archive = work.Path() + "/archive";
    QProcess cli;
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert("XDG_CONFIG_HOME", QString::fromStdString(gauge.ConfigHome()));
    cli.setProcessEnvironment(env);
    cli.setProcessChannelMode(QProcess::ForwardedOutputChannel);
    cli.setReadChannel(QProcess::StandardError);
    const double interval = 0.01; // the shortest allowed; time-outs are counted below
    cli.start(VG57_CLI_PATH,
              {"log", "--port", "COM3", "--interval", QString::number(interval), "--archive-dir",
               QString::fromStdString(archive), "--metrics", "127.0.0.1:0"});
    std::string err;
    while (err.find("/metrics\n") == std::string::npos && cli.waitForReadyRead(10000))
        err += cli.readAllStandardError().toStdString();
    const std::size_t colon = err.rfind(':', err.find("/metrics\n"));
    if (colon == std::string::npos) {
        std::fprintf(stderr, "vg57-cli did not start: %s\n", err.c_str());
        std::exit(1);
    }
    httplib::Client scraper("127.0.0.1", std::stoi(err.substr(colon + 1)));
    const std::string pid = std::to_string(cli.processId());

    ArchiveCounter counter(archive);
    const auto start = Clock::now();
    const auto limit = start + std::chrono::seconds(SoakSeconds());
    while (counter.Lines() < kWarmUp && Clock::now() < limit)
        std::this_thread::sleep_for(std::chrono::milliseconds(200));
    const double rssWarm = bench::RssMiB(pid);
    const long warmLines = counter.Lines();
    const double warmCpu = bench::CpuSeconds(pid);

    // Alternate blocks without and with scraping; CPU and readings summed per kind.
    double cpu[2] = {0, 0};
    long readings[2] = {0, 0};
    std::atomic<bool> scraping{false}, done{false};
    std::thread scrapes([&] {
        while (!done) {
            if (scraping) scraper.Get("/metrics");
            std::this_thread::sleep_for(std::chrono::milliseconds(100));
        }
    });
    for (int kind = 0; counter.Lines() < kTarget && Clock::now() < limit; kind = 1 - kind) {
        scraping = kind == 1;
        const double cpu0 = bench::CpuSeconds(pid);
        const long lines0 = counter.Lines();
        const auto end = std::min(limit, Clock::now() + kBlock);
        while (Clock::now() < end && counter.Lines() < kTarget)
            std::this_thread::sleep_for(std::chrono::milliseconds(200));
        cpu[kind] += bench::CpuSeconds(pid) - cpu0;
        readings[kind] += counter.Lines() - lines0;
    }
    scraping = false;
    done = true;
    scrapes.join();
    const double rssEnd = bench::RssMiB(pid);
    const double runCpu = bench::CpuSeconds(pid) - warmCpu;
    const long runLines = counter.Lines() - warmLines;
    std::string failures = "?";
    if (const auto res = scraper.Get("/metrics")) {
        const std::size_t at = res->body.find("\nvg57_read_failures_total ");
        if (at != std::string::npos)
            failures = res->body.substr(at + 26, res->body.find('\n', at + 1) - at - 26);
    }

    // No reply may be in flight when the program stops: the gauge falls silent first.
    gauge.Command("silent on");
    std::this_thread::sleep_for(std::chrono::milliseconds(300));
    kill(static_cast<pid_t>(cli.processId()), SIGTERM);
    cli.waitForFinished(10000);
    const long archived = counter.Lines();
    const double minutes = std::chrono::duration<double>(Clock::now() - start).count() / 60;
    std::printf("cli soak: %ld readings in %.1f min at %.2f s, %s read failures, exit %d\n",
                archived, minutes, interval, failures.c_str(), cli.exitCode());
    std::printf("figure: soak_readings %ld readings\n", archived);
    std::printf("figure: soak_rss_growth_mib %.2f MiB\n", rssEnd - rssWarm);
    std::printf("figure: soak_cpu_per_reading_us %.1f us\n",
                runLines > 0 ? runCpu / static_cast<double>(runLines) * 1e6 : 0.0);
    std::printf("figure: soak_lost %ld readings\n", ReadingsSent(simLog) - archived);
    if (readings[0] > 0 && readings[1] > 0 && cpu[0] > 0)
        std::printf("figure: metrics_cpu_ratio %.3f ratio\n",
                    (cpu[1] / static_cast<double>(readings[1])) /
                        (cpu[0] / static_cast<double>(readings[0])));
    std::fflush(stdout);
}

} // namespace

int main(int argc, char* argv[]) {
    QApplication app(argc, argv);
    platform::UseCNumbers(); // figures with '.' whatever the regional settings
    CliSoak();
    WindowSoak();
    return 0;
}
