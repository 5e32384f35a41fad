// The reader, writer and line-status threads of the dispatcher on Linux. Each waits in poll()
// on its descriptor and the stop eventfd, so that it costs nothing while idle and ends at once
// when asked; a hang-up, a zero-byte read or EIO is a lost device, reported once.
#include "SerialThreads.h"

#include "SerialCodes.h"
#include "SerialDevice.h"
#include "SerialDispatcher.h"

#include "MonotonicClock.h"

#include <cerrno>
#include <poll.h>
#include <string>
#include <sys/ioctl.h>
#include <unistd.h>
#include <vector>

namespace vg57 {

namespace {

bool IsGone(int err) {
    return err == EIO || err == ENODEV || err == ENXIO || err == EPIPE;
}

// poll() that retries on signals; returns the number of ready descriptors or -errno.
int PollAll(pollfd* fds, nfds_t n, int timeoutMs) {
    for (;;) {
        const int r = poll(fds, n, timeoutMs);
        if (r >= 0) return r;
        if (errno != EINTR) return -errno;
    }
}

} // namespace

class TSerialThread : public TDispatcherThread {
public:
    explicit TSerialThread(TSerialDispatcher& d) : TDispatcherThread(d), d_(d) {}

protected:
    TSerialDispatcher& d_;
};

// Reads whatever the driver holds, in chunks of at most 256 bytes, into the input queue.
class TReadThread : public TSerialThread {
public:
    using TSerialThread::TSerialThread;

protected:
    int Execute() override {
        const int fd = d_.fd_.load();
        pollfd fds[2] = {{fd, POLLIN, 0}, {d_.stopEvent_.Fd(), POLLIN, 0}};
        while (!d_.stopThreads_.load()) {
            const int r = PollAll(fds, 2, -1);
            if (r < 0) return Lost(-r, "poll");
            if (fds[1].revents) break;
            if (fds[0].revents & POLLNVAL) return 0;
            if (fds[0].revents & POLLIN) {
                if (int code = Drain(fd); code != 0) return code;
                continue;
            }
            if (fds[0].revents & (POLLHUP | POLLERR)) return Lost(EIO, "hang-up");
        }
        return 0;
    }

private:
    int Drain(int fd) {
        for (;;) {
            auto chunk = std::make_unique<TDataBuffer>();
            const ssize_t n = read(fd, chunk->data, TDataBuffer::kSize);
            if (n > 0) {
                chunk->used = static_cast<std::uint32_t>(n);
                // Stamped here, not when dispatched: a late reply must not look as new as the
                // request written while it waited in the queue.
                chunk->arrivedMs = platform::MonotonicMs();
                d_.lastArrivalMs_.store(chunk->arrivedMs);
                d_.inputQueue_.Append(std::move(chunk));
                continue;
            }
            if (n == 0) return Lost(EIO, "end of file"); // readable but empty: the device is gone
            if (errno == EAGAIN || errno == EINTR) return 0;
            if (errno == EBADF) return 0;
            return Lost(errno, "read");
        }
    }
    int Lost(int err, const char* what) {
        d_.RecordDeviceLoss(ecDeviceRead, err, std::string("Device read error (") + what + ")");
        return ecDeviceRead;
    }
};

// Takes everything queued in the output ring as one block and writes it out.
class TWriteThread : public TSerialThread {
public:
    using TSerialThread::TSerialThread;

protected:
    int Execute() override {
        const int fd = d_.fd_.load();
        pollfd fds[3] = {{d_.outputEvent_.Fd(), POLLIN, 0},
                         {d_.flushEvent_.Fd(), POLLIN, 0},
                         {d_.stopEvent_.Fd(), POLLIN, 0}};
        bool above = false;
        std::vector<std::uint8_t> block;
        while (!d_.stopThreads_.load()) {
            const int r = PollAll(fds, 3, -1);
            if (r < 0) return Lost(-r, "poll");
            if (fds[2].revents) break;
            if (fds[1].revents && d_.flushEvent_.Consume()) {
                d_.AckFlush();
                continue;
            }
            if (!(fds[0].revents && d_.outputEvent_.Consume())) continue;
            if (above != d_.writerAboveNormal_.load()) {
                above = !above;
                platform::SetCurrentThreadAboveNormal(above);
            }
            if (d_.TakeOutput(block) == 0) continue;
            if (int code = WriteBlock(fd, block); code != 0) return code > 0 ? 0 : code;
        }
        return 0;
    }

private:
    // 0 when written or abandoned by a flush, 1 when stopped, a negative code on a device error.
    int WriteBlock(int fd, const std::vector<std::uint8_t>& block) {
        const bool toggle = d_.userToggle_.load();
        if (toggle) platform::SetModemLine(fd, platform::kLineRts, true);
        std::size_t off = 0;
        while (off < block.size()) {
            const ssize_t n = write(fd, block.data() + off, block.size() - off);
            if (n > 0) {
                off += static_cast<std::size_t>(n);
                continue;
            }
            if (n < 0 && errno == EINTR) continue;
            if (n < 0 && errno == EBADF) return 1;
            if (n < 0 && errno != EAGAIN) return Lost(errno, "write");
            pollfd fds[3] = {{fd, POLLOUT, 0},
                             {d_.flushEvent_.Fd(), POLLIN, 0},
                             {d_.stopEvent_.Fd(), POLLIN, 0}};
            const int r = PollAll(fds, 3, -1);
            if (r < 0) return Lost(-r, "poll");
            if (fds[2].revents) return 1;
            if (fds[1].revents && d_.flushEvent_.Consume()) {
                d_.AckFlush(); // the rest of the block is abandoned
                break;
            }
            if (fds[0].revents & (POLLHUP | POLLERR)) return Lost(EIO, "hang-up");
        }
        if (toggle) {
            // Hold RTS until the last stop bit has left the shift register.
            platform::DrainOutput(fd);
            bool empty = false;
            for (int i = 0; i < 200 && platform::TransmitterEmpty(fd, empty) == 0 && !empty; ++i)
                usleep(100);
            platform::SetModemLine(fd, platform::kLineRts, false);
        }
        return 0;
    }
    int Lost(int err, const char* what) {
        d_.RecordDeviceLoss(ecDeviceWrite, err, std::string("Device write error (") + what + ")");
        return ecDeviceWrite;
    }
};

// Watches modem lines and line errors through the driver's counters (every transition is
// counted, so none is missed between two looks) and queues a status record for each change.
// Where the driver keeps no counters nor modem lines, it only waits to be stopped.
class TStatusThread : public TSerialThread {
public:
    using TSerialThread::TSerialThread;

protected:
    int Execute() override {
        const int fd = d_.fd_.load();
        platform::LineCounters last{};
        bool counters = platform::GetLineCounters(fd, last) == 0;
        int lines = 0;
        bool modem = !counters && platform::GetModemLines(fd, lines) == 0;
        pollfd stop{d_.stopEvent_.Fd(), POLLIN, 0};
        while (!d_.stopThreads_.load()) {
            const int r = PollAll(&stop, 1, (counters || modem) ? 100 : -1);
            if (r < 0) return Lost(-r);
            if (r > 0) break;
            std::uint32_t word = 0;
            if (counters) {
                platform::LineCounters now{};
                if (int err = platform::GetLineCounters(fd, now)) {
                    if (IsGone(err)) return Lost(err);
                    counters = false;
                    continue;
                }
                if (now.cts != last.cts) word |= evCts;
                if (now.dsr != last.dsr) word |= evDsr;
                if (now.dcd != last.dcd) word |= evRlsd;
                if (now.rng != last.rng) word |= evRing;
                if (now.brk != last.brk) word |= evBreak;
                if (now.frame != last.frame || now.overrun != last.overrun ||
                    now.parity != last.parity || now.bufOverrun != last.bufOverrun)
                    word |= evErr;
                last = now;
            } else if (modem) {
                int now = 0;
                if (int err = platform::GetModemLines(fd, now)) {
                    if (IsGone(err)) return Lost(err);
                    modem = false;
                    continue;
                }
                if ((now ^ lines) & TIOCM_CTS) word |= evCts;
                if ((now ^ lines) & TIOCM_DSR) word |= evDsr;
                if ((now ^ lines) & TIOCM_CAR) word |= evRlsd;
                if ((now ^ lines) & TIOCM_RNG) word |= evRing;
                lines = now;
            }
            if (word & evStatusMask) d_.inputQueue_.Append(std::make_unique<TStatusBuffer>(word));
        }
        return 0;
    }

private:
    int Lost(int err) {
        d_.RecordDeviceLoss(ecDeviceRead, err, "Device read error (line status)");
        return ecDeviceRead;
    }
};

std::unique_ptr<TDispatcherThread> MakeReadThread(TSerialDispatcher& d) {
    return std::make_unique<TReadThread>(d);
}
std::unique_ptr<TDispatcherThread> MakeWriteThread(TSerialDispatcher& d) {
    return std::make_unique<TWriteThread>(d);
}
std::unique_ptr<TDispatcherThread> MakeStatusThread(TSerialDispatcher& d) {
    return std::make_unique<TStatusThread>(d);
}

} // namespace vg57
