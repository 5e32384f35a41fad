#include "Protocol.h"

namespace vg57sim {

std::vector<std::string> RequestFramer::Feed(const std::string& bytes) {
    std::vector<std::string> frames;
    for (char c : bytes) {
        if (c == kStx) { // a new start abandons a frame that never ended
            inFrame_ = true;
            current_.clear();
        } else if (inFrame_ && c == kCr) {
            frames.push_back(current_);
            inFrame_ = false;
        } else if (inFrame_) {
            current_ += c;
        }
    }
    return frames;
}

std::optional<std::string> Answer(GaugeModel& gauge, char address, const std::string& request) {
    if (request.size() < 3 || request[0] != address) return std::nullopt;
    const std::string command = request.substr(1, 2);
    const std::string args = request.substr(3);
    const std::string me(1, address);

    if (command == "S3" && args.empty()) return me + "S"; // "hello": a short acknowledgement
    if (command == "R1" && args.empty()) return me + "R" + gauge.UnitCode();
    if (command == "S1" && args.empty()) return me + "S" + EncodeNumber(gauge.PressureInUnit());
    if ((command == "R2" || command == "R3" || command == "R4") && args.empty())
        return me + "R" + gauge.SetPoints(command[1] - '1');
    if (command == "W1" && args.size() == 4) {
        gauge.SetUnitCode(args); // an unknown code is acknowledged and ignored
        return me + "W";
    }
    if ((command == "W2" || command == "W3" || command == "W4") && args.size() == 8) {
        gauge.SetSetPoints(command[1] - '1', args);
        return me + "W";
    }
    if (command == "C1" && args.empty())
        return me + "C" + (gauge.CalibrateAtmosphere() ? "0000" : "0001");
    if (command == "C2" && args.empty())
        return me + "C" + (gauge.CalibrateZero() ? "0000" : "0002");
    return std::nullopt;
}

} // namespace vg57sim
