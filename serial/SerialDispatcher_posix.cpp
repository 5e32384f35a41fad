// Device half of the dispatcher on Linux: termios2, modem-control ioctls, RS-485 direction, and
// the reader, writer and line-status threads, each blocked in poll() on its descriptor and the
// stop eventfd so that it costs nothing while idle and ends at once when asked.
#include "SerialDispatcher.h"

#include "CrossThreadCall.h"
#include "MonotonicClock.h"
#include "SerialCodes.h"

#include <cerrno>
#include <poll.h>
#include <stdexcept>
#include <sys/ioctl.h>
#include <unistd.h>

namespace vg57 {

namespace {

int MapOpenError(int err) {
    switch (err) {
    case ENOENT:
        return ecNotFound;
    case ENXIO:
    case ENODEV:
    case ENOTTY:
        return ecNotFoundAlt;
    case EBUSY:
        return ecAccessDenied;
    case EACCES:
    case EPERM:
        return ecPermissionDenied;
    default:
        return -err;
    }
}

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

// ---- worker threads ----

class TSerialThread : public TDispatcherThread {
public:
    TSerialThread(TSerialDispatcher& d) : TDispatcherThread(d), d_(d) {}

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

// ---- the dispatcher ----

TSerialDispatcher::TSerialDispatcher() = default;

TSerialDispatcher::~TSerialDispatcher() {
    CloseDevice();
}

int TSerialDispatcher::OpenDevice(const std::string& name, std::uint32_t rate, int parity,
                                  int dataBits, int stopBits, std::uint32_t inSize,
                                  std::uint32_t outSize, std::uint32_t lineOptions) {
    if (running_.load() > 0) throw std::logic_error("Dispatcher already started.");
    if (!outputEvent_.Valid() || !flushEvent_.Valid() || !stopEvent_.Valid()) return -EMFILE;
    name_ = name;
    int fd = -1;
    if (int err = platform::OpenSerialDevice(name, fd)) return MapOpenError(err);
    fd_.store(fd);
    stopThreads_.store(false);
    stopping_.store(false);
    closePending_.store(false);
    handoverCancel_.Reset();
    stopEvent_.Consume();
    flushEvent_.Consume();
    outputEvent_.Consume();

    auto fail = [this](int code) {
        ReleaseDevice();
        return code;
    };
    {
        std::lock_guard lock(lock_);
        inSize_ = inSize;
        outSize_ = outSize;
        rs485_ = false;
        direction_ = TRs485Direction::Off;
        savedRs485Taken_ = false;
        if (int err = platform::GetLineTermios(fd, line_)) return fail(-err);
        dtrState_ = (lineOptions & loDTR) != 0;
        rtsState_ = (lineOptions & loRTS) != 0;
        dtrAuto_ = (lineOptions & loUseDTR) != 0;
        rtsAuto_ = (lineOptions & loUseRTS) != 0;
    }
    ResetBuffers(outSize);
    lineErrors_.store(0);
    modemStatus_.store(0);
    userToggle_.store(false);
    modemUnsupported_.store(false);
    countersUnsupported_.store(false);
    if (!DtrAuto()) SetDTRLine(DtrState());
    if (!RtsAuto()) SetRTSLine(RtsState());

    RemoveTimerSlots();
    modemStatus_.store(ReadModemStatus());
    {
        std::lock_guard lock(lock_);
        lastRate_ = 115200;
    }
    if (int code = ApplyLineSettings(rate, parity, dataBits, stopBits); code < 0) return fail(code);
    lineErrors_.store(ReadLineErrors());

    const bool started = StartThread(std::make_unique<TReadThread>(*this)) &&
                         StartThread(std::make_unique<TDispThread>(*this)) &&
                         StartThread(std::make_unique<TWriteThread>(*this)) &&
                         StartThread(std::make_unique<TStatusThread>(*this));
    if (!started) {
        CloseDevice();
        return -EAGAIN;
    }
    return 0;
}

void TSerialDispatcher::ReleaseDevice() {
    const int fd = fd_.exchange(-1);
    if (fd < 0) return;
    {
        std::lock_guard lock(lock_);
        if (savedRs485Taken_) platform::SetRs485(fd, savedRs485_);
        savedRs485Taken_ = false;
    }
    platform::CloseSerialDevice(fd);
}

void TSerialDispatcher::AckFlush() {
    std::lock_guard lock(flushLock_);
    ++flushAcks_;
    flushCv_.notify_all();
}

void TSerialDispatcher::OnOutputQueued() {
    outputEvent_.Signal();
}

void TSerialDispatcher::OnStopRequested() {
    stopEvent_.Signal(); // never consumed while the threads run: wakes every poll()
    inputQueue_.Kick();
}

void TSerialDispatcher::CloseDevice() {
    const int fd = fd_.load();
    if (fd < 0) return;
    bool expected = false;
    if (!stopping_.compare_exchange_strong(expected, true)) return; // one stop at a time

    // Output: drop the ring and the driver's queue, and make the writer abandon its block.
    DiscardOutput();
    platform::FlushOutput(fd);
    if (running_.load() > 0) {
        std::unique_lock lock(flushLock_);
        const auto seen = flushAcks_;
        flushEvent_.Signal();
        flushCv_.wait_for(lock, std::chrono::milliseconds(5000),
                          [&] { return flushAcks_ != seen || stopThreads_.load(); });
    }
    // Input: the driver's queue, the input queue and the dispatch ring.
    platform::FlushInput(fd);
    DiscardInput();

    StopThreads();
    ReleaseDevice();
    stopping_.store(false);
}

void TSerialDispatcher::StopThreads() {
    if (running_.load() == 0) return;
    closePending_.store(inNotify_.load());
    stopThreads_.store(true);
    // A packet not yet handed to the user-interface thread is input not yet delivered: dropped.
    handoverCancel_.Cancel();
    OnStopRequested();

    auto waitFor = [this](TDispatcherThread* t, std::int64_t ms) {
        return threadsEnded_.WaitPumping([t] { return t->Ended(); }, ms);
    };
    TDispatcherThread* disp = nullptr;
    for (auto& t : threads_) {
        if (dynamic_cast<TDispThread*>(t.get())) {
            disp = t.get();
            continue;
        }
        waitFor(t.get(), -1);
    }
    if (disp && !disp->Ended()) {
        // Closing from inside a packet handed over by the dispatch thread: that thread waits for
        // us to return and ends by itself afterwards; the port completes the close then.
        if (platform::IsRunningCallFrom(disp->Id())) return;
        if (!waitFor(disp, 36 * kTickMs)) {
            inputQueue_.Kick();
            waitFor(disp, 36 * kTickMs);
        }
    }
}

int TSerialDispatcher::WriteLine(const platform::LineTermios& t) {
    const int fd = fd_.load();
    if (int err = platform::SetLineTermios(fd, t)) return -err;
    lineWrites_.fetch_add(1);
    line_ = t;
    return 0;
}

int TSerialDispatcher::ApplyLineSettings(std::uint32_t rate, int parity, int dataBits,
                                         int stopBits) {
    const int fd = fd_.load();
    if (fd < 0) return ecCommNotOpen;
    if (stopBits == 0)
        stopBits = 1;
    else if (stopBits > 2 && stopBits != platform::kStopBitsKeep)
        stopBits = 2;
    platform::LineTermios current, wanted;
    std::uint32_t lastRate;
    {
        // Compared with what we last wrote, not with a read-back: a pseudo-terminal reports
        // every line as 8N1, which would make each unchanged setting look changed.
        std::lock_guard lock(lock_);
        current = line_;
        wanted = platform::ApplyLine(current, {rate, parity, dataBits, stopBits});
        lastRate = lastRate_;
    }
    if (platform::SameLine(current, wanted)) return 0;

    // Let queued bytes leave at the old settings, then the characters the UART may still hold.
    WaitOutputDrained(10000);
    usleep(1000 * platform::EighteenCharsMs(lastRate, platform::DataBitsOf(current),
                                            platform::ParityOf(current) != platform::kParityNone,
                                            platform::StopBitsOf(current)));
    bool dtr, rts, rs485;
    {
        std::lock_guard lock(lock_);
        if (int code = WriteLine(wanted); code < 0) return code;
        lastRate_ = platform::RateOf(wanted);
        dtr = dtrState_;
        rts = rtsState_;
        rs485 = rs485_;
    }
    SetDTRLine(dtr);
    if (!rs485) SetRTSLine(rts);
    return 0;
}

int TSerialDispatcher::RewriteHandshake() {
    const bool rtsCts = (hwOptions_ & (hwfUseRTS | hwfRequireCTS)) != 0 && !rs485_;
    const bool rx = swOptions_ == swfReceive || swOptions_ == swfBoth;
    const bool tx = swOptions_ == swfTransmit || swOptions_ == swfBoth;
    const auto t = platform::ApplyHandshake(line_, rtsCts, rx, tx, xonChar_, xoffChar_);
    return platform::SameLine(t, line_) ? 0 : WriteLine(t);
}

int TSerialDispatcher::SetHandshake(std::uint32_t bufferFull, std::uint32_t bufferResume,
                                    std::uint32_t options) {
    if (fd_.load() < 0) return ecCommNotOpen;
    std::lock_guard lock(lock_);
    if (bufferFull < bufferResume || bufferFull > inSize_) return ecBadArgument;
    hwOptions_ = options;
    dtrAuto_ = (options & hwfUseDTR) != 0;
    // While RS-485 direction control is on, RTS belongs to it.
    rtsAuto_ = (options & hwfUseRTS) != 0 || rs485_;
    xoffLimit_ = inSize_ - bufferFull;
    xonLimit_ = bufferResume;
    return RewriteHandshake();
}

int TSerialDispatcher::SetSoftwareHandshake(int swOptions, std::uint32_t bufferFull,
                                            std::uint32_t bufferResume) {
    if (fd_.load() < 0) return ecCommNotOpen;
    std::lock_guard lock(lock_);
    if (swOptions != swfNone && (bufferFull < bufferResume || bufferFull > inSize_))
        return ecBadArgument;
    swOptions_ = swOptions;
    xoffLimit_ = inSize_ - bufferFull;
    xonLimit_ = bufferResume;
    return RewriteHandshake();
}

int TSerialDispatcher::SetHandshakeChars(std::uint8_t xonChar, std::uint8_t xoffChar) {
    if (fd_.load() < 0) return ecCommNotOpen;
    std::lock_guard lock(lock_);
    xonChar_ = xonChar;
    xoffChar_ = xoffChar;
    return RewriteHandshake();
}

int TSerialDispatcher::SetDTRLine(bool on) {
    const int fd = fd_.load();
    if (fd < 0) return ecCommNotOpen;
    std::lock_guard lock(lock_);
    if (dtrAuto_) return 1;
    const int err = platform::SetModemLine(fd, platform::kLineDtr, on);
    // No modem control (a pseudo-terminal): nothing to set, and nothing wrong.
    if (err && !platform::IsNotSupported(err)) return -err;
    dtrState_ = on;
    return 0;
}

int TSerialDispatcher::SetRTSLine(bool on) {
    const int fd = fd_.load();
    if (fd < 0) return ecCommNotOpen;
    std::lock_guard lock(lock_);
    if (rtsAuto_) return 1;
    const int err = platform::SetModemLine(fd, platform::kLineRts, on);
    if (err && !platform::IsNotSupported(err)) return -err;
    rtsState_ = on;
    return 0;
}

int TSerialDispatcher::SetRS485(bool on) {
    const int fd = fd_.load();
    if (fd < 0) return ecCommNotOpen;
    std::lock_guard lock(lock_);
    if (on == rs485_) return 0;
    rs485_ = on;
    writerAboveNormal_.store(on);
    if (on) {
        if (!savedRs485Taken_) savedRs485Taken_ = platform::GetRs485(fd, savedRs485_) == 0;
        int lines = 0;
        if (platform::EnableRs485RtsOnSend(fd) == 0) {
            direction_ = TRs485Direction::Driver;
        } else if (platform::GetModemLines(fd, lines) == 0) {
            direction_ = TRs485Direction::UserToggle;
            platform::SetModemLine(fd, platform::kLineRts, false); // receive until we send
        } else {
            direction_ = TRs485Direction::None;
        }
    } else {
        if (savedRs485Taken_) platform::SetRs485(fd, savedRs485_);
        direction_ = TRs485Direction::Off;
    }
    userToggle_.store(direction_ == TRs485Direction::UserToggle);
    rtsAuto_ = on || (hwOptions_ & hwfUseRTS) != 0;
    return 0;
}

int TSerialDispatcher::SetQueueSizes(std::uint32_t inSize, std::uint32_t outSize) {
    // Linux tty queues are the driver's own; the sizes are kept as asked.
    std::lock_guard lock(lock_);
    inSize_ = inSize;
    outSize_ = outSize;
    return 0;
}

std::uint8_t TSerialDispatcher::ReadModemStatus() {
    const int fd = fd_.load();
    if (fd < 0 || modemUnsupported_.load() || stopThreads_.load()) return modemStatus_.load();
    int lines = 0;
    if (platform::GetModemLines(fd, lines) != 0) {
        modemUnsupported_.store(true);
        return 0;
    }
    std::uint8_t ms = 0;
    if (lines & TIOCM_CTS) ms |= msCtsOn;
    if (lines & TIOCM_DSR) ms |= msDsrOn;
    if (lines & TIOCM_RNG) ms |= msRingOn;
    if (lines & TIOCM_CAR) ms |= msRlsdOn;
    return ms;
}

std::uint32_t TSerialDispatcher::ReadLineErrors() {
    const int fd = fd_.load();
    if (fd < 0 || countersUnsupported_.load()) return lineErrors_.load();
    platform::LineCounters now{};
    if (platform::GetLineCounters(fd, now) != 0) {
        countersUnsupported_.store(true);
        return lineErrors_.load();
    }
    std::lock_guard lock(lock_);
    std::uint32_t errors = 0; // classic error bits: overrun 0x2, parity 0x4, frame 0x8, break 0x10
    if (now.bufOverrun != baseCounters_.bufOverrun) errors |= 0x01;
    if (now.overrun != baseCounters_.overrun) errors |= 0x02;
    if (now.parity != baseCounters_.parity) errors |= 0x04;
    if (now.frame != baseCounters_.frame) errors |= 0x08;
    if (now.brk != baseCounters_.brk) errors |= 0x10;
    baseCounters_ = now;
    return errors;
}

bool TSerialDispatcher::DtrAuto() const {
    std::lock_guard lock(lock_);
    return dtrAuto_;
}
bool TSerialDispatcher::RtsAuto() const {
    std::lock_guard lock(lock_);
    return rtsAuto_;
}
bool TSerialDispatcher::DtrState() const {
    std::lock_guard lock(lock_);
    return dtrState_;
}
bool TSerialDispatcher::RtsState() const {
    std::lock_guard lock(lock_);
    return rtsState_;
}
bool TSerialDispatcher::RS485Mode() const {
    std::lock_guard lock(lock_);
    return rs485_;
}
TRs485Direction TSerialDispatcher::Rs485Direction() const {
    std::lock_guard lock(lock_);
    return direction_;
}
std::uint32_t TSerialDispatcher::LastAppliedRate() const {
    std::lock_guard lock(lock_);
    return lastRate_;
}
platform::LineTermios TSerialDispatcher::LineSettings() const {
    std::lock_guard lock(lock_);
    return line_;
}

} // namespace vg57
