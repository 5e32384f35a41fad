// vg57-cli log as a service manager sees it: exit codes for what is wrong, and a stop by signal
// that ends a wait at once and leaves a whole archive.
#include "CliProcess.h"
#include "Loopback.h"
#include "SimProcess.h"
#include "TempDir.h"

#include <QElapsedTimer>

#include <gtest/gtest.h>

#include <csignal>
#include <filesystem>
#include <fstream>
#include <map>
#include <netinet/in.h>
#include <regex>
#include <sys/socket.h>
#include <thread>
#include <unistd.h>

using namespace vg57::test;
namespace fs = std::filesystem;

namespace {

// A TCP port on the loopback that someone else listens on.
struct TakenPort {
    int fd = socket(AF_INET, SOCK_STREAM, 0);
    int port = 0;
    TakenPort() {
        sockaddr_in a{};
        a.sin_family = AF_INET;
        a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        socklen_t size = sizeof a;
        bind(fd, reinterpret_cast<sockaddr*>(&a), size);
        listen(fd, 1);
        getsockname(fd, reinterpret_cast<sockaddr*>(&a), &size);
        port = ntohs(a.sin_port);
    }
    ~TakenPort() { close(fd); }
};

std::vector<std::string> ArchiveLines(const std::string& folder, bool* whole) {
    std::vector<std::string> lines;
    *whole = true;
    for (const auto& file : fs::directory_iterator(folder)) {
        std::ifstream in(file.path(), std::ios::binary);
        const std::string text((std::istreambuf_iterator<char>(in)), {});
        *whole = *whole && !text.empty() && text.ends_with("\r\n");
        for (std::size_t at = 0, end; (end = text.find("\r\n", at)) != std::string::npos;
             at = end + 2)
            lines.push_back(text.substr(at, end - at));
    }
    return lines;
}

// One scrape's body, by hand: the request, then everything until the server closes.
std::string Scrape(int port) {
    const int fd = ConnectLoopback(port);
    const std::string request = "GET /metrics HTTP/1.1\r\n\r\n";
    send(fd, request.data(), request.size(), MSG_NOSIGNAL);
    timeval limit{3, 0};
    setsockopt(fd, SOL_SOCKET, SO_RCVTIMEO, &limit, sizeof limit);
    std::string reply;
    char buf[4096];
    for (ssize_t n; (n = recv(fd, buf, sizeof buf, 0)) > 0;)
        reply.append(buf, static_cast<std::size_t>(n));
    close(fd);
    return reply;
}

long Counter(const std::string& body, const std::string& name) {
    const std::size_t at = body.find("\n" + name + " ");
    return at == std::string::npos ? -1 : std::stol(body.substr(at + name.size() + 2));
}

} // namespace

