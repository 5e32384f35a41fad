// Several gauges on one line: vg57-cli log against the simulator's line of gauges, paced as a
// real wire at 9600 8O1, its archives read back afterwards.
// - bus_rhythm_8_ratio: 8 gauges at 0.5 s, the worst gauge's median interval / 0.5 s;
// - bus_rhythm_silent_ratio: the same with one of them silent, the worst answering gauge's;
// - bus_wire_ratio: at the shortest interval, readings per second / the wire's limit from the
//   bytes of one reading's exchanges ("R1" and "S1": 5 + 8 bytes each, 11 bits a byte);
// - bus_resync_lost and bus_resync_wrong: a late reply every 30 s on one gauge, each gauge
//   holding its own pressure: readings lost per late reply, and readings not the gauge's own.
// VG57_BENCH_BUS_SECONDS sets each run's length (30 s; the late-reply run 600 s).
#include "SimProcess.h"
#include "TempDir.h"

#include <QCoreApplication>
#include <QProcess>

#include <algorithm>
#include <chrono>
#include <cmath>
#include <csignal>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <functional>
#include <map>
#include <memory>
#include <thread>
#include <vector>

namespace fs = std::filesystem;
using vg57::test::SimProcess;
using vg57::test::TempDir;

namespace {

constexpr double kBaud = 9600, kBitsPerChar = 11;
const char kAddresses[] = "01234567";

int Seconds(int fallback) {
    const char* s = std::getenv("VG57_BENCH_BUS_SECONDS");
    return s ? std::max(10, std::atoi(s)) : fallback;
}

struct TRun {
    std::map<char, std::vector<double>> times;       // each gauge's reading times, seconds of day
    std::map<char, std::vector<std::string>> values; // and its pressures as written
};

// Runs the logger over the line for `seconds`; `during` is called once a second with the
// seconds passed.
TRun Log(SimProcess& sim, const std::string& interval, int seconds,
         const std::function<void(int)>& during = {}) {
    TempDir archive;
    QProcess cli;
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert("XDG_CONFIG_HOME", QString::fromStdString(sim.ConfigHome()));
    cli.setProcessEnvironment(env);
    cli.setProcessChannelMode(QProcess::ForwardedChannels);
    cli.start(VG57_CLI_PATH, {"log", "--port", "COM3", "--address", "0,1,2,3,4,5,6,7", "--interval",
                              QString::fromStdString(interval), "--archive-dir",
                              QString::fromStdString(archive.Path())});
    cli.waitForStarted();
    for (int s = 0; s < seconds; ++s) {
        std::this_thread::sleep_for(std::chrono::seconds(1));
        if (during) during(s);
    }
    kill(static_cast<pid_t>(cli.processId()), SIGTERM);
    cli.waitForFinished(10000);
    TRun run;
    for (const auto& f : fs::directory_iterator(archive.Path())) {
        const std::string name = f.path().filename();
        const char address = name.size() == 26 ? name[21] : '?';
        std::ifstream in(f.path());
        std::string time, value, unit;
        while (in >> time >> value >> unit) {
            const double t = std::stoi(time.substr(0, 2)) * 3600 +
                             std::stoi(time.substr(3, 2)) * 60 + std::stod(time.substr(6));
            run.times[address].push_back(t);
            run.values[address].push_back(value);
        }
    }
    return run;
}

double MedianInterval(const std::vector<double>& times) {
    std::vector<double> gaps;
    for (std::size_t i = 1; i < times.size(); ++i)
        gaps.push_back(times[i] - times[i - 1]);
    if (gaps.empty()) return 1e9;
    std::nth_element(gaps.begin(), gaps.begin() + gaps.size() / 2, gaps.end());
    return gaps[gaps.size() / 2];
}

double WorstMedian(const TRun& run, char skip = 0) {
    double worst = 0;
    for (const char* a = kAddresses; *a; ++a)
        if (*a != skip) {
            const auto it = run.times.find(*a);
            worst = std::max(worst, it == run.times.end() ? 1e9 : MedianInterval(it->second));
        }
    return worst;
}

std::unique_ptr<SimProcess> Line() {
    auto sim = std::make_unique<SimProcess>(
        std::vector<std::string>{"--com", "3", "--addresses", "0,1,2,3,4,5,6,7", "--wire"});
    sim->Command("hold");
    sim->Command("noise off");
    return sim;
}

void Figure(const char* name, double value, const char* unit) {
    std::printf("figure: %s %.3f %s\n", name, value, unit);
    std::fflush(stdout);
}

} // namespace

int main(int argc, char** argv) {
    QCoreApplication app(argc, argv);
    const int seconds = Seconds(30);
    {
        auto sim = Line();
        Figure("bus_rhythm_8_ratio", WorstMedian(Log(*sim, "0.5", seconds)) / 0.5, "ratio");
    }
    {
        auto sim = Line();
        sim->Command("@7 silent on");
        Figure("bus_rhythm_silent_ratio", WorstMedian(Log(*sim, "0.5", seconds), '7') / 0.5,
               "ratio");
    }
    {
        auto sim = Line();
        const TRun run = Log(*sim, "0.01", seconds);
        std::size_t readings = 0;
        double first = 1e9, last = 0;
        for (const auto& [address, times] : run.times) {
            readings += times.size();
            if (!times.empty()) first = std::min(first, times.front());
            if (!times.empty()) last = std::max(last, times.back());
        }
        const double limit = kBaud / (kBitsPerChar * (5 + 8) * 2); // readings per second
        Figure("bus_wire_ratio", last > first ? readings / (last - first) / limit : 0, "ratio");
    }
    {
        auto sim = Line();
        // Each gauge holds its own pressure: a reading of another's is a wrong value taken.
        for (int i = 0; i < 8; ++i) {
            char command[32];
            std::snprintf(command, sizeof command, "@%c pressure %de-3", kAddresses[i], i + 1);
            sim->Command(command);
        }
        const int length = Seconds(600);
        int lateReplies = 0;
        const TRun run = Log(*sim, "0.5", length, [&](int s) {
            if (s % 30 == 15) {
                sim->Command("@3 delay 2800 once");
                ++lateReplies;
            }
        });
        std::size_t wrong = 0;
        for (int i = 0; i < 8; ++i)
            for (const std::string& v : run.values.at(kAddresses[i]))
                wrong += std::abs(std::stod(v) / ((i + 1) * 1e-3) - 1) > 0.01;
        // The late gauge's readings against the steadiest other's over the same run.
        const double lost = static_cast<double>(run.times.at('2').size()) -
                            static_cast<double>(run.times.at('3').size());
        Figure("bus_resync_lost", lateReplies ? lost / lateReplies : 0, "readings/late reply");
        Figure("bus_resync_wrong", static_cast<double>(wrong), "readings");
    }
    return 0;
}
