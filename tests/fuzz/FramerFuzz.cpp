// Feeds the framer arbitrary bytes in arbitrary chunkings and checks every delivered payload
// against a model of the main window's framing: the bytes between a start byte 0x02 and the next
// end byte 0x0D, a 0x02 inside a packet being data. Input layout: the first byte seeds the
// chunk sizes; the rest is the line.
#include "DataPacket.h"

#include <cstdint>
#include <cstdlib>
#include <string>
#include <vector>

namespace {

std::vector<std::string> Expected(const std::uint8_t* data, std::size_t size) {
    std::vector<std::string> packets;
    bool collecting = false;
    std::string current;
    for (std::size_t i = 0; i < size; ++i) {
        const std::uint8_t b = data[i];
        if (!collecting) {
            if (b == 0x02) {
                collecting = true;
                current.clear();
            }
        } else if (b == 0x0D) {
            packets.push_back(current);
            collecting = false;
        } else {
            current += static_cast<char>(b);
        }
    }
    return packets;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    if (size < 1) return 0;
    std::uint32_t seed = data[0];
    const std::uint8_t* line = data + 1;
    const std::size_t n = size - 1;

    vg57::TDataPacketManager manager;
    vg57::TDataPacket framer;
    framer.StartString = "\x02";
    framer.SetEndString("\r");
    framer.SetEndCond(vg57::ecString);
    framer.IgnoreCase = false;
    framer.IncludeStrings = false;
    std::vector<std::string> got;
    framer.OnStringPacket = [&](vg57::TDataPacket&, const std::string& s) { got.push_back(s); };
    framer.SetManager(&manager);
    manager.Install([](std::int32_t) {}, [](std::function<void()> events) { events(); });
    framer.SetEnabled(true);

    for (std::size_t off = 0; off < n;) {
        seed = seed * 1103515245u + 12345u;
        const std::size_t chunk = std::min<std::size_t>(n - off, 1 + (seed >> 16) % 300);
        manager.Receive(line + off, chunk);
        off += chunk;
    }
    if (got != Expected(line, n)) std::abort();
    if (manager.Held() > n) std::abort();
    return 0;
}
