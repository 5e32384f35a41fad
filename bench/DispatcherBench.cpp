// Round trip of a 5-byte request and an 8-byte reply through the dispatcher to a user-interface
// thread wait, against a bare poll() client on the same pseudo-terminal; then the CPU cost of
// polling the gauge twice every 0.5 s for 30 s. The responder runs in a child process so that
// getrusage() counts only our threads.
#include "EventLoop.h"
#include "MonotonicClock.h"
#include "Numbers.h"
#include "PtyRoundTrip.h"

#include <QCoreApplication>
#include <QTimer>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <fcntl.h>
#include <poll.h>
#include <pty.h>
#include <signal.h>
#include <sys/eventfd.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <termios.h>
#include <thread>
#include <unistd.h>
#include <vector>

using namespace vg57;
using namespace vg57::bench;
using Clock = std::chrono::steady_clock;

namespace {

constexpr int kExchanges = 2000;

double BareRoundTrip(int fd) {
    const auto start = Clock::now();
    if (write(fd, kRequest, 5) != 5) return -1;
    std::size_t got = 0;
    char buf[64];
    pollfd p{fd, POLLIN, 0};
    while (got < 8) {
        poll(&p, 1, 2000);
        const ssize_t n = read(fd, buf, sizeof buf);
        if (n > 0) got += static_cast<std::size_t>(n);
    }
    return std::chrono::duration<double, std::micro>(Clock::now() - start).count();
}

// The least any design with separate writer and reader threads can do: the waiting thread
// wakes a writer thread, a reader thread wakes the waiting thread when the reply is in; plain
// eventfds, no queue, no framing, no event loop.
std::vector<double> ThreadedFloor(const std::string& path, int exchanges) {
    const int fd = open(path.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK);
    termios t{};
    tcgetattr(fd, &t);
    cfmakeraw(&t);
    tcsetattr(fd, TCSANOW, &t);
    const int go = eventfd(0, 0), done = eventfd(0, 0), quit = eventfd(0, 0);
    std::thread writer([&] {
        for (;;) {
            pollfd p[2] = {{go, POLLIN, 0}, {quit, POLLIN, 0}};
            poll(p, 2, -1);
            if (p[1].revents) return;
            std::uint64_t v;
            if (read(go, &v, 8) == 8 && write(fd, kRequest, 5) != 5) return;
        }
    });
    std::thread reader([&] {
        std::size_t got = 0;
        char buf[64];
        for (;;) {
            pollfd p[2] = {{fd, POLLIN, 0}, {quit, POLLIN, 0}};
            poll(p, 2, -1);
            if (p[1].revents) return;
            const ssize_t n = read(fd, buf, sizeof buf);
            if (n > 0 && (got += static_cast<std::size_t>(n)) >= 8) {
                got -= 8;
                const std::uint64_t one = 1;
                if (write(done, &one, 8) != 8) return;
            }
        }
    });
    std::vector<double> times;
    for (int i = 0; i < exchanges + 50; ++i) {
        const auto start = Clock::now();
        std::uint64_t v = 1;
        if (write(go, &v, 8) != 8) break;
        pollfd p{done, POLLIN, 0};
        poll(&p, 1, 2000);
        if (read(done, &v, 8) != 8) break;
        if (i >= 50)
            times.push_back(
                std::chrono::duration<double, std::micro>(Clock::now() - start).count());
    }
    const std::uint64_t one = 1;
    if (write(quit, &one, 8) != 8) std::abort();
    writer.join();
    reader.join();
    for (int f : {go, done, quit, fd})
        close(f);
    return times;
}

} // namespace

int main(int argc, char** argv) {
    const ResponderPty responder = StartResponder();
    const int slave = responder.slave;
    const pid_t child = responder.child;

    QCoreApplication app(argc, argv);
    // The application object took the regional number format: figures are printed with '.'.
    vg57::platform::UseCNumbers();
    platform::InstallEventWatch();
    const std::string& path = responder.path;
    int pollSeconds = 30;
    if (const char* s = std::getenv("VG57_BENCH_POLL_SECONDS")) pollSeconds = std::atoi(s);

    // (a) through the dispatcher to a UI-thread wait.
    std::vector<double> ui;
    {
        UiPath p(path);
        for (int i = 0; i < 50; ++i)
            p.Exchange(); // warm-up
        for (int i = 0; i < kExchanges; ++i) {
            const auto start = Clock::now();
            if (!p.Exchange()) {
                std::fprintf(stderr, "exchange %d timed out\n", i);
                return 1;
            }
            ui.push_back(std::chrono::duration<double, std::micro>(Clock::now() - start).count());
        }
        p.Close();
    }
    // (b) a bare poll() client on the same pseudo-terminal.
    std::vector<double> bare;
    {
        const int fd = open(path.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK);
        termios t{};
        tcgetattr(fd, &t);
        cfmakeraw(&t);
        tcsetattr(fd, TCSANOW, &t);
        for (int i = 0; i < 50; ++i)
            BareRoundTrip(fd);
        for (int i = 0; i < kExchanges; ++i)
            bare.push_back(BareRoundTrip(fd));
        close(fd);
    }
    // (c) the floor of any design with separate writer and reader threads.
    const std::vector<double> floor = ThreadedFloor(path, kExchanges);
    const double uiMedian = Percentile(ui, 0.5), bareMedian = Percentile(bare, 0.5);
    const double floorMedian = Percentile(floor, 0.5);
    std::printf("dispatcher path: median %.1f us, p99 %.1f us\n", uiMedian, Percentile(ui, 0.99));
    std::printf("bare poll():     median %.1f us, p99 %.1f us\n", bareMedian,
                Percentile(bare, 0.99));
    std::printf("figure: dispatcher_roundtrip_median_us %.1f us\n", uiMedian);
    std::printf("figure: dispatcher_roundtrip_p99_us %.1f us\n", Percentile(ui, 0.99));
    std::printf("figure: bare_roundtrip_median_us %.1f us\n", bareMedian);
    std::printf("two-thread floor: median %.1f us, p99 %.1f us\n", floorMedian,
                Percentile(floor, 0.99));
    std::printf("figure: dispatcher_roundtrip_ratio %.2f x\n", uiMedian / bareMedian);
    std::printf("figure: threaded_floor_roundtrip_ratio %.2f x\n", floorMedian / bareMedian);
    std::printf("figure: dispatcher_to_threaded_floor_ratio %.2f x\n", uiMedian / floorMedian);

    // Polling as the program does: two exchanges every 0.5 s.
    {
        UiPath p(path);
        int failures = 0;
        QTimer tick;
        tick.setTimerType(Qt::PreciseTimer);
        QObject::connect(&tick, &QTimer::timeout, [&] {
            if (!p.Exchange()) ++failures;
            if (!p.Exchange()) ++failures;
        });
        const auto cpu0 = CpuMicros();
        const auto t0 = Clock::now();
        tick.start(500);
        QTimer::singleShot(pollSeconds * 1000, &app, &QCoreApplication::quit);
        app.exec();
        tick.stop();
        const double wall = std::chrono::duration<double, std::micro>(Clock::now() - t0).count();
        const double cpu = 100.0 * static_cast<double>(CpuMicros() - cpu0) / wall;
        p.Close();
        std::printf("polling %d s: %d failed exchanges\n", pollSeconds, failures);
        std::printf("figure: dispatcher_polling_cpu %.3f %%\n", cpu);
    }
    close(slave);
    close(slave);
    kill(child, SIGTERM);
    waitpid(child, nullptr, 0);
    return 0;
}
