// Feeds the framer arbitrary bytes in arbitrary chunkings, with time-outs and port closes
// between chunks, and checks every delivered payload against a model of the main window's
// framing: the bytes between a start byte 0x02 and the next end byte 0x0D, a 0x02 inside a
// packet being data; a time-out or a close drops the packet being collected. Input layout: the
// first byte seeds the chunk sizes and the events; the rest is the line.
#include "DataPacket.h"

#include <cstdint>
#include <cstdlib>
#include <string>
#include <vector>

namespace {

// The framing as the program relies on it, written plainly.
class Model {
public:
    void Feed(const std::uint8_t* data, std::size_t size) {
        for (std::size_t i = 0; i < size; ++i) {
            const std::uint8_t b = data[i];
            if (!collecting_) {
                if (b == 0x02) {
                    collecting_ = true;
                    current_.clear();
                }
            } else if (b == 0x0D) {
                packets.push_back(current_);
                collecting_ = false;
            } else {
                current_ += static_cast<char>(b);
            }
        }
    }
    void Drop() { collecting_ = false; } // a time-out or a close
    std::vector<std::string> packets;

private:
    bool collecting_ = false;
    std::string current_;
};

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
    auto install = [&] {
        manager.Install([](std::int32_t) {}, [](std::function<void()> events) { events(); });
    };
    install();
    framer.SetEnabled(true);

    Model model;
    for (std::size_t off = 0; off < n;) {
        seed = seed * 1103515245u + 12345u;
        const std::size_t chunk = std::min<std::size_t>(n - off, 1 + (seed >> 16) % 300);
        manager.Receive(line + off, chunk);
        model.Feed(line + off, chunk);
        off += chunk;
        switch ((seed >> 8) % 16) {
        case 0: // the packet being collected times out
            manager.TimerExpired();
            model.Drop();
            break;
        case 1: // the port closes and opens again
            manager.Uninstall();
            install();
            model.Drop();
            break;
        default:
            break;
        }
    }
    if (got != model.packets) std::abort();
    if (manager.Held() > n) std::abort();
    return 0;
}
