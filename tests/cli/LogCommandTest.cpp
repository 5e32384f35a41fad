// vg57-cli log as a service manager sees it: exit codes for what is wrong, and a stop by signal
// that ends a wait at once and leaves a whole archive.
#include "CliProcess.h"
#include "SimProcess.h"
#include "TempDir.h"

#include <QElapsedTimer>

#include <gtest/gtest.h>

#include <csignal>
#include <filesystem>
#include <fstream>
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

} // namespace

TEST(LogCommand, whatIsWrongDecidesTheExitCode) {
    TempDir home; // an empty port map: COM numbers map to nothing here
    TakenPort taken;
    const QString busy = QString("127.0.0.1:%1").arg(taken.port);
    const struct {
        QStringList args;
        int exitCode;
        const char* says = "";
    } rows[] = {
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
        {{"log", "--help"}, 0},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.args.join(' ').toStdString());
        CliProcess cli(row.args, home.Path());
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
            EXPECT_NE(cli.Stderr().find("; направление RS-485 не переключается"),
                      std::string::npos)
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
