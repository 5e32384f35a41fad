// Finding the gauges on a line: each address asked once with the first contact ("S3", as a link
// opens its talk with a gauge), through the line's one owner, on the line settings the operator
// is choosing. The connection dialog shows it; plain C++ on the user-interface thread.
//
// Waits dispatch events: the operator's "stop", another "find" or closing the dialog arrive
// inside a wait. Cancel cuts that wait at once; Run refuses while a scan runs (no nested scan).
#pragma once

#include "ComPort.h"
#include "GaugeBus.h"

#include <cstdint>
#include <functional>
#include <string>

namespace vg57 {

// The first contact a link makes with a gauge: any well-formed reply from its address is a
// gauge there.
inline constexpr char kFirstContactCommand[] = "S3";

// The port's line as the connection dialog chooses it, and whether the port is open.
struct TPortLine {
    std::uint16_t number = 0;
    std::int32_t baud = 9600;
    TParity parity = pOdd;
    std::uint16_t stopBits = 1;
    TRtsOnSend rtsOnSend = TRtsOnSend::Driver;
    bool open = false;
};
TPortLine LineOf(const TComPort& port);
// Sets the line on the port; it is opened or closed as `line.open` says (a port that was open
// is closed first, so that nothing is sent with half the settings). May raise the open's error.
void SetLine(TComPort& port, const TPortLine& line);
// The system's words in a serial or file error, with its detail where it has one.
std::string ErrorReason(const std::exception& e);

class TLineScan {
public:
    // The key under which a scan cuts the bus's exchanges.
    static constexpr char kOwner[] = "line scan";

    explicit TLineScan(TGaugeBus& bus) : bus_(bus) {}
    TLineScan(const TLineScan&) = delete;
    TLineScan& operator=(const TLineScan&) = delete;

    struct TResult {
        std::string asked;    // the addresses asked to the end, in order
        std::string answered; // those of them that answered
        bool cancelled = false;
        // Nothing or not all was asked, and why (Russian, for the operator): the port did not
        // open, the line is held, the port failed while scanning. Empty when all went well or
        // the scan was cancelled.
        std::string error;
    };

    // After each address asked to the end: how many of `total` are done, and what it said.
    std::function<void(int done, int total, char address, bool answered)> onProgress;

    // Asks each address once, the port opened with `line` (its `open` is ignored), and leaves
    // the port as it found it, settings and open state. `portName` names the port in errors.
    // Refused at once (an error, nothing sent) while a scan runs, an exchange waits or a command
    // sequence holds the line; the scan holds the line meanwhile, so no other sequence starts in
    // its waits.
    TResult Run(const TPortLine& line, const std::string& portName, const std::string& addresses);
    // Ends the running scan within the wait it is in; nothing when none runs.
    void Cancel();
    bool Running() const { return running_; }

private:
    TGaugeBus& bus_;
    bool running_ = false;
    bool cancelled_ = false;
};

} // namespace vg57
