// The packet framer: cuts packets out of the bytes a port receives, from a start string to an
// end string (or after a size). All framers of one port share one collector that holds the
// received bytes and offers each byte to them.
//
// The framer and its collector are plain objects fed with bytes (Receive) and timer expiries
// (TimerExpired); TDataPacketPort binds a collector to a serial port, its dispatcher and the
// user-interface thread. Delivery runs through the collector's TDeliver, which the port binding
// makes a blocking hand-over to the user-interface thread.
#pragma once

#include <atomic>
#include <cstdint>
#include <exception>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

namespace vg57 {

class TComPort;
class TDataPacketManager;

enum TStartCond : int { scString, scAnyData };
enum TEndCondFlag : unsigned { ecString = 1, ecPacketSize = 2 };
using TEndCond = unsigned; // set of TEndCondFlag
enum class TPacketState { idle, waitingForStart, collecting };

class TDataPacket {
public:
    TDataPacket();
    ~TDataPacket();
    TDataPacket(const TDataPacket&) = delete;
    TDataPacket& operator=(const TDataPacket&) = delete;

    bool Enabled() const;
    void SetEnabled(bool v);
    bool AutoEnable = true;
    TStartCond StartCond = scString;
    TEndCond EndCond() const { return endCond_; }
    void SetEndCond(TEndCond v);
    std::string StartString;
    const std::string& EndString() const { return endString_; }
    void SetEndString(const std::string& v);
    bool IgnoreCase = true;
    std::int32_t PacketSize = 0;
    bool IncludeStrings = true;
    std::int32_t TimeOut = 2184; // ticks of 55 ms; 0: no time-out

    std::function<void(TDataPacket& sender, const std::uint8_t* data, std::size_t size)> OnPacket;
    std::function<void(TDataPacket& sender, const std::string& data)> OnStringPacket;
    std::function<void(TDataPacket& sender)> OnTimeout;

    // Binds the framer to a port's collector (created with the first framer of the port).
    // Unbinding, or destroying the framer, drops its packets still on their way to the
    // user-interface thread: their events never run.
    TComPort* ComPort() const { return port_; }
    void SetComPort(TComPort* port);
    // Binds the framer to a collector directly (tests and the fuzzer drive it with bytes).
    void SetManager(TDataPacketManager* manager);
    TDataPacketManager* Manager() const { return manager_; }

    TPacketState State() const;
    // Inside its packet events: when the packet's first byte arrived (MonotonicMs), so that a
    // reply that came before its request can be told from the answer.
    std::int64_t PacketArrivalMs() const { return arrivalMs_; }
    // Inside its packet events: the number of the received chunk that held the packet's first
    // byte (TDataPacketManager::ChunksReceived). Orders a packet against a write exactly, where
    // two millisecond stamps may be equal.
    std::uint64_t PacketChunk() const { return arrivalChunk_; }

private:
    friend class TDataPacketManager;
    struct Pattern {
        std::string bytes;
        std::vector<bool> wildcard;
        std::size_t size() const { return bytes.size(); }
    };
    static Pattern Prepare(const std::string& text, bool ignoreCase);
    bool MatchStart(std::uint8_t b, std::size_t at) const;
    bool MatchEnd(std::uint8_t b, std::size_t at) const;

    // Read and written under the manager's lock, and read by Enabled()/State() without it.
    std::atomic<bool> enabled_{false};
    TEndCond endCond_ = 0;
    std::string endString_;
    TComPort* port_ = nullptr;
    // Set by SetComPort while bound to a port: how the destructor lets go of the port's
    // collector (that code lives with the port binding, which plain framers do without).
    void (*unbindPort_)(TDataPacket&) = nullptr;
    TDataPacketManager* manager_ = nullptr;

    // Framing state, guarded by the manager's lock.
    std::atomic<TPacketState> state_{TPacketState::idle};
    long startPos_ = -1;
    std::size_t startIndex_ = 1, endIndex_ = 1;
    long endStart_ = -1; // first byte of the partial end match
    Pattern start_, end_;
    bool enablePending_ = false;
    std::atomic<bool> enabledTouched_{false}; // Enabled set by a handler during the events
    // Which binding this is: the manager's count at Bind. Events of a packet cut for an earlier
    // binding, or for a destroyed framer whose address another framer took, find it changed.
    std::uint64_t binding_ = 0;
    bool delivering_ = false;        // its events are on their way; the delivery disabled it
    std::uint64_t delivery_ = 0;     // counts its deliveries: which one delivering_ stands for
    std::int64_t arrivalMs_ = -1;    // the user-interface thread's: set before its packet events
    std::uint64_t arrivalChunk_ = 0; // likewise
};

class TDataPacketManager {
public:
    // Runs the packet or time-out events of a delivery; returns when they have run.
    using TDeliver = std::function<void(std::function<void()> events)>;
    // Starts (ticks > 0) or stops (ticks 0) the collector's timer slot.
    using TArmTimer = std::function<void(std::int32_t ticks)>;
    static constexpr std::size_t kGrowStep = 8192;

