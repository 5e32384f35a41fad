// The reader, writer and line-status threads of the dispatcher on Linux. Each waits in poll()
// on its descriptor and the stop eventfd, so that it costs nothing while idle and ends at once
// when asked; a hang-up, a zero-byte read or EIO is a lost device, reported once.
#include "SerialThreads.h"

#include "SerialCodes.h"
#include "SerialDevice.h"
#include "SerialDispatcher.h"

#include "MonotonicClock.h"

#include <algorithm>
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
        if (toggle) d_.SwitchRts(fd, true);
        // The computed end of the last stop bit: each chunk starts once the line is free.
        const std::int64_t charNs = d_.charNs_.load();
        std::int64_t endNs = 0;
        std::size_t off = 0;
        bool abandoned = false;
        int result = 0;
        while (off < block.size()) {
            std::size_t n = 0;
            const int err = platform::WriteDevice(fd, block.data() + off, block.size() - off, n);
            if (err == 0 && n > 0) {
                off += n;
                endNs = std::max(endNs, platform::MonotonicNs()) +
                        static_cast<std::int64_t>(n) * charNs;
                continue;
            }
            if (err == EBADF) return 1;
            if (err != 0 && err != EAGAIN) {
                result = Lost(err, "write");
                break;
            }
            pollfd fds[3] = {{fd, POLLOUT, 0},
                             {d_.flushEvent_.Fd(), POLLIN, 0},
                             {d_.stopEvent_.Fd(), POLLIN, 0}};
            const int r = PollAll(fds, 3, -1);
            if (r < 0) {
                result = Lost(-r, "poll");
                break;
            }
            if (fds[2].revents) {
                result = 1;
                break;
            }
            if (fds[1].revents && d_.flushEvent_.Consume()) {
                d_.AckFlush(); // the rest of the block is abandoned
                abandoned = true;
                break;
            }
            if (fds[0].revents & (POLLHUP | POLLERR)) {
                result = Lost(EIO, "hang-up");
                break;
            }
        }
        if (toggle) {
            if (off > 0 && !abandoned && result == 0)
                HoldUntilSent(fd, endNs, static_cast<std::int64_t>(off) * charNs);
            d_.SwitchRts(fd, false);
        }
        return result;
    }

    // Holds RTS until the last stop bit has left, as well as the driver can tell: the
    // transmitter-empty bit looked at from the write on, in sleeps that shrink as the computed end
    // nears, and bounded by it. An "empty" before the driver ever said "busy" may be older than
    // our write (an adapter's last status): it counts only from the computed end on. Where the
    // driver can't tell, no sooner than the computed end nor than its drain. A stop or a flush
    // ends the wait at once.
    void HoldUntilSent(int fd, std::int64_t endNs, std::int64_t spanNs) {
        if (!d_.lsrRefused_.load()) {
            const std::int64_t deadline = endNs + HoldMarginNs(spanNs);
            bool sawBusy = false;
            for (;;) {
                bool empty = false;
                if (int err = platform::TransmitterEmpty(fd, empty)) {
                    d_.lsrRefused_.store(true);
                    d_.Notice(TLineNotice::NoEmptyReport, err);
                    break;
                }
                const std::int64_t now = platform::MonotonicNs();
                if (empty && (sawBusy || now >= endNs)) return;
                sawBusy = sawBusy || !empty;
                if (now >= deadline) {
                    d_.Notice(TLineNotice::NotEmptyInTime, 0);
                    return;
                }
                if (!Nap(std::min(PollStepNs(endNs - now), deadline - now))) return;
            }
        }
        if (int err = platform::DrainOutput(fd)) d_.Notice(TLineNotice::Drain, err);
        const std::int64_t rest = endNs - platform::MonotonicNs();
        if (rest > 0) Nap(rest);
    }

    // Sleeps ns without spinning; false when a stop or a flush came meanwhile (left for the loop).
    bool Nap(std::int64_t ns) {
        pollfd fds[2] = {{d_.flushEvent_.Fd(), POLLIN, 0}, {d_.stopEvent_.Fd(), POLLIN, 0}};
        const timespec wait{static_cast<time_t>(ns / 1000000000),
                            static_cast<long>(ns % 1000000000)};
        int r;
        do
            r = ppoll(fds, 2, &wait, nullptr);
        while (r < 0 && errno == EINTR);
        return r == 0;
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
