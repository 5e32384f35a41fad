// One half-duplex line shared by the program's adapter and every gauge: characters take their
// time on it, and two talkers driving it at once garble what every receiver takes.
#pragma once

#include <cstdint>
#include <deque>
#include <map>
#include <string>
#include <vector>

namespace vg57sim {

// The program's adapter; gauges talk under their own index (0, 1, ...).
constexpr int kHost = -1;

// Nanoseconds of one character: a start bit, 8 data bits, a parity bit unless there is none,
// and the stop bits (11 bit times at 9600 8O1).
std::int64_t CharacterNs(int baud, bool parity, int stopBits);

// A character as a receiver on the line took it.
struct LineChar {
    std::int64_t endNs; // when its last bit passed
    char byte;
    int talker;   // whose start bit the receiver locked on
    bool garbled; // another talker drove the line during it
    bool host;    // the program's adapter drove the line during it
};

class Wire {
public:
    explicit Wire(std::int64_t charNs) : charNs_(charNs) {}
    std::int64_t CharNs() const { return charNs_; }

    // Puts a talker's bytes on the line back to back from startNs, or from the end of what it
    // has queued already when that is later: a talker never overlaps itself. startNs must not
    // lie before the time of the last Take (the past is decided). Returns the end of the last.
    std::int64_t Send(int talker, std::int64_t startNs, const std::string& bytes);

    // The characters that have passed by nowNs, in order. The receiver locks on a start bit
    // while idle; a character whose start falls while it is busy is lost (it only garbles the
    // one being taken). Overlapping characters give a byte with the high bit set, which no
    // frame of the protocol carries.
    std::vector<LineChar> Take(std::int64_t nowNs);

    // When Take next has something to give; INT64_MAX when the line is quiet.
    std::int64_t NextDueNs() const;
    // When this talker's queued characters end (0 when it never talked).
    std::int64_t BusyUntilNs(int talker) const;
    // A pulled adapter: whatever was on its way is gone.
    void Clear();

private:
    struct Slot {
        std::int64_t start;
        int talker;
        char byte;
    };
    std::int64_t charNs_;
    std::deque<Slot> slots_; // by start; slots_[0..decided_) are taken or lost, kept while they
                             // can still overlap an undecided one
    std::size_t decided_ = 0;
    std::int64_t receiverFreeNs_ = INT64_MIN;
    std::map<int, std::int64_t> talkerEnd_;
};

} // namespace vg57sim