TEST(LogCommand, whatIsWrongDecidesTheExitCode) {
    TempDir home; // an empty port map: COM numbers map to nothing here
    TakenPort taken;
    const QString busy = QString("127.0.0.1:%1").arg(taken.port);
    const std::string env = home.Path() + "/chamber.env";
    std::ofstream(env) << "VG57_ARGS=\n";
    const QString missingEnv = "VG57_ENV_FILE=/etc/vg57/no-such-gauge.env";
    const QString emptyEnv = "VG57_ENV_FILE=" + QString::fromStdString(env);
    const struct {
        QStringList args;
        int exitCode;
        const char* says = "";
        QStringList environment = {};
    } rows[] = {
        {{"log"}, 2, "/etc/vg57/no-such-gauge.env", {missingEnv}},
        {{"log"}, 2, "VG57_ARGS", {emptyEnv}},
        {{"log", "--port", "COM3"}, 3, "COM3", {missingEnv}}, // options given: the file is moot
        {{"log", "--port", "COM3", "--metrics", "192.0.2.1:9101"}, 2, "192.0.2.1"},
        {{"log"}, 2},
        {{"log", "--port", "COM3", "--device", "/dev/ttyUSB0"}, 2},
        {{"log", "--port", "3"}, 2},
        {{"log", "--port", "COM3", "--baud", "fast"}, 2},
        {{"log", "--port", "COM3", "--parity", "odd-ish"}, 2},
        {{"log", "--port", "COM3", "--stop-bits", "3"}, 2},
        {{"log", "--port", "COM3", "--address", "G"}, 2},
        {{"log", "--port", "COM3", "--interval", "0.005"}, 2},
        {{"log", "--port", "COM3", "--rts-on-send", "up"}, 2, "--rts-on-send"},
        {{"log", "--port", "COM3", "--interval", "0,5"}, 2},
        {{"log", "--port", "COM3", "--metrics", "9101"}, 2},
        {{"log", "--port", "COM3", "--metrics-label", "system=a"}, 2},
        {{"log", "--port", "COM3", "--metrics", busy, "--metrics-label", "__x=a"}, 2},
        {{"log", "--port", "COM3", "--metrics", busy, "--metrics-label", "port=a"}, 2},
        {{"log", "--port", "COM3", "--no-such-option"}, 2},
        {{"log", "--port", "COM3", "stray"}, 2},
        {{"no-such-command"}, 2},
        {{"log", "--port", "COM3"}, 3, "COM3"},
        {{"log", "--device", "/nonexistent/ttyUSB9"}, 3, "/nonexistent/ttyUSB9"},
        {{"log", "--port", "COM3", "--metrics", busy}, 3, "Address already in use"},
        {{"log", "--port", "COM3", "--archive-dir", "/proc/vg57"}, 3, "/proc/vg57"},
        {{"log", "--port", "COM3", "--archive-dir", "/sys"}, 3, "/sys"}, // there, not writable
        {{"log", "--help"}, 0},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.args.join(' ').toStdString());
        CliProcess cli(row.args, home.Path(), row.environment);
        EXPECT_EQ(cli.WaitForExit(), row.exitCode);
        // A failure says why in one line, naming what failed.
        if (row.exitCode == 0) continue;
        EXPECT_EQ(std::count(cli.Stderr().begin(), cli.Stderr().end(), '\n'), 1) << cli.Stderr();
        EXPECT_NE(cli.Stderr().find(row.says), std::string::npos) << cli.Stderr();
    }
}

TEST(LogCommand, aStopSignalEndsAWaitWithinASecondAndTheArchiveIsWhole) {
    const struct {
        int signal;
        const char* fault; // what keeps the program inside a wait when the signal lands
        bool afterReadings;
    } rows[] = {
        {SIGTERM, "delay 1800", true}, // a reading's exchange
        {SIGINT, "delay 1800", true},
        {SIGTERM, "silent on", false}, // the first contact of the start
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(std::string(row.fault) + " signal " + std::to_string(row.signal));
        SimProcess sim({"--com", "3"});
        TempDir archive;
        if (!row.afterReadings) sim.Command(row.fault);
        CliProcess cli({"log", "--port", "COM3", "--interval", "0.05", "--rts-on-send", "low",
                        "--archive-dir", QString::fromStdString(archive.Path())},
                       sim.ConfigHome());
        if (row.afterReadings) {
            ASSERT_FALSE(cli.WaitForLine("архив: ").empty()) << cli.Stderr();
            // The start line tells which direction control is in force (none on a pty).
            EXPECT_NE(cli.Stderr().find("; направление RS-485 не переключается"), std::string::npos)
                << cli.Stderr();
            std::this_thread::sleep_for(std::chrono::milliseconds(300));
            sim.Command(row.fault);
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(300)); // well inside the wait
        QElapsedTimer clock;
        clock.start();
        ASSERT_EQ(kill(static_cast<pid_t>(cli.Pid()), row.signal), 0);
        EXPECT_EQ(cli.WaitForExit(3000), 0) << cli.Stderr();
        EXPECT_LT(clock.elapsed(), 1000);
        EXPECT_NE(cli.Stderr().find("измерение остановлено"), std::string::npos) << cli.Stderr();
        if (!row.afterReadings) continue;
        bool whole = false;
        const std::vector<std::string> lines = ArchiveLines(archive.Path(), &whole);
        EXPECT_TRUE(whole);
        EXPECT_GE(lines.size(), 3u);
        const std::regex form(R"(\d\d:\d\d:\d\d\.\d\d\d [0-9.E+-]+ 0001)");
        for (const std::string& line : lines)
            EXPECT_TRUE(std::regex_match(line, form)) << line;
    }
}

