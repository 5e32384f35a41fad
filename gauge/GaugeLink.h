// The only road to the gauge: one request/reply exchange at a time (SendCommand) with its
// time-out and transfer indicator, the guard that keeps command sequences apart (AcquireGauge),
// the first contact "S3", and the command routines with their reply checks. Plain C++ on the
// user-interface thread; the window is reached only through TGaugeView, so tests drive the whole
// protocol against the gauge simulator without a window.
//
// Waits dispatch events: packet deliveries, timer ticks and painting run inside them, so every
// routine here must be re-entrant. Operator actions are queued by the window, not run inside.
#pragma once

#include <array>
#include <cstdint>
#include <map>
#include <stdexcept>
#include <string>

namespace vg57 {

class TComPort;
class TDataPacket;

enum TTransferState : std::uint8_t { tsWaiting = 0, tsReady = 1 };

// The transfer indicator's colours: before any exchange, waiting, answered, timed out.
enum class TIndicator { face, yellow, green, red };

// Set point order, as the labels SP1L ... SP3H and the replies of R2, R3, R4 carry them.
enum TSetPointIndex : int { SP1L, SP1H, SP2L, SP2H, SP3L, SP3H };
constexpr int kSetPointCount = 6;

// What the command routines show. Texts are UTF-8.
// A set point in a reply that is not a number (a letter where a digit belongs). Raised by
// ReadSetPoints after the gauge is released; the window's general error report shows it.
class ESetPointConversion : public std::runtime_error {
public:
    using std::runtime_error::runtime_error;
};

class TGaugeView {
public:
    virtual ~TGaugeView() = default;
    virtual void SetUnitsText(const std::string& text) = 0;
    virtual void SetPressureText(const std::string& text) = 0;
    virtual void SetTestText(const std::string& text) = 0; // StaticText_Test
    virtual void SetSetPointText(int index, const std::string& text) = 0;
    virtual void SetTransferIndicator(TIndicator colour) = 0;
    // A calibration result, in a message box with an OK button.
    virtual void ShowMessage(const std::string& text) = 0;
    // Shows the connection parameters dialog and applies it; true when confirmed.
    virtual bool RunConnectionDialog() = 0;
};

class TGaugeLink {
public:
    static constexpr std::int32_t kReplyTimeoutTicks = 40;

    TGaugeLink(TComPort& port, TGaugeView& view);
    TGaugeLink(const TGaugeLink&) = delete;
    TGaugeLink& operator=(const TGaugeLink&) = delete;

    // ---- state (plain fields, user-interface thread only) ----
    TTransferState TransferState = tsReady;
    std::string LastReply;
    bool GaugeBusy = false;
    std::int32_t AcquireDepth = 0;
    bool PortConfigured = false;
    bool GaugeReady = false;
    char DevAddress = '1';
    std::string UnitCode;
    std::array<long double, kSetPointCount> SetPoints{};
    long double CurrentPressure = 0;

    // ---- the transaction ----
    // Quiet the line must keep before a request that follows a reply not received, and the
    // longest wait for it.
    static constexpr std::int64_t kQuietMs = 500, kQuietLimitMs = 2200;

    // One exchange: writes 0x02, DevAddress, command, 0x0D and waits up to 40 ticks for the
    // first packet that arrived after the request was written. False (reply empty) when another
    // exchange waits, on time-out, when the wait was ended by the quit request or by
    // CancelExchanges, or while exchanges are cancelled.
    // After a time-out or a cut-short wait the gauge may still answer: the next request first
    // waits until the line has been quiet for kQuietMs (at most kQuietLimitMs), and what arrives
    // meanwhile is dropped, so that a late reply never answers a later request.
    // A write error is raised after TransferState is back at tsReady and the indicator is red.
    bool SendCommand(const std::string& command, std::string& reply);
    // The framer's string-packet handler: stores the payload in LastReply; a packet that arrived
    // after the waiting request was written answers it.
    void DataPacket1StringPacket(TDataPacket& sender, const std::string& data);
    // The guard. False at once while another guard waits or a sequence holds the gauge (that
    // holder is suspended lower on this very call stack, so waiting could never succeed), and
    // while exchanges are cancelled or the program is closing (no dialog, nothing sent).
    bool AcquireGauge();
    bool EnsureConfigured();
    bool EnsureGaugeReady();

    // ---- command routines: true when every command was answered and passed its checks ----
    bool ReadUnit();
    // `obtained` (optional) tells whether the guard granted the gauge: the measurement cycle
    // shows demonstration values only when it did not.
    bool ReadMeasurement(bool* obtained = nullptr);
    // Raises ESetPointConversion when a set point is not a number; values read before stay.
    bool ReadSetPoints();
    // Refuses (false, nothing sent) when any of the six values can't be carried by the
    // four-character number: 0, or 1.0E-9 ... 9.9E+9 after rounding to two digits.
    bool WriteSetPoints();
    bool WriteUnit();
    bool CalibrateAtmosphere();
    bool CalibrateZero();

    // ---- cutting waits short (Stop and closing the window) ----
    // Ends the running command wait at once (that exchange fails) and makes every further
    // exchange fail at once without writing, until every owner that cut has resumed. Cuts are
    // counted per owner: an action queued behind a wait lifts only its own, and a cut whose
    // owner never resumes (the window closing) stays.
    void CancelExchanges(const std::string& owner = {});
    void ResumeExchanges(const std::string& owner = {});

private:
    // SendCommand, then the reply's length and echo letter (position 2). A wrong echo with the
    // right length shows "Ошибка от прибора" when showEchoError is set.
    bool Exchange(const std::string& command, std::size_t length, char echo, std::string& reply,
                  bool showEchoError = false);
    // "R1" and its reply into Units and UnitCode (the gauge already held).
    bool ReadUnitHeld();
    bool Calibrate(const std::string& command, const char* done, const char* failed);
    // "Ошибка от прибора" on the panel, or cleared.
    void ShowDeviceError(bool on);

    // Waits, dispatching events, until the line has been quiet; false when cut short.
    bool AwaitQuietLine(std::uint64_t generation);
    std::int64_t LastLineActivityMs() const;

    TComPort& port_;
    TGaugeView& view_;
    bool deviceErrorShown_ = false;
    std::string answer_;                 // the reply accepted for the waiting request
    std::int64_t requestWrittenMs_ = -1; // -1: no request awaits its answer
    std::int64_t lastPacketMs_ = -1;     // arrival of the newest packet, accepted or not
    // A request was left unanswered at unansweredMs_: its reply may still come.
    bool replyMayFollow_ = false;
    std::int64_t unansweredMs_ = -1;
    std::map<std::string, int> cuts_; // owner -> cuts it made that are still in force
    // Changes with every CancelExchanges: a wait that began before it ends, even when
    // ResumeExchanges followed at once.
    std::uint64_t cancelGeneration_ = 0;
};

} // namespace vg57
