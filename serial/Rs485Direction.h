// How the RS-485 transmitter is switched on for our requests: what the open asks of the driver,
// which level RTS takes while sending, the timing of a program-driven RTS, and the words that
// tell a person which of them is in force. Plain functions, tested without a device.
#pragma once

#include "SerialDevice.h"

#include <cstddef>
#include <cstdint>
#include <string>

namespace vg57 {

// Who switches the transmitter while RS-485 mode is on.
enum class TRs485Direction {
    Off,        // RS-485 mode off
    Driver,     // the driver switches RTS around what it sends (TIOCSRS485)
    UserToggle, // we switch RTS, write, wait for the transmitter to empty, switch it back
    None,       // no modem control at all (pseudo-terminal, self-switching adapter): plain writes
};

// The RTS level while sending, as the operator chose it.
enum class TRtsOnSend { Driver, High, Low };

// The direction control in force on an open port.
struct TRs485State {
    TRs485Direction direction = TRs485Direction::Off;
    bool rtsHighWhileSending = true;
    std::uint32_t delayBeforeMs = 0, delayAfterMs = 0; // the driver's, where it switches
    bool operator==(const TRs485State&) const = default;
};

// What to ask of a driver that holds `held`: RS-485 on and nothing else changed where the driver
// states one polarity (its delays too); RTS on send where it states none (or both); the
// operator's polarity over the driver's.
platform::Rs485Settings Rs485Request(const platform::Rs485Settings& held, TRtsOnSend choice);

// The RTS level while sending where the program switches RTS: the operator's choice, else the
// polarity the driver states (`held` null: it said nothing), else high.
bool RtsHighWhileSending(const platform::Rs485Settings* held, TRtsOnSend choice);

// One line for the port's tooltip and the logger: which direction control is in force.
std::string DescribeRs485(const TRs485State& state);

// ---- timing of a program-driven RTS ----

// Bits on the line per character: start, data, parity and stop bits.
int BitsPerCharacter(const platform::LineTermios& line);
// How long the line takes to send n characters.
std::int64_t TransmitNs(std::size_t n, int bitsPerChar, std::uint32_t rate);
// The next sleep while waiting for the transmitter to empty, `remainingNs` before the computed
// end of the last stop bit (zero or less once past it): long while far, short when near.
// A transmitter that empties a little early (a fast clock) is caught by the short ones.
std::int64_t PollStepNs(std::int64_t remainingNs);
// How long past the computed end the wait may go on before RTS is dropped regardless (a start
// delayed by the driver or an adapter, a slightly slow clock).
std::int64_t HoldMarginNs(std::int64_t transmitNs);

} // namespace vg57
