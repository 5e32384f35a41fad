// Deliberately free of <termios.h>: the kernel's termios2 (any bit rate) comes from
// <asm/termbits.h>, whose definitions clash with the libc header.
#include "SerialDevice.h"

#include <asm/termbits.h>
#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <linux/serial.h>
#include <sys/file.h>
#include <sys/ioctl.h>
#include <sys/resource.h>
#include <sys/syscall.h>
#include <unistd.h>

static_assert(sizeof(serial_rs485) <= sizeof(vg57::platform::Rs485Saved::raw));

namespace vg57::platform {

namespace {
int Ioctl(int fd, unsigned long request, void* arg) {
    int r;
    do
        r = ioctl(fd, request, arg);
    while (r < 0 && errno == EINTR);
    return r < 0 ? errno : 0;
}
} // namespace

int OpenSerialDevice(const std::string& path, int& fd) {
    fd = -1;
    const int f = open(path.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
    if (f < 0) return errno;
    if (flock(f, LOCK_EX | LOCK_NB) < 0) {
        const int err = errno == EWOULDBLOCK ? EBUSY : errno;
        close(f);
        return err;
    }
    if (!isatty(f)) {
        close(f);
        return ENOTTY;
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

int GetLineTermios(int fd, LineTermios& t) {
    termios2 k{};
    if (int err = Ioctl(fd, TCGETS2, &k)) return err;
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
    return Ioctl(fd, TCSETS2, &k);
}

int SetModemLine(int fd, int line, bool on) {
    int bits = line;
    return Ioctl(fd, on ? TIOCMBIS : TIOCMBIC, &bits);
}

int GetModemLines(int fd, int& lines) {
    return Ioctl(fd, TIOCMGET, &lines);
}

int GetLineCounters(int fd, LineCounters& c) {
    serial_icounter_struct k{};
    if (int err = Ioctl(fd, TIOCGICOUNT, &k)) return err;
    c = {k.cts, k.dsr, k.rng, k.dcd, k.frame, k.overrun, k.parity, k.brk, k.buf_overrun};
    return 0;
}

int GetRs485(int fd, Rs485Saved& saved) {
    serial_rs485 k{};
    saved.valid = false;
    if (int err = Ioctl(fd, TIOCGRS485, &k)) return err;
    std::memcpy(saved.raw, &k, sizeof k);
    saved.valid = true;
    return 0;
}

int SetRs485(int fd, const Rs485Saved& saved) {
    if (!saved.valid) return 0;
    serial_rs485 k{};
    std::memcpy(&k, saved.raw, sizeof k);
    return Ioctl(fd, TIOCSRS485, &k);
}

int EnableRs485RtsOnSend(int fd) {
    serial_rs485 k{};
    k.flags = SER_RS485_ENABLED | SER_RS485_RTS_ON_SEND;
    if (int err = Ioctl(fd, TIOCSRS485, &k)) return err;
    serial_rs485 back{};
    if (int err = Ioctl(fd, TIOCGRS485, &back)) return err;
    return (back.flags & SER_RS485_ENABLED) ? 0 : EINVAL;
}

int TransmitterEmpty(int fd, bool& empty) {
    int lsr = 0;
    if (int err = Ioctl(fd, TIOCSERGETLSR, &lsr)) return err;
    empty = (lsr & TIOCSER_TEMT) != 0;
    return 0;
}

int DrainOutput(int fd) {
    return Ioctl(fd, TCSBRK, reinterpret_cast<void*>(1));
}
int FlushInput(int fd) {
    return Ioctl(fd, TCFLSH, reinterpret_cast<void*>(TCIFLUSH));
}
int FlushOutput(int fd) {
    return Ioctl(fd, TCFLSH, reinterpret_cast<void*>(TCOFLUSH));
}

void SetCurrentThreadAboveNormal(bool above) {
    const auto tid = static_cast<id_t>(syscall(SYS_gettid));
    [[maybe_unused]] int ignored = setpriority(PRIO_PROCESS, tid, above ? -1 : 0);
}

std::string OsErrorText(int err) {
    std::string text = std::strerror(err);
    for (char& c : text)
        if (static_cast<unsigned char>(c) < 0x20) c = ' ';
    return text;
}

} // namespace vg57::platform
