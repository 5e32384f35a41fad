#include "Pty.h"

#include <chrono>
#include <fcntl.h>
#include <poll.h>
#include <pty.h>
#include <stdexcept>
#include <sys/resource.h>
#include <unistd.h>

namespace vg57::test {

PtyPair::PtyPair() {
    int slaveFd = -1;
    char name[256] = {};
    if (openpty(&master_, &slaveFd, name, nullptr, nullptr) != 0)
        throw std::runtime_error("openpty failed");
    slave_ = name;
    // The code under test opens the slave itself; keeping ours open would change hang-ups.
    close(slaveFd);
    fcntl(master_, F_SETFL, fcntl(master_, F_GETFL) | O_NONBLOCK);
}

PtyPair::~PtyPair() {
    CloseMaster();
}

void PtyPair::CloseMaster() {
    if (master_ >= 0) close(master_);
    master_ = -1;
}

void PtyPair::Write(const std::string& bytes) {
    std::size_t off = 0;
    while (off < bytes.size()) {
        const ssize_t n = write(master_, bytes.data() + off, bytes.size() - off);
        if (n > 0) {
            off += static_cast<std::size_t>(n);
            continue;
        }
        pollfd p{master_, POLLOUT, 0};
        if (poll(&p, 1, 2000) <= 0) throw std::runtime_error("pty master not writable");
    }
}

void PtyPair::Write(const std::vector<std::uint8_t>& bytes) {
    Write(std::string(bytes.begin(), bytes.end()));
}

std::string PtyPair::Read(int timeoutMs, std::size_t want) {
    std::string out;
    const auto end = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
    for (;;) {
        char buf[4096];
        const ssize_t n = read(master_, buf, sizeof buf);
        if (n > 0) {
            out.append(buf, static_cast<std::size_t>(n));
            if (want && out.size() >= want) return out;
            continue;
        }
        const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
                              end - std::chrono::steady_clock::now())
                              .count();
        if (left <= 0) return out;
        pollfd p{master_, POLLIN, 0};
        poll(&p, 1, static_cast<int>(left));
    }
}

std::int64_t ProcessCpuMicros() {
    rusage u{};
    getrusage(RUSAGE_SELF, &u);
    return (u.ru_utime.tv_sec + u.ru_stime.tv_sec) * 1000000LL + u.ru_utime.tv_usec +
           u.ru_stime.tv_usec;
}

} // namespace vg57::test