    TDataPacketManager();
    ~TDataPacketManager();

    void Bind(TDataPacket& framer);
    void Unbind(TDataPacket& framer);
    const std::vector<TDataPacket*>& Framers() const { return framers_; }

    // Installed while the port is open: framers are armed; removing disarms them and frees the
    // buffer (a packet cut off is lost without an event).
    void Install(TArmTimer armTimer, TDeliver deliver);
    void Uninstall();
    bool Installed() const;

    // Shows an error that a packet or time-out handler let escape (framing goes on).
    std::function<void(std::exception_ptr)> onError;
    // Tests only: runs on the delivering thread once the events have returned, before the
    // collector is locked again (a pause there widens the window after a close in the events).
    // Set before the port opens.
    std::function<void()> afterEventsForTests;

    // On the dispatch thread: bytes received (taken from the device at `arrivedMs`,
    // MonotonicMs; -1: now), and the timer slot's expiry.
    void Receive(const std::uint8_t* bytes, std::size_t n, std::int64_t arrivedMs = -1);
    void TimerExpired();

    bool Busy() const;
    // Counts the chunks of bytes received since the collector was made (never reset, so a
    // reopen keeps the order). Read before a write: every packet whose first byte came in a
    // later chunk was read after it.
    std::uint64_t ChunksReceived() const { return chunks_.load(); }
    std::size_t Held() const;     // bytes in the collection buffer
    std::size_t Capacity() const; // its allocated size (0 when freed)

    // Called by the framer's setters.
    void SetEnabled(TDataPacket& f, bool v);
    void Arm(TDataPacket& f);
    void Disarm(TDataPacket& f);

private:
    void ArmLocked(TDataPacket& f);
    void DisarmLocked(TDataPacket& f);
    void EnterCollecting(TDataPacket& f);
    void LeaveCollecting();
    void Scan(long from);
    void Offer(TDataPacket& f, long i);
    void OfferWaiting(TDataPacket& f, long i, std::uint8_t b);
    void OfferCollecting(TDataPacket& f, long i, std::uint8_t b);
    // Before the events of a packet or a time-out: busy, every enabled framer disarmed, this
    // one disabled and delivering.
    void BeginDelivery(TDataPacket& f);
    void Deliver(TDataPacket& f, long endAt, bool byEndString);
    void RunEventsUnlocked(const std::function<void()>& events);
    void EndBusy();
    void AfterClosedDuringEvents(TDataPacket& f, std::uint64_t binding, std::uint64_t delivery);
    // The delivery is over: the framer is enabled again as after one (unless a handler decided).
    static void EndDelivery(TDataPacket& f);
    void FreeIfEmpty();
    // When the buffer's byte i arrived; and the bytes before `n` leaving it.
    struct TArrival {
        long first;          // where the run of bytes begins in buffer_
        std::int64_t ms;     // when it arrived
        std::uint64_t chunk; // its number among all chunks received
    };
    TArrival ArrivalAt(long i) const;
    void DropArrivals(long n);
    // Whether f is still bound by the same binding: the first takes the lock, the second
    // expects it held.
    bool Bound(const TDataPacket* f, std::uint64_t binding) const;
    bool BoundLocked(const TDataPacket* f, std::uint64_t binding) const;
    bool PrefixMatches(const TDataPacket& f, bool endPattern, long from, long to) const;

    mutable std::mutex lock_; // released while the events of a delivery run
    std::vector<TDataPacket*> framers_;
    std::vector<std::uint8_t> buffer_; // its capacity grows in steps of kGrowStep
    // Each received chunk: where it begins in buffer_, when it arrived, and its number.
    std::vector<TArrival> arrivals_;
    std::atomic<std::uint64_t> chunks_{0};
    long scanIndex_ = -1;
    TDataPacket* collecting_ = nullptr;
    bool busy_ = false;
    long deferredScan_ = -1;
    bool scanning_ = false;
    bool installed_ = false;
    std::uint64_t generation_ = 0; // changes with every install and uninstall
    std::uint64_t bindings_ = 0;   // counts every Bind
    TArmTimer armTimer_;
    TDeliver deliver_;
};

} // namespace vg57
