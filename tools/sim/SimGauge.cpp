#include "SimGauge.h"

#include "Options.h"
#include "Protocol.h"

#include <algorithm>

namespace vg57sim {

SimGauge::SimGauge(char address, double startPa, std::uint32_t seed, double speed,
                   std::int64_t nowMs)
    : model_(startPa, seed), address_(address), speed_(speed), lastAdvanceMs_(nowMs),
      rng_(seed - 50) {}

void SimGauge::CatchUp(std::int64_t nowMs) {
    model_.Advance(static_cast<double>(nowMs - lastAdvanceMs_) / 1000.0 * speed_);
    lastAdvanceMs_ = nowMs;
}

std::optional<std::string> SimGauge::Reply(const std::string& request, std::int64_t nowMs) {
    if (request.empty() || request[0] != address_) return std::nullopt;
    // A character garbled on the line is a framing or parity error to the gauge's receiver:
    // it drops the whole request.
    for (char c : request)
        if (c < 0x20 || c > 0x7e) return std::nullopt;
    CatchUp(nowMs);
    auto reply = Answer(model_, address_, request);
    if (!reply || faults_.silent) return std::nullopt;
    return Frame(*reply);
}

int SimGauge::TakeDelayMs() {
    const int ms = faults_.delayOnceMs >= 0 ? faults_.delayOnceMs : faults_.delayMs;
    faults_.delayOnceMs = -1;
    return ms;
}

std::string SimGauge::Frame(std::string payload) {
    if (faults_.echo && payload.size() >= 2) payload[1] = faults_.echo;
    if (faults_.corruptAt > 0 && payload.size() >= static_cast<std::size_t>(faults_.corruptAt))
        payload[static_cast<std::size_t>(faults_.corruptAt - 1)] = faults_.corruptWith;
    if (faults_.lengthDelta > 0) payload.append(static_cast<std::size_t>(faults_.lengthDelta), '9');
    if (faults_.lengthDelta < 0)
        payload.resize(
            payload.size() -
            std::min<std::size_t>(payload.size(), static_cast<std::size_t>(-faults_.lengthDelta)));
    std::string frame;
    if (faults_.garbage) {
        std::uniform_int_distribution<int> len(1, 12), byte(0, 255);
        for (int i = len(rng_); i > 0; --i) {
            char c = static_cast<char>(byte(rng_));
            frame += c == kStx ? '\x7f' : c;
        }
    }
    frame += kStx + payload;
    if (!faults_.noEnd) frame += kCr;
    return frame;
}

std::string SimGauge::Status(std::int64_t nowMs) {
    CatchUp(nowMs);
    return "pressure " + FormatReal(model_.PressurePa()) + " Pa unit " + model_.UnitCode() +
           " address " + std::string(1, address_);
}

namespace {
// "on" or "off" into a flag; false leaves it as it was.
bool OnOff(const std::string& word, bool& flag) {
    if (word != "on" && word != "off") return false;
    flag = word == "on";
    return true;
}
} // namespace

std::optional<std::string> SimGauge::Execute(const std::string& cmd, const std::string& a,
                                             const std::string& b, std::int64_t nowMs) {
    const std::string onOff = "use on or off";
    // The time before the change passes in the chamber's old state.
    CatchUp(nowMs);
    if (cmd == "pump") {
        model_.SetState(Chamber::Pumping);
    } else if (cmd == "vent") {
        model_.SetState(Chamber::Venting);
    } else if (cmd == "hold") {
        model_.SetState(Chamber::Holding);
    } else if (cmd == "leak") {
        const auto rate = ParseReal(a);
        if (!rate || *rate <= 0) return "pascals per second needed, above 0";
        model_.StartLeak(*rate);
    } else if (cmd == "pressure") {
        const auto pa = ParseReal(a);
        if (!pa || *pa < 0) return "pascals needed, 0 or more";
        model_.SetPressurePa(*pa);
    } else if (cmd == "noise") {
        bool on = false;
        if (!OnOff(a, on)) return onOff;
        model_.SetNoise(on);
    } else if (cmd == "silent" || cmd == "garbage" || cmd == "noend") {
        bool& flag = cmd == "silent"    ? faults_.silent
                     : cmd == "garbage" ? faults_.garbage
                                        : faults_.noEnd;
        if (!OnOff(a, flag)) return onOff;
    } else if (cmd == "echo") {
        if (a.size() != 1 && a != "off") return "one letter needed, or off";
        faults_.echo = a == "off" ? 0 : a[0];
    } else if (cmd == "corrupt") {
        const auto at = ParseInt(a);
        if (a == "off") {
            faults_.corruptAt = 0;
        } else if (!at || *at < 1 || *at > 1000 || b.size() != 1) {
            return "a position (1..1000) and one character needed, or off";
        } else {
            faults_.corruptAt = *at;
            faults_.corruptWith = b[0];
        }
    } else if (cmd == "length") {
        const auto n = ParseInt(a);
        if (a != "off" && (!n || *n < -1000 || *n > 1000))
            return "a number of characters needed (-1000..1000), or off";
        faults_.lengthDelta = a == "off" ? 0 : *n;
    } else if (cmd == "split") {
        const auto pieces = ParseInt(a), ms = ParseInt(b);
        if (a == "off") {
            faults_.splitPieces = 1;
        } else if (!pieces || *pieces < 1 || !ms || *ms < 0) {
            return "a number of pieces (1 or more) and of milliseconds needed, or off";
        } else {
            faults_.splitPieces = *pieces;
            faults_.splitDelayMs = *ms;
        }
    } else if (cmd == "delay") {
        const auto ms = ParseInt(a);
        if (a != "off" && (!ms || *ms < 0)) return "a number of milliseconds needed, or off";
        if (!b.empty() && (b != "once" || a == "off")) return "only 'once' may follow";
        if (b == "once")
            faults_.delayOnceMs = *ms;
        else
            faults_.delayMs = a == "off" ? 0 : *ms;
    } else {
        return "unknown command (see --help)";
    }
    return std::nullopt;
}

} // namespace vg57sim
