// What the serial benchmarks share: a responder child on a pseudo-terminal that answers every
// 5-byte request with an 8-byte reply at once, and the dispatcher's own round trip to a
// user-interface thread wait, the yardstick of every layer above it. The responder is a child
// process so that getrusage() counts only our threads.
#pragma once

#include "CrossThreadCall.h"
#include "SerialDispatcher.h"
#include "SerialMisc.h"

#include <QObject>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <poll.h>
#include <pty.h>
#include <string>
#include <sys/resource.h>
#include <unistd.h>
#include <vector>

namespace vg57::bench {

inline const char kRequest[] = "\x02"
                               "0S1\r";
inline const char kReply[] = "\x02"
                             "0S1203\r";

// Answers every 5 bytes with 8, at once, until the master is closed.
[[noreturn]] inline void Respond(int master) {
    char buf[256];
    std::size_t pending = 0;
    pollfd p{master, POLLIN, 0};
    for (;;) {
        if (poll(&p, 1, -1) < 0) continue;
        const ssize_t n = read(master, buf, sizeof buf);
        if (n <= 0) {
            if (n < 0 && errno == EAGAIN) continue;
            _exit(0);
        }
        pending += static_cast<std::size_t>(n);
        for (; pending >= 5; pending -= 5)
            if (write(master, kReply, 8) != 8) _exit(0);
    }
}

// A pseudo-terminal with the responder on its master side; `slave` stays open so that the
// line never hangs up between two clients.
struct ResponderPty {
    std::string path;
    int slave = -1;
    pid_t child = -1;
};

inline ResponderPty StartResponder() {
    int master = -1;
    ResponderPty r;
    char name[256] = {};
    if (openpty(&master, &r.slave, name, nullptr, nullptr) != 0) {
        std::perror("openpty");
        std::exit(1);
    }
    r.child = fork();
    if (r.child == 0) Respond(master);
    close(master);
    r.path = name;
    return r;
}

inline double Percentile(std::vector<double> v, double q) {
    std::sort(v.begin(), v.end());
    return v[static_cast<std::size_t>(q * static_cast<double>(v.size() - 1))];
}

inline std::int64_t CpuMicros() {
    rusage u{};
    getrusage(RUSAGE_SELF, &u);
    return (u.ru_utime.tv_sec + u.ru_stime.tv_sec) * 1000000LL + u.ru_utime.tv_usec +
           u.ru_stime.tv_usec;
}

// The path a command takes: QueueOutput, the dispatch thread hands the reply to this thread,
// which waits as a command wait does (one pass over events, else block until one arrives).
class UiPath {
public:
    explicit UiPath(const std::string& path) {
        if (int code = d_.OpenDevice(path, 9600, 1, 8, 1, 4096, 4096, loDTR); code != 0) {
            std::fprintf(stderr, "cannot open %s: %d\n", path.c_str(), code);
            std::exit(1);
        }
        d_.RegisterDataHandler(
            [this](int kind, std::uint32_t count, std::uint32_t) {
                if (kind != DataAvailable) return;
                std::string bytes(count, '\0');
                d_.ReadBlock(bytes.data(), count);
                collected_ += count;
                if (collected_ >= 8) {
                    collected_ -= 8;
                    platform::CallBlocking(
                        &ui_, [this] { answered_ = true; }, nullptr);
                }
            },
            this);
    }
    bool Exchange() {
        answered_ = false;
        d_.QueueOutput(kRequest, 5);
        TTickTimer t;
        StartTickTimer(t, 40);
        while (!answered_ && !TickTimerExpired(t))
            if (YieldOnce() == 0) WaitForEventOrExpiry(t);
        return answered_;
    }
    void Close() { d_.CloseDevice(); }

private:
    TSerialDispatcher d_;
    QObject ui_;
    std::uint32_t collected_ = 0; // dispatch thread only
    bool answered_ = false;       // user-interface thread only
};

} // namespace vg57::bench
