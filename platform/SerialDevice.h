// Thin wrapper over one tty descriptor: the only file that speaks to the Linux serial driver.
// Every call returns 0 or an errno value; what an errno means to the link is the caller's rule.
#pragma once

#include "TermiosRules.h"

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
    FlushInput,
    FlushOutput,
    StartThread, // not the device's own, but a step of opening it that the system may refuse
};

// A seam for tests: asked before every device call, from whichever thread makes it; a non-zero
// errno makes that call fail with it without reaching the device. The program installs none.
class DeviceFaults {
public:
    virtual ~DeviceFaults() = default;
    virtual int Inject(DeviceCall call) = 0;
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

// The driver's own RS-485 direction control: RTS raised while it transmits.
struct Rs485Saved {
    bool valid = false;
    unsigned char raw[32] = {}; // struct serial_rs485, kept opaque here
};
int GetRs485(int fd, Rs485Saved& saved);
int SetRs485(int fd, const Rs485Saved& saved);
// Turns on RS-485 mode with RTS on send; 0 when the driver reads back enabled.
int EnableRs485RtsOnSend(int fd);

// True once the transmitter shift register is empty (TIOCSER_TEMT).
int TransmitterEmpty(int fd, bool& empty);
int DrainOutput(int fd);
int FlushInput(int fd);
int FlushOutput(int fd);

// errno values that mean "this driver has no such facility".
inline bool IsNotSupported(int err) {
    return err == 25 /*ENOTTY*/ || err == 22 /*EINVAL*/ || err == 95 /*EOPNOTSUPP*/;
}

// Raises or restores the calling thread's scheduling niceness (one step above normal while the
// RS-485 writer runs); silently does nothing without the right to do so.
void SetCurrentThreadAboveNormal(bool above);

// The operating system's text for an errno, with control characters turned into blanks.
std::string OsErrorText(int err);

} // namespace vg57::platform