// Three gauges on one line: each its own archive named with its address, readable by export; a
// silent one does not stop the others.
TEST(LogCommand, severalGaugesOnOneLineEachKeepTheirArchive) {
    SimProcess sim({"--com", "3", "--addresses", "0,1,5", "--wire"});
    TempDir archive;
    CliProcess cli({"log", "--port", "COM3", "--address", "0,1", "--address", "5", "--interval",
                    "0.1", "--archive-dir", QString::fromStdString(archive.Path()), "--metrics",
                    "127.0.0.1:0"},
                   sim.ConfigHome());
    const std::string metrics = cli.WaitForLine("/metrics");
    ASSERT_FALSE(cli.WaitForLine("прибор 5: архив: ").empty()) << cli.Stderr();
    sim.Command("@5 silent on");
    ASSERT_FALSE(cli.WaitForLine("прибор 5: прибор не отвечает").empty()) << cli.Stderr();
    // Its second try (the next turn) costs one more time-out; then it is tried every 10 s. Once
    // the line has seen such a delay, the others' readings, late by its time-outs, never count
    // as stale, through the first retry.
    std::this_thread::sleep_for(std::chrono::seconds(3));
    const int port = std::stoi(metrics.substr(metrics.rfind(':') + 1));
    for (int i = 0; i < 50; ++i) {
        const std::string body = Scrape(port);
        for (const char* gauge :
             {"vg57_pressure_pascals{address=\"0\"}", "vg57_pressure_pascals{address=\"1\"}"})
            ASSERT_NE(body.find(gauge), std::string::npos) << i << " " << gauge;
        std::this_thread::sleep_for(std::chrono::milliseconds(200));
    }
    ASSERT_EQ(kill(static_cast<pid_t>(cli.Pid()), SIGTERM), 0);
    EXPECT_EQ(cli.WaitForExit(3000), 0) << cli.Stderr();
    std::map<char, int> lines;
    for (const auto& file : fs::directory_iterator(archive.Path())) {
        const std::string name = file.path().filename();
        ASSERT_TRUE(
            std::regex_match(name, std::regex(R"(\d{4}_\d\d_\d\d \d\d_\d\d_\d\d a[015]\.txt)")))
            << name;
        std::ifstream in(file.path());
        lines[name[21]] =
            static_cast<int>(std::count(std::istreambuf_iterator<char>(in), {}, '\n'));
        CliProcess csv({"export", QString::fromStdString(file.path().string()), "--csv",
                        QString::fromStdString(archive.Path() + "/out.csv")},
                       sim.ConfigHome());
        EXPECT_EQ(csv.WaitForExit(), 0) << name << csv.Stderr();
        fs::remove(archive.Path() + "/out.csv");
    }
    // At 0.1 s, about 4 s of the 6 free of the silent gauge's time-outs.
    EXPECT_GE(lines['0'], 20);
    EXPECT_GE(lines['1'], 20);
    EXPECT_GE(lines['5'], 1);
}

TEST(LogCommand, hangUpReopensTheArchiveAndNeitherAClosedStderrNorSlowClientsHoldTheStop) {
    for (const bool stderrClosed : {false, true}) {
        SCOPED_TRACE(stderrClosed ? "stderr closed" : "stderr read");
        SimProcess sim({"--com", "3"});
        TempDir archive;
        CliProcess cli({"log", "--port", "COM3", "--interval", "0.05", "--archive-dir",
                        QString::fromStdString(archive.Path()), "--metrics", "127.0.0.1:0"},
                       sim.ConfigHome());
        const std::string line = cli.WaitForLine("/metrics");
        ASSERT_FALSE(cli.WaitForLine("архив: ").empty()) << cli.Stderr();
        const int port = std::stoi(line.substr(line.rfind(':') + 1));
        // Rotation: the file is moved away, then the logger told.
        const fs::path file = fs::directory_iterator(archive.Path())->path();
        fs::rename(file, file.string() + ".1");
        if (stderrClosed) cli.CloseStderr();
        ASSERT_EQ(kill(static_cast<pid_t>(cli.Pid()), SIGHUP), 0);
        if (!stderrClosed) {
            EXPECT_FALSE(cli.WaitForLine("открыт заново").empty()) << cli.Stderr();
        }
        // With stderr closed nothing tells when: the next line opens the new file, however
        // late a loaded machine runs it.
        for (int i = 0; i < 100 && !(fs::exists(file) && fs::file_size(file) > 0); ++i)
            std::this_thread::sleep_for(std::chrono::milliseconds(50));
        ASSERT_TRUE(fs::exists(file)) << "no new file of the same name";
        EXPECT_GT(fs::file_size(file), 0u);

        // Clients inside their requests, trickling, when the stop comes.
        std::vector<int> slow;
        for (int i = 0; i < 4; ++i) {
            slow.push_back(ConnectLoopback(port));
            ASSERT_GT(send(slow.back(), "GET /metrics HTTP/1.1\r\n", 23, 0), 0);
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(100));
        QElapsedTimer clock;
        clock.start();
        ASSERT_EQ(kill(static_cast<pid_t>(cli.Pid()), SIGTERM), 0);
        EXPECT_EQ(cli.WaitForExit(3000), 0) << cli.Stderr();
        EXPECT_LT(clock.elapsed(), 1000);
        for (int fd : slow)
            close(fd);
    }
}

