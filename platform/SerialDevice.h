// Thin wrapper over one tty descriptor: the only file that speaks to the Linux serial driver.
// Every call returns 0 or an errno value; what an errno means to the link is the caller's rule.
#pragma once

#include "TermiosRules.h"

#include <cstddef>
#include <cstdint>
#include <functional>
#include <string>
#include <thread>

namespace vg57::platform {

// The device calls of this file, by step, so that a test can make any one of them fail.
enum class DeviceCall {
    Open,
    Lock,
    CheckTerminal,
    GetLine,
    SetLine,
    SetModemLine,
    GetModemLines,
    GetCounters,
    GetRs485,
    SetRs485,
    TransmitterEmpty,
    Drain,
    Write,
    FlushInput,
    FlushOutput,
    StartThread, // not the device's own, but a step of opening it that the system may refuse
};

// The driver's RS-485 settings (struct serial_rs485): the fields this program reads and
// changes by name, and the whole struct kept so that a restore gives back every field.
enum : std::uint32_t {
    kRs485Enabled = 1u << 0,
    kRs485RtsOnSend = 1u << 1,    // RTS asserted while sending
    kRs485RtsAfterSend = 1u << 2, // RTS asserted after sending (active-low driver enable)
};
struct Rs485Settings {
    std::uint32_t flags = 0;
    std::uint32_t delayBeforeMs = 0, delayAfterMs = 0;
    unsigned char raw[32] = {}; // the driver's struct as read, opaque here
};

// A seam for tests: asked before every device call, from whichever thread makes it; a non-zero
// errno makes that call fail with it without reaching the device. The program installs none.
// Where no hardware can stand (an RS-485 adapter), a stand-in may also answer the calls below
// itself; kPassOn lets the real device answer.
class DeviceFaults {
public:
    static constexpr int kPassOn = -1;
    virtual ~DeviceFaults() = default;
    virtual int Inject(DeviceCall call) = 0;
    virtual int ModemLine(int /*line*/, bool /*on*/) { return kPassOn; }
    virtual int ModemLines(int& /*lines*/) { return kPassOn; }
    virtual int GetRs485(Rs485Settings& /*settings*/) { return kPassOn; }
    virtual int SetRs485(const Rs485Settings& /*settings*/) { return kPassOn; }
    virtual int TransmitterEmpty(bool& /*empty*/) { return kPassOn; }
    virtual int Drain() { return kPassOn; }
    // Told after WriteDevice handed bytes to the device, with how many.
    virtual void Wrote(std::size_t /*n*/) {}
};
// Installs faults for the whole process (nullptr removes them).
void SetDeviceFaults(DeviceFaults* faults);

// Opens a tty for non-blocking reading and writing, held exclusively: flock() (which holds even
// against root, unlike TIOCEXCL) and TIOCEXCL. A lock held elsewhere is reported as EBUSY, a
// file that is no terminal as ENOTTY. On failure nothing stays open.
int OpenSerialDevice(const std::string& path, int& fd);
void CloseSerialDevice(int fd);

// Starts a worker thread of the device. Like std::thread it throws std::system_error when the
// system has no thread to give (EAGAIN), and so does an injected fault.
std::thread StartDeviceThread(std::function<void()> body);

int GetLineTermios(int fd, LineTermios& t);
int SetLineTermios(int fd, const LineTermios& t);

// Modem control lines.
enum ModemLine : int { kLineDtr = 0x002, kLineRts = 0x004 };
int SetModemLine(int fd, int line, bool on);
int GetModemLines(int fd, int& lines); // TIOCM_* bits

// Driver counters of line events, for line errors and modem line changes by difference.
struct LineCounters {
    int cts = 0, dsr = 0, rng = 0, dcd = 0;
    int frame = 0, overrun = 0, parity = 0, brk = 0, bufOverrun = 0;
    bool operator==(const LineCounters&) const = default;
};
int GetLineCounters(int fd, LineCounters& c);

// The driver's RS-485 settings; a driver without RS-485 refuses with ENOTTY.
int GetRs485(int fd, Rs485Settings& settings);
// Writes the named fields over the rest of the struct as read.
int SetRs485(int fd, const Rs485Settings& settings);

// True once the transmitter shift register is empty (TIOCSER_TEMT).
int TransmitterEmpty(int fd, bool& empty);
int DrainOutput(int fd);
// write() once, retried across signals: 0 with `written` set, or an errno (EAGAIN when full).
int WriteDevice(int fd, const void* bytes, std::size_t n, std::size_t& written);
int FlushInput(int fd);
int FlushOutput(int fd);

// errno values that mean "this driver has no such facility".
inline bool IsNotSupported(int err) {
    return err == 25 /*ENOTTY*/ || err == 22 /*EINVAL*/ || err == 95 /*EOPNOTSUPP*/;
}

// Raises or restores the calling thread's scheduling niceness (one step above normal while the
// RS-485 writer runs; the niceness silently stays without the right to raise it) and its timer
// slack (a few microseconds, so that its sleeps near the last stop bit end on time).
void SetCurrentThreadAboveNormal(bool above);

// The operating system's text for an errno, with control characters turned into blanks.
std::string OsErrorText(int err);

} // namespace vg57::platform
