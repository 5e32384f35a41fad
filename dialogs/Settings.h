// The operator's connection settings. They live in memory only: every start begins from these
// defaults and nothing is saved. The polling interval, the scale kind and automatic scaling are
// kept by the objects that use them (the window's timer, the chart); whether the connection
// dialog was ever confirmed is kept by the gauge link.
#pragma once

#include <cstdint>
#include <string>

namespace vg57 {

struct TSettings {
    // A port name as the port map lists it, "COM" followed by the number.
    std::string ComPort = "COM3";
    // Bits per second: 1200, 4800, 9600, 19200 or 38400.
    std::int32_t BaudRate = 9600;
    // 0 none, 1 odd, 2 even: the positions of the serial port's parity kinds.
    std::int32_t Parity = 1;
    // 1 or 2.
    std::uint16_t StopBits = 1;
    // The gauge's address on the RS-485 line, one of "0123456789ABCDEF".
    char DevAddress = '0';
    // The addresses ticked in "Приборы на линии", in line order. Two or more: these gauges are
    // measured together and DevAddress is not used; fewer: DevAddress alone is measured.
    std::string LineAddresses;
    // The RTS level while sending on an RS-485 adapter: 0 high, 1 low, 2 as the driver states
    // (the positions of the dialog's list).
    std::int32_t RtsOnSend = 2;

    bool operator==(const TSettings&) const = default;
};

// The address characters; an address's list position is its index here.
inline constexpr char kDevAddressChars[] = "0123456789ABCDEF";

// The gauges the settings measure, in polling order: the ticked line addresses when two or more
// are ticked, else the single address.
inline std::string GaugeAddresses(const TSettings& settings) {
    return settings.LineAddresses.size() >= 2 ? settings.LineAddresses
                                              : std::string(1, settings.DevAddress);
}

} // namespace vg57
