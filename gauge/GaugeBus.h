// The one owner of the line: the port, its framer, and one request/reply exchange at a time for
// any number of gauge addresses. Every gauge's link (TGaugeLink) talks through it; the window and
// `vg57-cli log` build it alike. Plain C++ on the user-interface thread.
//
// Replies carry no request number, so a reply is matched to its request by shape and order: it
// is taken only when no other unanswered request to that gauge expects a reply of the same shape
// (length and echo letter). After any exchange that did not end in a well-formed reply, the next
// request to that gauge is preceded, when its reply would look like one still owed, by a sentinel
// whose reply looks like none of them; everything before the sentinel's reply is dropped. The
// gauge answers in order, so every older reply is then behind us.
//
// Waits dispatch events: packet deliveries, timer ticks and painting run inside them, so every
// routine here must be re-entrant.
#pragma once

#include "ComPort.h"
#include "DataPacket.h"

#include <cstdint>
#include <functional>
#include <map>
#include <optional>
#include <string>
#include <vector>

namespace vg57 {

enum TTransferState : std::uint8_t { tsWaiting = 0, tsReady = 1 };

// What a well-formed reply to a command looks like: its length and its echo letter (the payload's
// second character, after the address).
struct TReplyShape {
    std::size_t length = 0;
    char echo = 0;
    bool operator==(const TReplyShape&) const = default;
};
// The command table's shapes; none for "S3" (its reply is neither checked nor documented) and for
// anything unknown: such a reply may look like any other.
std::optional<TReplyShape> ReplyShapeOf(const std::string& command);

class TGaugeBus {
public:
    static constexpr std::int32_t kReplyTimeoutTicks = 40;
    // How long the line must have been quiet from a gauge before, with no sentinel left that
    // could tell its replies apart, whatever it still owes is given up: the longest time-out.
    static constexpr std::int64_t kQuietLimitMs = 2200;
    // A gauge that failed twice running is tried at most this often while others share the line.
    static constexpr std::int64_t kSilentRetryMs = 10000;

    // The framer as the gauge's frames need it (0x02 ... 0x0D), bound to the port; RS-485 with
    // RTS dropped. The rate, parity and port number are the caller's.
    TGaugeBus();
    // The port must be closed before (closing handles events that may reach the caller).
    ~TGaugeBus();
    TGaugeBus(const TGaugeBus&) = delete;
    TGaugeBus& operator=(const TGaugeBus&) = delete;

    TComPort& Port() { return port_; }
    const TComPort& Port() const { return port_; }
    TDataPacket& Framer() { return framer_; }

    // ---- state (plain fields, user-interface thread only) ----
    TTransferState TransferState = tsReady; // an exchange waits for its reply
    std::string LastReply;                  // the newest packet, taken or not
    // A command sequence holds the line (the exclusive-use guard): other sequences, any gauge's,
    // are refused until it releases it.
    bool GaugeBusy = false;
    std::int32_t AcquireDepth = 0; // a guard is setting up (its own exchanges may wait)

    // One exchange with the gauge at `address`: 0x02, address, command, 0x0D, and up to 40 ticks
    // for its reply. False with the reply empty when refused (another exchange waits, exchanges
    // are cut, the program is closing), on time-out, when cut short, or when a sentinel before it
    // failed (the command then never went out). The reply's own shape is the caller's to check;
    // a reply of the wrong shape still makes the next request resynchronise.
    // A write error is raised after TransferState is back at tsReady.
    bool Exchange(char address, const std::string& command, std::string& reply);
    // Whether Exchange would refuse at once, touching nothing.
    bool Refuses() const { return TransferState == tsWaiting || Cut(); }
    // Exchanges are cut (Stop, closing) or the program is quitting.
    bool Cut() const;

    // ---- turns on a shared line ----
    // Whether the gauge at `address` is due a try now: always, unless it failed twice or more
    // running and was tried less than kSilentRetryMs ago.
    bool TurnDue(char address) const;
    // Exchanges with the gauge that failed since its last answer.
    int FailuresRunning(char address) const;

    // ---- cutting waits short (Stop and closing the window) ----
    // Ends the running wait at once (that exchange fails) and makes every further exchange fail
    // at once without writing, until every owner that cut has resumed.
    void CancelExchanges(const std::string& owner = {});
    void ResumeExchanges(const std::string& owner = {});

    // ---- what the line did, for the metrics ----
    struct TCounters {
        std::uint64_t exchanges = 0; // requests written, sentinels included
        std::uint64_t resyncs = 0;   // sentinels sent, and owed replies given up after quiet
        std::uint64_t strays = 0;    // replies from another address than the one asked
        std::uint64_t echoes = 0;    // our own requests read back
        std::uint64_t dropped = 0;   // late replies and garbage dropped while resynchronising
    };
    const TCounters& Counters() const { return counters_; }
    // The adapter hands our requests back (seen since the port last opened).
    bool Echoing() const { return echoing_; }
    // Said once, the first time the adapter is seen echoing: "адаптер возвращает отправленные
    // байты".
    std::function<void(const std::string& text)> onNotice;
    // Called when a packet arrives, after the bus has looked at it (tests and tracing).
    std::function<void(const std::string& data)> onPacket;

private:
    struct TGauge {
        std::vector<std::string> owed; // requests whose replies may still come, oldest first
        int failuresRunning = 0;
        std::int64_t lastTryMs = -1;
        std::int64_t lastRequestMs = -1;
        std::int64_t lastPacketMs = -1;
    };
    enum class TWait { answered, failed, cut };

    // One request on the line and its wait; `owed` filters what may answer it.
    TWait Transact(TGauge& gauge, char address, const std::string& command, std::string& reply,
                   std::uint64_t generation);
    // Whether a reply to `command` could be taken for one still owed.
    static bool Confusable(const TGauge& gauge, const std::string& command);
    static std::optional<std::string> Sentinel(const TGauge& gauge);
    bool AwaitQuiet(const TGauge& gauge, std::uint64_t generation);
    void OnPacket(TDataPacket& sender, const std::string& data);

    TComPort port_;
    TDataPacket framer_; // after the port: destroyed before it
    std::map<char, TGauge> gauges_;
    TCounters counters_;
    bool echoing_ = false, echoSaid_ = false;

    // The exchange waiting now.
    char waitingAddress_ = 0;
    std::string waitingRequest_;           // address and command, as an echo would read
    std::vector<std::string> waitingOwed_; // address and command of each still owed
    std::optional<TReplyShape> waitingShape_;
    bool filtering_ = false;         // owed replies may come first: only the expected shape answers
    std::uint64_t writtenChunk_ = 0; // chunks received before the request was written
    bool transacting_ = false;       // a request is on the line and waits
    bool answered_ = false;
    std::string answer_;

    std::map<std::string, int> cuts_; // owner -> cuts it made that are still in force
    // Changes with every CancelExchanges: a wait that began before it ends.
    std::uint64_t cancelGeneration_ = 0;
};

} // namespace vg57
