// Pure rules that turn the serial link's line settings into terminal attributes.
//
// They work on LineTermios, a copy of the kernel's termios2 (the form that carries any bit
// rate), so that every rule is tested without a device: a pseudo-terminal silently ignores
// parity and character size and could not tell a wrong flag from a right one.
#pragma once

#include <cstdint>

namespace vg57::platform {

struct LineTermios {
    std::uint32_t iflag = 0;
    std::uint32_t oflag = 0;
    std::uint32_t cflag = 0;
    std::uint32_t lflag = 0;
    std::uint8_t line = 0;
    std::uint8_t cc[19] = {};
    std::uint32_t ispeed = 0;
    std::uint32_t ospeed = 0;

    bool operator==(const LineTermios&) const = default;
};

// Parity codes as the port passes them: 0 none, 1 odd, 2 even, 3 mark, 4 space; 5 keeps.
enum ParityCode : int {
    kParityNone = 0,
    kParityOdd,
    kParityEven,
    kParityMark,
    kParitySpace,
    kParityKeep
};
constexpr int kDataBitsKeep = 9;
constexpr int kStopBitsKeep = 3;

// What the rules need of the settings: each "keep" value leaves the current one alone.
struct LineWanted {
    std::uint32_t rate = 0; // 0 keeps the current rate
    int parity = kParityKeep;
    int dataBits = kDataBitsKeep;
    int stopBits = kStopBitsKeep;
};

// Raw mode with the receiver on and modem status ignored; reads return at once (VMIN 1, VTIME 0
// with a non-blocking descriptor). Without it Linux would turn the frame end 0x0D into 0x0A.
LineTermios MakeRaw(LineTermios t);

// The line settings applied to t: rate (any value, through BOTHER), parity including mark and
// space (CMSPAR), 5 to 8 data bits, 1 or 2 stop bits (5 data bits always get the "1.5" setting,
// CSTOPB), received parity never checked, and raw mode.
LineTermios ApplyLine(LineTermios t, const LineWanted& wanted);

// Hardware and software handshake. Linux has RTS/CTS flow only (CRTSCTS); DTR/DSR flow has no
// equivalent and is kept as a setting without effect on the line.
LineTermios ApplyHandshake(LineTermios t, bool rtsCts, bool xonOnReceive, bool xonOnTransmit,
                           std::uint8_t xonChar, std::uint8_t xoffChar);

// True when both describe the same line: flags, control characters and rate, however the
// kernel chose to encode the rate (it may report BOTHER 9600 back as B9600).
bool SameLine(const LineTermios& a, const LineTermios& b);

// Readings back from the attributes.
std::uint32_t RateOf(const LineTermios& t);
int ParityOf(const LineTermios& t);
int DataBitsOf(const LineTermios& t);
int StopBitsOf(const LineTermios& t); // 1 or 2

// Milliseconds, rounded up, for 18 characters at a rate: how long a line change waits before
// it switches. bits = start + data + parity + stop bits; a wait below 1 ms is doubled first.
std::uint32_t EighteenCharsMs(std::uint32_t rate, int dataBits, bool parity, int stopBits);

} // namespace vg57::platform
