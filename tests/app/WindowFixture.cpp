#include "WindowFixture.h"

#include <fstream>
#include <sstream>

namespace vg57::test {

std::vector<std::string> WindowFixture::Requests() const {
    // Log lines: "<stamp> RX <hex bytes>  \"<text>\"": join every received byte, then cut frames.
    std::ifstream log(home.Path() + "/sim.log");
    std::string line, bytes;
    while (std::getline(log, line)) {
        const std::size_t rx = line.find(" RX ");
        if (rx == std::string::npos) continue;
        std::istringstream hex(line.substr(rx + 4, line.find("  \"", rx) - rx - 4));
        for (std::string h; hex >> h;)
            bytes += static_cast<char>(std::stoi(h, nullptr, 16));
    }
    std::vector<std::string> out;
    for (std::size_t at = 0; (at = bytes.find('\x02', at)) != std::string::npos;) {
        const std::size_t end = bytes.find('\r', at);
        if (end == std::string::npos) break;
        out.push_back(bytes.substr(at + 2, end - at - 2)); // without the address
        at = end;
    }
    return out;
}

} // namespace vg57::test
