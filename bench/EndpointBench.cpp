// The metrics endpoint of vg57-cli log under clients that misbehave, against the simulator, all
// on 127.0.0.1 and bounded in count and time: scrape latency while 64 clients trickle headers,
// the adapter's return while 2000 idle connections are held, SIGTERM while clients trickle, and
// the memory a 150 MiB POST costs.
#include "SimProcess.h"
#include "SoakRss.h"
#include "TempDir.h"

#include <algorithm>
#include <atomic>
#include <chrono>
#include <csignal>
#include <cstdio>
#include <filesystem>
#include <netinet/in.h>
#include <optional>
#include <poll.h>
#include <spawn.h>
#include <string>
#include <sys/resource.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>
#include <vector>

using namespace vg57;
using namespace std::chrono_literals;
namespace fs = std::filesystem;
using Clock = std::chrono::steady_clock;

extern char** environ;

namespace {

double Ms(Clock::duration d) {
    return std::chrono::duration<double, std::milli>(d).count();
}

[[noreturn]] void Fail(const std::string& why) {
    std::fprintf(stderr, "bench_endpoint: %s\n", why.c_str());
    std::exit(1);
}

// vg57-cli log as a child, its stderr read through a pipe.
class Cli {
public:
    Cli(const std::string& device, const std::string& archive, const std::string& configHome) {
        int fds[2];
        if (pipe(fds) != 0) Fail("pipe");
        posix_spawn_file_actions_t actions;
        posix_spawn_file_actions_init(&actions);
        posix_spawn_file_actions_adddup2(&actions, fds[1], 2);
        posix_spawn_file_actions_addclose(&actions, fds[0]);
        setenv("XDG_CONFIG_HOME", configHome.c_str(), 1);
        std::vector<std::string> args = {VG57_CLI_PATH, "log",        "--device",      device,
                                         "--interval",  "0.1",        "--archive-dir", archive,
                                         "--metrics",   "127.0.0.1:0"};
        std::vector<char*> argv;
        for (std::string& a : args)
            argv.push_back(a.data());
        argv.push_back(nullptr);
        if (posix_spawn(&pid_, VG57_CLI_PATH, &actions, nullptr, argv.data(), environ) != 0)
            Fail("vg57-cli did not start");
        posix_spawn_file_actions_destroy(&actions);
        close(fds[1]);
        err_ = fds[0];
    }
    ~Cli() {
        if (pid_ > 0) {
            kill(pid_, SIGKILL);
            waitpid(pid_, nullptr, 0);
        }
        close(err_);
    }
    // The stderr line holding `part`, waiting at most `limit`.
    std::string WaitForLine(const std::string& part, Clock::duration limit = 10s) {
        for (const auto end = Clock::now() + limit; Clock::now() < end;) {
            for (std::size_t at = 0, nl; (nl = text_.find('\n', at)) != std::string::npos;
                 at = nl + 1)
                if (text_.substr(at, nl - at).find(part) != std::string::npos)
                    return text_.substr(at, nl - at);
            pollfd p{err_, POLLIN, 0};
            char buf[4096];
            if (poll(&p, 1, 100) > 0) {
                const ssize_t n = read(err_, buf, sizeof buf);
                if (n <= 0) break;
                text_.append(buf, static_cast<std::size_t>(n));
            }
        }
        return {};
    }
    // Sends SIGTERM and waits for the exit; the time it took.
    Clock::duration Terminate() {
        const auto t0 = Clock::now();
        kill(pid_, SIGTERM);
        for (int status = 0; Clock::now() - t0 < 10s; std::this_thread::sleep_for(1ms))
            if (waitpid(pid_, &status, WNOHANG) == pid_) {
                pid_ = -1;
                return Clock::now() - t0;
            }
        Fail("vg57-cli did not end within 10 s of SIGTERM");
    }
    std::string Pid() const { return std::to_string(pid_); }

private:
    pid_t pid_ = -1;
    int err_ = -1;
    std::string text_;
};

int ConnectTo(int port, bool wait) {
    const int fd = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC | (wait ? 0 : SOCK_NONBLOCK), 0);
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    a.sin_port = htons(static_cast<uint16_t>(port));
    connect(fd, reinterpret_cast<sockaddr*>(&a), sizeof a);
    return fd;
}

// One whole scrape; its duration, or nothing when it did not answer 200.
std::optional<Clock::duration> Scrape(int port) {
    const auto t0 = Clock::now();
    const int fd = ConnectTo(port, true);
    timeval limit{5, 0};
    setsockopt(fd, SOL_SOCKET, SO_RCVTIMEO, &limit, sizeof limit);
    const std::string request = "GET /metrics HTTP/1.1\r\nHost: bench\r\n\r\n";
    send(fd, request.data(), request.size(), MSG_NOSIGNAL);
    std::string reply;
    char buf[8192];
    for (ssize_t n; (n = recv(fd, buf, sizeof buf, 0)) > 0;)
        reply.append(buf, static_cast<std::size_t>(n));
    close(fd);
    if (!reply.starts_with("HTTP/1.1 200") || reply.find("vg57_measuring") == std::string::npos)
        return std::nullopt;
    return Clock::now() - t0;
}

