// Device half of the dispatcher on Linux: opening and closing, termios2 line settings,
// modem-control lines and RS-485 direction. Its threads are in SerialThreads_posix.cpp.
#include "SerialDispatcher.h"

#include "CrossThreadCall.h"
#include "MonotonicClock.h"
#include "SerialCodes.h"
#include "SerialThreads.h"

#include <cerrno>
#include <stdexcept>
#include <sys/ioctl.h>
#include <unistd.h>

namespace vg57 {

namespace {

// What a failed open means to the port: no such device, held by another program, or the
// operating system's own error.
int MapOpenError(int err) {
    switch (err) {
    case ENOENT:
    case ENXIO:
    case ENODEV:
    case ENOTTY: // a file, but no terminal
        return ecBadId;
    case EBUSY:
        return ecAlreadyOpen;
    case EACCES:
    case EPERM:
        return ecPermissionDenied;
    default:
        return OsErrorCode(err);
    }
}

} // namespace

// ---- the dispatcher ----

TSerialDispatcher::TSerialDispatcher() = default;

TSerialDispatcher::~TSerialDispatcher() {
    CloseDevice();
}

int TSerialDispatcher::OpenDevice(const std::string& name, std::uint32_t rate, int parity,
                                  int dataBits, int stopBits, std::uint32_t inSize,
                                  std::uint32_t outSize, std::uint32_t lineOptions) {
    if (running_.load() > 0) throw std::logic_error("Dispatcher already started.");
    if (!outputEvent_.Valid() || !flushEvent_.Valid() || !stopEvent_.Valid())
        return OsErrorCode(EMFILE);
    name_ = name;
    int fd = -1;
    if (int err = platform::OpenSerialDevice(name, fd)) return MapOpenError(err);
    fd_.store(fd);
    stopThreads_.store(false);
    stopping_.store(false);
    closePending_.store(false);
    stopEvent_.Consume();
    flushEvent_.Consume();
    outputEvent_.Consume();

    // Every failure from here on closes the device again; no lock may be held when it does.
    const int code =
        SetUpDevice(fd, rate, parity, dataBits, stopBits, inSize, outSize, lineOptions);
    if (code < 0) {
        ReleaseDevice();
        return code;
    }
    const bool started =
        StartThread(MakeReadThread(*this)) && StartThread(std::make_unique<TDispThread>(*this)) &&
        StartThread(MakeWriteThread(*this)) && StartThread(MakeStatusThread(*this));
    if (!started) {
        // Stopped first: without its writer, the close would wait for a flush nobody answers.
        StopThreads();
        CloseDevice();
        return OsErrorCode(EAGAIN);
    }
    return 0;
}

int TSerialDispatcher::SetUpDevice(int fd, std::uint32_t rate, int parity, int dataBits,
                                   int stopBits, std::uint32_t inSize, std::uint32_t outSize,
                                   std::uint32_t lineOptions) {
    platform::LineTermios line;
    if (int err = platform::GetLineTermios(fd, line)) return OsErrorCode(err);
    {
        std::lock_guard lock(lock_);
        line_ = line;
        charNs_.store(TransmitNs(1, BitsPerCharacter(line), platform::RateOf(line)));
        inSize_ = inSize;
        outSize_ = outSize;
        rs485_ = false;
        rs485State_ = {};
        savedRs485Taken_ = false;
        dtrState_ = (lineOptions & loDTR) != 0;
        rtsState_ = (lineOptions & loRTS) != 0;
        dtrAuto_ = (lineOptions & loUseDTR) != 0;
        rtsAuto_ = (lineOptions & loUseRTS) != 0;
        lastRate_ = 115200;
    }
    ResetBuffers(outSize);
    lineErrors_.store(0);
    modemStatus_.store(0);
    userToggle_.store(false);
    lsrRefused_.store(false);
    noticesSaid_.store(0);
    modemUnsupported_.store(false);
    countersUnsupported_.store(false);
    if (!DtrAuto())
        if (int code = SetDTRLine(DtrState()); code < 0) return code;
    if (!RtsAuto())
        if (int code = SetRTSLine(RtsState()); code < 0) return code;

    RemoveTimerSlots();
    modemStatus_.store(ReadModemStatus());
    if (int code = ApplyLineSettings(rate, parity, dataBits, stopBits); code < 0) return code;
    lineErrors_.store(ReadLineErrors());
    // What reached the line while nobody listened is no answer to anything we will send: a
    // real line would have lost it, a pseudo-terminal keeps it.
    if (int err = platform::FlushInput(fd)) return OsErrorCode(err);
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
    // A thread reports Ended() just before it counts itself out: wait for the count, so that a
    // close returns with no worker running, as the port expects.
    threadsEnded_.WaitPumping([this] { return running_.load() == 0; }, 36 * kTickMs);
}

int TSerialDispatcher::WriteLine(const platform::LineTermios& t) {
    const int fd = fd_.load();
    if (int err = platform::SetLineTermios(fd, t)) return OsErrorCode(err);
    lineWrites_.fetch_add(1);
    line_ = t;
    charNs_.store(TransmitNs(1, BitsPerCharacter(t), platform::RateOf(t)));
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
    return RewriteHandshake();
}

int TSerialDispatcher::SetSoftwareHandshake(int swOptions, std::uint32_t bufferFull,
                                            std::uint32_t bufferResume) {
    if (fd_.load() < 0) return ecCommNotOpen;
    std::lock_guard lock(lock_);
    if (swOptions != swfNone && (bufferFull < bufferResume || bufferFull > inSize_))
        return ecBadArgument;
    swOptions_ = swOptions;
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
    if (err && !platform::IsNotSupported(err)) return OsErrorCode(err);
    dtrState_ = on;
    return 0;
}

int TSerialDispatcher::SetRTSLine(bool on) {
    const int fd = fd_.load();
    if (fd < 0) return ecCommNotOpen;
    std::lock_guard lock(lock_);
    if (rtsAuto_) return 1;
    const int err = platform::SetModemLine(fd, platform::kLineRts, on);
    if (err && !platform::IsNotSupported(err)) return OsErrorCode(err);
    rtsState_ = on;
    return 0;
}

int TSerialDispatcher::SetRS485(bool on, TRtsOnSend rtsOnSend) {
    const int fd = fd_.load();
    if (fd < 0) return ecCommNotOpen;
    std::lock_guard lock(lock_);
    if (on == rs485_ && (!on || rtsOnSend == rtsOnSend_)) return 0;
    rs485_ = on;
    rtsOnSend_ = rtsOnSend;
    writerAboveNormal_.store(on);
    if (on) {
        if (!savedRs485Taken_) savedRs485Taken_ = platform::GetRs485(fd, savedRs485_) == 0;
        ChooseDirection(fd);
    } else {
        if (savedRs485Taken_) platform::SetRs485(fd, savedRs485_);
        rs485State_ = {};
    }
    userToggle_.store(rs485State_.direction == TRs485Direction::UserToggle);
    rtsAuto_ = on || (hwOptions_ & hwfUseRTS) != 0;
    return 0;
}

void TSerialDispatcher::ChooseDirection(int fd) {
    const platform::Rs485Settings* held = savedRs485Taken_ ? &savedRs485_ : nullptr;
    if (held) {
        platform::Rs485Settings back;
        const bool set = platform::SetRs485(fd, Rs485Request(*held, rtsOnSend_)) == 0;
        // A driver that refuses any change yet switches already (enabled at boot) keeps doing so.
        if (set ? platform::GetRs485(fd, back) == 0 : true) {
            const platform::Rs485Settings& now = set ? back : *held;
            if (now.flags & platform::kRs485Enabled) {
                rs485State_ = {TRs485Direction::Driver,
                               (now.flags & platform::kRs485RtsOnSend) != 0, now.delayBeforeMs,
                               now.delayAfterMs};
                return;
            }
        }
    }
    int lines = 0;
    if (platform::GetModemLines(fd, lines) != 0) {
        rs485State_ = {TRs485Direction::None, true, 0, 0};
        return;
    }
    const bool high = RtsHighWhileSending(held, rtsOnSend_);
    rs485State_ = {TRs485Direction::UserToggle, high, 0, 0};
    rtsHighWhileSending_.store(high);
    SwitchRts(fd, false); // receive until we send
}

void TSerialDispatcher::SwitchRts(int fd, bool sending) {
    const bool assert = sending == rtsHighWhileSending_.load();
    if (int err = platform::SetModemLine(fd, platform::kLineRts, assert))
        Notice(sending ? TLineNotice::RtsToSend : TLineNotice::RtsToReceive, err);
}

void TSerialDispatcher::SetNoticeCallback(std::function<void(const std::string&)> cb) {
    std::lock_guard lock(noticeLock_);
    noticeCallback_ = std::move(cb);
}

void TSerialDispatcher::Notice(TLineNotice kind, int err) {
    const auto bit = static_cast<unsigned>(kind);
    if (noticesSaid_.fetch_or(bit) & bit) return;
    const std::string os = err ? " (" + platform::OsErrorText(err) + ")" : std::string();
    std::string text;
    switch (kind) {
    case TLineNotice::RtsToSend:
        text = "не удалось переключить RTS на передачу" + os;
        break;
    case TLineNotice::RtsToReceive:
        text = "не удалось переключить RTS на приём" + os;
        break;
    case TLineNotice::Drain:
        text = "ожидание конца передачи (tcdrain) не удалось" + os;
        break;
    case TLineNotice::NoEmptyReport:
        text = "драйвер не сообщает, что передатчик пуст" + os +
               ": RTS снимается по расчётному времени передачи";
        break;
    case TLineNotice::NotEmptyInTime:
        text = "передатчик не опустел за расчётное время передачи: RTS снят по истечении срока";
        break;
    }
    std::function<void(const std::string&)> cb;
    {
        std::lock_guard lock(noticeLock_);
        cb = noticeCallback_;
    }
    if (cb) cb(text);
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
    return rs485State_.direction;
}
TRs485State TSerialDispatcher::Rs485State() const {
    std::lock_guard lock(lock_);
    return rs485State_;
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
