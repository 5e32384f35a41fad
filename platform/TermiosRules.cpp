#include "TermiosRules.h"

#include <algorithm>
#include <iterator>
#include <termios.h>

namespace vg57::platform {

namespace {

// termios2's "other baud rate" marker; the libc header does not define it.
constexpr std::uint32_t kBother = 0010000;
constexpr std::uint32_t kCbaud = 0010017;
constexpr std::uint32_t kCibaud = 002003600000; // input rate bits; 0 means "as output"

struct StdRate {
    std::uint32_t code;
    std::uint32_t rate;
};
constexpr StdRate kStdRates[] = {
    {B50, 50},           {B75, 75},          {B110, 110},         {B134, 134},
    {B150, 150},         {B200, 200},        {B300, 300},         {B600, 600},
    {B1200, 1200},       {B1800, 1800},      {B2400, 2400},       {B4800, 4800},
    {B9600, 9600},       {B19200, 19200},    {B38400, 38400},     {B57600, 57600},
    {B115200, 115200},   {B230400, 230400},  {B460800, 460800},   {B500000, 500000},
    {B576000, 576000},   {B921600, 921600},  {B1000000, 1000000}, {B1152000, 1152000},
    {B1500000, 1500000}, {B2000000, 2000000}};

} // namespace

LineTermios MakeRaw(LineTermios t) {
    t.iflag &= ~(IGNBRK | BRKINT | PARMRK | ISTRIP | INLCR | IGNCR | ICRNL | IXON | IXOFF | IXANY |
                 INPCK | IUCLC | IMAXBEL);
    t.oflag &= ~OPOST;
    t.lflag &= ~(ECHO | ECHONL | ICANON | ISIG | IEXTEN | ECHOE | ECHOK);
    t.cflag |= CLOCAL | CREAD;
    t.cc[VMIN] = 1;
    t.cc[VTIME] = 0;
    return t;
}

LineTermios ApplyLine(LineTermios t, const LineWanted& w) {
    const bool keepXon = (t.iflag & IXON) != 0, keepXoff = (t.iflag & IXOFF) != 0;
    t = MakeRaw(t);
    // The handshake is the handshake rule's business, not raw mode's.
    if (keepXon) t.iflag |= IXON;
    if (keepXoff) t.iflag |= IXOFF;

    if (w.rate != 0 && (w.rate != RateOf(t) || (t.cflag & kCibaud) != 0)) {
        t.cflag = (t.cflag & ~(kCbaud | kCibaud)) | kBother;
        t.ispeed = t.ospeed = w.rate;
    }
    if (w.parity != kParityKeep) {
        t.cflag &= ~(PARENB | PARODD | CMSPAR);
        switch (w.parity) {
        case kParityOdd:
            t.cflag |= PARENB | PARODD;
            break;
        case kParityEven:
            t.cflag |= PARENB;
            break;
        case kParityMark:
            t.cflag |= PARENB | CMSPAR | PARODD;
            break;
        case kParitySpace:
            t.cflag |= PARENB | CMSPAR;
            break;
        default:
            break;
        }
    }
    const int bits = w.dataBits == kDataBitsKeep ? DataBitsOf(t) : w.dataBits;
    if (w.dataBits != kDataBitsKeep) {
        t.cflag &= ~CSIZE;
        switch (bits) {
        case 5:
            t.cflag |= CS5;
            break;
        case 6:
            t.cflag |= CS6;
            break;
        case 7:
            t.cflag |= CS7;
            break;
        default:
            t.cflag |= CS8;
            break;
        }
    }
    if (w.stopBits != kStopBitsKeep) {
        if (w.stopBits <= 1)
            t.cflag &= ~CSTOPB;
        else
            t.cflag |= CSTOPB;
    }
    // With 5 data bits the UART's "two stop bits" setting gives one and a half.
    if (bits == 5) t.cflag |= CSTOPB;
    // Parity is generated on transmit; received characters are never checked for it.
    t.iflag &= ~(INPCK | PARMRK | IGNPAR);
    return t;
}

LineTermios ApplyHandshake(LineTermios t, bool rtsCts, bool xonOnReceive, bool xonOnTransmit,
                           std::uint8_t xonChar, std::uint8_t xoffChar) {
    if (rtsCts)
        t.cflag |= CRTSCTS;
    else
        t.cflag &= ~CRTSCTS;
    // Receive handshake: we send XOFF when our buffer fills (IXOFF). Transmit handshake: we obey
    // XOFF from the far end (IXON).
    if (xonOnReceive)
        t.iflag |= IXOFF;
    else
        t.iflag &= ~IXOFF;
    if (xonOnTransmit)
        t.iflag |= IXON;
    else
        t.iflag &= ~IXON;
    t.cc[VSTART] = xonChar;
    t.cc[VSTOP] = xoffChar;
    return t;
}

bool SameLine(const LineTermios& a, const LineTermios& b) {
    const std::uint32_t rateBits = kCbaud | kCibaud;
    return a.iflag == b.iflag && a.oflag == b.oflag && a.lflag == b.lflag &&
           (a.cflag & ~rateBits) == (b.cflag & ~rateBits) && RateOf(a) == RateOf(b) &&
           std::equal(std::begin(a.cc), std::end(a.cc), std::begin(b.cc));
}

std::uint32_t RateOf(const LineTermios& t) {
    const std::uint32_t code = t.cflag & kCbaud;
    if (code == kBother) return t.ospeed;
    for (const auto& r : kStdRates)
        if (r.code == code) return r.rate;
    return 0;
}

int ParityOf(const LineTermios& t) {
    if (!(t.cflag & PARENB)) return kParityNone;
    const bool odd = (t.cflag & PARODD) != 0;
    if (t.cflag & CMSPAR) return odd ? kParityMark : kParitySpace;
    return odd ? kParityOdd : kParityEven;
}

int DataBitsOf(const LineTermios& t) {
    switch (t.cflag & CSIZE) {
    case CS5:
        return 5;
    case CS6:
        return 6;
    case CS7:
        return 7;
    default:
        return 8;
    }
}

int StopBitsOf(const LineTermios& t) {
    return (t.cflag & CSTOPB) ? 2 : 1;
}

std::uint32_t EighteenCharsMs(std::uint32_t rate, int dataBits, bool parity, int stopBits) {
    if (rate == 0) return 0;
    const std::uint64_t bits = 1 + dataBits + (parity ? 1 : 0) + (stopBits == 1 ? 1 : 2);
    std::uint64_t t = (10000000ull / rate) * bits * 18; // units of 0.1 us
    if (t < 10000) t *= 2;
    return static_cast<std::uint32_t>((t + 9999) / 10000);
}

} // namespace vg57::platform