// Clients that keep `count` connections open until `stop`: silent, or sending a request's
// headers a line every 0.5 s. A connection the server ends is opened again.
void HoldConnections(int port, int count, bool trickle, const std::atomic<bool>& stop) {
    struct Held {
        int fd;
        Clock::time_point next;
        bool started = false; // the request line is sent
    };
    std::vector<Held> held;
    for (int i = 0; i < count; ++i)
        held.push_back({ConnectTo(port, false), Clock::now()});
    while (!stop) {
        std::vector<pollfd> polls;
        for (const Held& h : held)
            polls.push_back({h.fd, POLLIN | POLLRDHUP, 0});
        poll(polls.data(), polls.size(), 20);
        for (std::size_t i = 0; i < held.size(); ++i) {
            Held& h = held[i];
            char buf[512];
            if ((polls[i].revents & (POLLIN | POLLRDHUP | POLLHUP | POLLERR)) &&
                recv(h.fd, buf, sizeof buf, MSG_DONTWAIT) <= 0) {
                close(h.fd);
                h = {ConnectTo(port, false), Clock::now()};
            } else if (trickle && Clock::now() >= h.next) {
                const std::string line = h.started ? "X-Slow: 1\r\n" : "GET /metrics HTTP/1.1\r\n";
                send(h.fd, line.data(), line.size(), MSG_NOSIGNAL | MSG_DONTWAIT);
                h.started = true;
                h.next = Clock::now() + 500ms;
            }
        }
    }
    for (const Held& h : held)
        close(h.fd);
}

std::uintmax_t ArchiveBytes(const std::string& folder) {
    std::uintmax_t total = 0;
    for (const auto& f : fs::directory_iterator(folder))
        total += f.file_size();
    return total;
}

} // namespace

int main() {
    // Room for the clients' side of 2000 connections (the logger keeps its own limit).
    rlimit limit{};
    getrlimit(RLIMIT_NOFILE, &limit);
    limit.rlim_cur = std::min<rlim_t>(limit.rlim_max, 8192);
    setrlimit(RLIMIT_NOFILE, &limit);
    std::signal(SIGPIPE, SIG_IGN);

    test::TempDir work;
    test::SimProcess sim({"--com", "3"});
    const std::string archive = work.Path() + "/archive";
    Cli cli(sim.LinkPath(3), archive, sim.ConfigHome());
    const std::string line = cli.WaitForLine("/metrics");
    if (line.empty() || cli.WaitForLine("архив: ").empty()) Fail("vg57-cli did not start");
    const int port = std::stoi(line.substr(line.rfind(':') + 1));

    // A 150 MiB POST, sent as fast as the endpoint takes it.
    std::this_thread::sleep_for(1s);
    const double rss0 = bench::RssMiB(cli.Pid());
    {
        const int fd = ConnectTo(port, true);
        const std::string head = "POST /metrics HTTP/1.1\r\nContent-Length: 157286400\r\n\r\n";
        send(fd, head.data(), head.size(), MSG_NOSIGNAL);
        const std::string chunk(1 << 20, 'x');
        timeval t{2, 0};
        setsockopt(fd, SOL_SOCKET, SO_SNDTIMEO, &t, sizeof t);
        for (int i = 0; i < 150 && send(fd, chunk.data(), chunk.size(), MSG_NOSIGNAL) > 0; ++i) {
        }
        close(fd);
    }
    std::this_thread::sleep_for(500ms);
    std::printf("figure: endpoint_rss_growth_mib_after_big_post %.1f MiB\n",
                bench::RssMiB(cli.Pid()) - rss0);

    // The adapter pulled and plugged back while 2000 idle connections are held.
    {
        std::atomic<bool> stop{false};
        std::thread idle([&] { HoldConnections(port, 2000, false, stop); });
        std::this_thread::sleep_for(2s);
        sim.Command("unplug");
        if (cli.WaitForLine("отключён").empty()) Fail("the unplug was not noticed");
        std::this_thread::sleep_for(1500ms);
        const std::uintmax_t before = ArchiveBytes(archive);
        const auto t0 = Clock::now();
        sim.Command("replug");
        while (ArchiveBytes(archive) == before && Clock::now() - t0 < 60s)
            std::this_thread::sleep_for(5ms);
        std::printf("figure: endpoint_reopen_s_under_idle_connections %.2f s\n",
                    Ms(Clock::now() - t0) / 1000);
        stop = true;
        idle.join();
    }

    // 200 scrapes one after another while 64 clients trickle their headers; then SIGTERM.
    std::atomic<bool> stop{false};
    std::thread slow([&] { HoldConnections(port, 64, true, stop); });
    std::this_thread::sleep_for(2s);
    std::vector<double> ms;
    int failed = 0;
    for (int i = 0; i < 200; ++i) {
        if (const auto d = Scrape(port))
            ms.push_back(Ms(*d));
        else
            ++failed;
    }
    std::sort(ms.begin(), ms.end());
    std::printf("figure: endpoint_scrape_p99_ms_under_slow_clients %.1f ms\n",
                ms.empty() ? 1e9 : ms[std::min(ms.size() - 1, ms.size() * 99 / 100)]);
    std::printf("figure: endpoint_scrapes_failed_under_slow_clients %d count\n", failed);
    std::printf("figure: endpoint_sigterm_ms_under_slow_clients %.0f ms\n", Ms(cli.Terminate()));
    stop = true;
    slow.join();
    return 0;
}
