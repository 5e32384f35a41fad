// Deliberately free of <termios.h>: the kernel's termios2 (any bit rate) comes from
// <asm/termbits.h>, whose definitions clash with the libc header.
#include "SerialDevice.h"

#include <asm/termbits.h>
#include <atomic>
#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <linux/serial.h>
#include <sys/file.h>
#include <sys/ioctl.h>
#include <sys/prctl.h>
#include <sys/resource.h>
#include <sys/syscall.h>
#include <system_error>
#include <unistd.h>

static_assert(sizeof(serial_rs485) <= sizeof(vg57::platform::Rs485Settings::raw));
static_assert(vg57::platform::kRs485Enabled == SER_RS485_ENABLED &&
              vg57::platform::kRs485RtsOnSend == SER_RS485_RTS_ON_SEND &&
              vg57::platform::kRs485RtsAfterSend == SER_RS485_RTS_AFTER_SEND);

namespace vg57::platform {

namespace {

std::atomic<DeviceFaults*> gFaults{nullptr};

int Injected(DeviceCall call) {
    DeviceFaults* faults = gFaults.load(std::memory_order_acquire);
    return faults ? faults->Inject(call) : 0;
}

// The stand-in's answer to a call, or kPassOn when the device itself is to answer.
template <typename Ask> int StandIn(Ask ask) {
    DeviceFaults* faults = gFaults.load(std::memory_order_acquire);
    return faults ? ask(*faults) : DeviceFaults::kPassOn;
}

// The ioctl retried across signals; 0 or an errno.
int RawIoctl(int fd, unsigned long request, void* arg) {
    int r;
    do
        r = ioctl(fd, request, arg);
    while (r < 0 && errno == EINTR);
    return r < 0 ? errno : 0;
}

// One device call: the injected fault, or the ioctl.
int Ioctl(DeviceCall call, int fd, unsigned long request, void* arg) {
    if (int err = Injected(call)) return err;
    return RawIoctl(fd, request, arg);
}

int Lock(int fd) {
    if (int err = Injected(DeviceCall::Lock)) return err == EWOULDBLOCK ? EBUSY : err;
    int r;
    do
        r = flock(fd, LOCK_EX | LOCK_NB);
    while (r < 0 && errno == EINTR);
    if (r == 0) return 0;
    return errno == EWOULDBLOCK ? EBUSY : errno;
}

} // namespace

void SetDeviceFaults(DeviceFaults* faults) {
    gFaults.store(faults, std::memory_order_release);
}

int OpenSerialDevice(const std::string& path, int& fd) {
    fd = -1;
    if (int err = Injected(DeviceCall::Open)) return err;
    const int f = open(path.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
    if (f < 0) return errno;
    termios2 probe{};
    int err = Lock(f);
    if (err == 0) err = Ioctl(DeviceCall::CheckTerminal, f, TCGETS2, &probe);
    if (err != 0) {
        close(f); // also releases the lock, if it was taken
        return err;
    }
    // Keeps out other openers that are not root; root is kept out by the lock above.
    [[maybe_unused]] int ignored = ioctl(f, TIOCEXCL);
    fd = f;
    return 0;
}

void CloseSerialDevice(int fd) {
    if (fd < 0) return;
    [[maybe_unused]] int ignored = ioctl(fd, TIOCNXCL);
    close(fd); // also releases the flock
}

std::thread StartDeviceThread(std::function<void()> body) {
    if (int err = Injected(DeviceCall::StartThread))
        throw std::system_error(err, std::generic_category(), "thread");
    return std::thread(std::move(body));
}

int GetLineTermios(int fd, LineTermios& t) {
    termios2 k{};
    if (int err = Ioctl(DeviceCall::GetLine, fd, TCGETS2, &k)) return err;
    t.iflag = k.c_iflag;
    t.oflag = k.c_oflag;
    t.cflag = k.c_cflag;
    t.lflag = k.c_lflag;
    t.line = k.c_line;
    static_assert(sizeof(k.c_cc) == sizeof(t.cc));
    std::memcpy(t.cc, k.c_cc, sizeof t.cc);
    t.ispeed = k.c_ispeed;
    t.ospeed = k.c_ospeed;
    return 0;
}

int SetLineTermios(int fd, const LineTermios& t) {
    termios2 k{};
    k.c_iflag = t.iflag;
    k.c_oflag = t.oflag;
    k.c_cflag = t.cflag;
    k.c_lflag = t.lflag;
    k.c_line = t.line;
    std::memcpy(k.c_cc, t.cc, sizeof t.cc);
    k.c_ispeed = t.ispeed;
    k.c_ospeed = t.ospeed;
    return Ioctl(DeviceCall::SetLine, fd, TCSETS2, &k);
}

int SetModemLine(int fd, int line, bool on) {
    if (int err = Injected(DeviceCall::SetModemLine)) return err;
    if (int r = StandIn([&](DeviceFaults& f) { return f.ModemLine(line, on); });
        r != DeviceFaults::kPassOn)
        return r;
    int bits = line;
    return RawIoctl(fd, on ? TIOCMBIS : TIOCMBIC, &bits);
}

int GetModemLines(int fd, int& lines) {
    if (int err = Injected(DeviceCall::GetModemLines)) return err;
    if (int r = StandIn([&](DeviceFaults& f) { return f.ModemLines(lines); });
        r != DeviceFaults::kPassOn)
        return r;
    return RawIoctl(fd, TIOCMGET, &lines);
}

int GetLineCounters(int fd, LineCounters& c) {
    serial_icounter_struct k{};
    if (int err = Ioctl(DeviceCall::GetCounters, fd, TIOCGICOUNT, &k)) return err;
    c = {k.cts, k.dsr, k.rng, k.dcd, k.frame, k.overrun, k.parity, k.brk, k.buf_overrun};
    return 0;
}

int GetRs485(int fd, Rs485Settings& settings) {
    settings = {};
    if (int err = Injected(DeviceCall::GetRs485)) return err;
    if (int r = StandIn([&](DeviceFaults& f) { return f.GetRs485(settings); });
        r != DeviceFaults::kPassOn)
        return r;
    serial_rs485 k{};
    if (int err = RawIoctl(fd, TIOCGRS485, &k)) return err;
    std::memcpy(settings.raw, &k, sizeof k);
    settings.flags = k.flags;
    settings.delayBeforeMs = k.delay_rts_before_send;
    settings.delayAfterMs = k.delay_rts_after_send;
    return 0;
}

int SetRs485(int fd, const Rs485Settings& settings) {
    if (int err = Injected(DeviceCall::SetRs485)) return err;
    if (int r = StandIn([&](DeviceFaults& f) { return f.SetRs485(settings); });
        r != DeviceFaults::kPassOn)
        return r;
    serial_rs485 k{};
    std::memcpy(&k, settings.raw, sizeof k);
    k.flags = settings.flags;
    k.delay_rts_before_send = settings.delayBeforeMs;
    k.delay_rts_after_send = settings.delayAfterMs;
    return RawIoctl(fd, TIOCSRS485, &k);
}

int TransmitterEmpty(int fd, bool& empty) {
    if (int err = Injected(DeviceCall::TransmitterEmpty)) return err;
    if (int r = StandIn([&](DeviceFaults& f) { return f.TransmitterEmpty(empty); });
        r != DeviceFaults::kPassOn)
        return r;
    int lsr = 0;
    if (int err = RawIoctl(fd, TIOCSERGETLSR, &lsr)) return err;
    empty = (lsr & TIOCSER_TEMT) != 0;
    return 0;
}

int DrainOutput(int fd) {
    if (int err = Injected(DeviceCall::Drain)) return err;
    if (int r = StandIn([](DeviceFaults& f) { return f.Drain(); }); r != DeviceFaults::kPassOn)
        return r;
    return RawIoctl(fd, TCSBRK, reinterpret_cast<void*>(1));
}

int WriteDevice(int fd, const void* bytes, std::size_t n, std::size_t& written) {
    written = 0;
    if (int err = Injected(DeviceCall::Write)) return err;
    ssize_t r;
    do
        r = write(fd, bytes, n);
    while (r < 0 && errno == EINTR);
    if (r < 0) return errno;
    written = static_cast<std::size_t>(r);
    if (DeviceFaults* faults = gFaults.load(std::memory_order_acquire)) faults->Wrote(written);
    return 0;
}
int FlushInput(int fd) {
    return Ioctl(DeviceCall::FlushInput, fd, TCFLSH, reinterpret_cast<void*>(TCIFLUSH));
}
int FlushOutput(int fd) {
    return Ioctl(DeviceCall::FlushOutput, fd, TCFLSH, reinterpret_cast<void*>(TCOFLUSH));
}

void SetCurrentThreadAboveNormal(bool above) {
    const auto tid = static_cast<id_t>(syscall(SYS_gettid));
    [[maybe_unused]] int ignored = setpriority(PRIO_PROCESS, tid, above ? -1 : 0);
    // 0 puts back the default slack of the process.
    prctl(PR_SET_TIMERSLACK, above ? 5000UL : 0UL, 0UL, 0UL, 0UL);
}

std::string OsErrorText(int err) {
    std::string text = std::strerror(err);
    for (char& c : text)
        if (static_cast<unsigned char>(c) < 0x20) c = ' ';
    return text;
}

} // namespace vg57::platform
