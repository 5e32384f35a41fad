// One gauge on the simulated line: its chamber, its address, and the faults it is told to show.
#pragma once

#include "GaugeModel.h"

#include <cstdint>
#include <deque>
#include <optional>
#include <random>
#include <string>

namespace vg57sim {

struct Faults {
    bool silent = false;
    char echo = 0; // 0: the right letter
    int lengthDelta = 0;
    int corruptAt = 0; // 1-based position in the payload; 0: none
    char corruptWith = 0;
    bool garbage = false;
    int splitPieces = 1;
    int splitDelayMs = 0;
    int delayMs = 0;
    int delayOnceMs = -1; // the next reply's delay; -1: none
    bool noEnd = false;
};

// A reply, or a piece of one, due at a time on the steady clock.
struct Pending {
    std::int64_t at;
    std::string bytes;
};

class SimGauge {
public:
    SimGauge(char address, double startPa, std::uint32_t seed, double speed, std::int64_t nowMs);

    char Address() const { return address_; }
    void SetAddress(char c) { address_ = c; }
    const Faults& Fault() const { return faults_; }

    // The framed reply to a request payload, with the faults applied; nothing when the request
    // is not for this gauge, is unknown, or the gauge is silent.
    std::optional<std::string> Reply(const std::string& request, std::int64_t nowMs);
    // How long the next reply waits: the one-time delay if one is set (then spent), else the
    // lasting one.
    int TakeDelayMs();

    // A chamber or fault command; the reason it was refused, or nothing.
    std::optional<std::string> Execute(const std::string& cmd, const std::string& a,
                                       const std::string& b, std::int64_t nowMs);
    // "pressure 1.000e+05 Pa unit 0001 address 0"
    std::string Status(std::int64_t nowMs);

    // Replies on their way when the line is not paced, in the order they leave.
    std::deque<Pending> pending;

private:
    void CatchUp(std::int64_t nowMs);
    std::string Frame(std::string payload);

    GaugeModel model_;
    char address_;
    Faults faults_;
    double speed_;
    std::int64_t lastAdvanceMs_;
    std::mt19937 rng_;
};

} // namespace vg57sim
