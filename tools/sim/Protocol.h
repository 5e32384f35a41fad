// The gauge's side of the line protocol: requests 0x02, address, command, arguments, 0x0D; the
// reply's payload starts with the gauge's address and echoes the command's first letter.
#pragma once

#include "GaugeModel.h"

#include <optional>
#include <string>
#include <vector>

namespace vg57sim {

constexpr char kStx = 0x02;
constexpr char kCr = 0x0D;

// Cuts request frames out of the received bytes; bytes outside frames are ignored, as on a bus.
class RequestFramer {
public:
    // Payloads (between 0x02 and 0x0D) of the frames completed by these bytes.
    std::vector<std::string> Feed(const std::string& bytes);

private:
    bool inFrame_ = false;
    std::string current_;
};

// The reply payload to a request payload (address character, command, arguments), or nothing
// when the request is not for this address or is not a command the gauge knows.
std::optional<std::string> Answer(GaugeModel& gauge, char address, const std::string& request);

} // namespace vg57sim