TEST(LogCommand, metricsFollowTheLineAsItIsAndTheAdapterWhileItIsGone) {
    SimProcess sim({"--com", "3"});
    sim.Command("delay 100"); // two exchanges a reading: one every 0.2 s at best
    TempDir archive;
    const std::string device = sim.LinkPath(3);
    CliProcess cli({"log", "--device", QString::fromStdString(device), "--interval", "0.01",
                    "--archive-dir", QString::fromStdString(archive.Path()), "--metrics",
                    "127.0.0.1:0"},
                   sim.ConfigHome());
    const std::string line = cli.WaitForLine("/metrics");
    ASSERT_FALSE(line.empty()) << cli.Stderr();
    const int port = std::stoi(line.substr(line.rfind(':') + 1));
    EXPECT_FALSE(cli.WaitForLine("the line allows about 34 readings per second").empty())
        << cli.Stderr();
    ASSERT_FALSE(cli.WaitForLine("архив: ").empty()) << cli.Stderr();

    // Every reading is current until the next one is due on this line.
    int withPressure = 0;
    std::string body;
    for (int i = 0; i < 20; ++i, std::this_thread::sleep_for(std::chrono::milliseconds(70))) {
        body = Scrape(port);
        withPressure += body.find("\nvg57_pressure_pascals ") != std::string::npos;
    }
    // Against the configured 0.01 s only about one scrape in seven would see it; a stall of
    // this busy machine may cost one or two.
    EXPECT_GE(withPressure, 18);
    EXPECT_NE(body.find("port=\"" + device + "\""), std::string::npos) << body;

    // The ticks while the adapter is away are readings not given.
    sim.Command("unplug");
    ASSERT_FALSE(cli.WaitForLine("отключён").empty()) << cli.Stderr();
    const long before = Counter(Scrape(port), "vg57_read_failures_total");
    std::this_thread::sleep_for(std::chrono::milliseconds(3000)); // past the exchange's time-out
    body = Scrape(port);
    EXPECT_GT(Counter(body, "vg57_read_failures_total"), before + 5) << body;
    EXPECT_NE(body.find("\nvg57_adapter_present 0"), std::string::npos) << body;
    EXPECT_EQ(body.find("\nvg57_pressure_pascals "), std::string::npos) << body;
}

TEST(LogCommand, anArchiveThatCantBeWrittenIsSaidOnceAndItsRecoveryOnce) {
    SimProcess sim({"--com", "3"});
    TempDir work;
    const std::string folder = work.Path() + "/archive";
    CliProcess cli({"log", "--port", "COM3", "--interval", "0.05", "--archive-dir",
                    QString::fromStdString(folder)},
                   sim.ConfigHome());
    ASSERT_FALSE(cli.WaitForLine("архив: ").empty()) << cli.Stderr();
    // A file where the folder was: it can't be made again, and every file tried from now on is
    // new and fails the same way.
    fs::remove_all(folder);
    std::ofstream(folder).put('x');
    ASSERT_FALSE(cli.WaitForLine("Не удаётся записать архив").empty()) << cli.Stderr();
    std::this_thread::sleep_for(std::chrono::milliseconds(2500));
    fs::remove(folder);
    fs::create_directories(folder);
    ASSERT_FALSE(cli.WaitForLine("архив снова пишется").empty()) << cli.Stderr();
    ASSERT_EQ(kill(static_cast<pid_t>(cli.Pid()), SIGTERM), 0);
    EXPECT_EQ(cli.WaitForExit(), 0);
    std::size_t said = 0;
    for (std::size_t at = 0;
         (at = cli.Stderr().find("Не удаётся записать", at)) != std::string::npos; ++at)
        ++said;
    EXPECT_EQ(said, 1u) << cli.Stderr();
}
