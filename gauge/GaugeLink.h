// One gauge on the line: its address, unit, set points and last pressure, the guard that keeps
// command sequences apart (AcquireGauge), the first contact "S3", and the command routines with
// their reply checks. Every exchange goes through the line's one owner, TGaugeBus, which any
// number of links may share. Plain C++ on the user-interface thread; the window is reached only
// through TGaugeView, so tests drive the whole protocol against the gauge simulator without a
// window.
//
// Waits dispatch events: packet deliveries, timer ticks and painting run inside them, so every
// routine here must be re-entrant. Operator actions are queued by the window, not run inside.
#pragma once

#include "GaugeBus.h"

#include <array>
#include <cstdint>
#include <stdexcept>
#include <string>

namespace vg57 {

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
    static constexpr std::int32_t kReplyTimeoutTicks = TGaugeBus::kReplyTimeoutTicks;

    TGaugeLink(TGaugeBus& bus, TGaugeView& view);
    TGaugeLink(const TGaugeLink&) = delete;
    TGaugeLink& operator=(const TGaugeLink&) = delete;

    TGaugeBus& Bus() { return bus_; }
    const TGaugeBus& Bus() const { return bus_; }

    // ---- state (plain fields, user-interface thread only) ----
    bool PortConfigured = false;
    bool GaugeReady = false;
    char DevAddress = '1';
    std::string UnitCode;
    std::array<long double, kSetPointCount> SetPoints{};
    long double CurrentPressure = 0;

    // One exchange with this gauge through the bus, with the transfer indicator: false (reply
    // empty) when the bus refuses it (touching nothing), on time-out, or when cut short.
    // A write error is raised after the indicator is red.
    bool SendCommand(const std::string& command, std::string& reply);
    // The guard. False at once while another guard waits or a sequence holds the line, any
    // gauge's (that holder is suspended lower on this very call stack, so waiting could never
    // succeed), and while exchanges are cancelled or the program is closing (no dialog, nothing
    // sent).
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

    // ---- cutting waits short (Stop and closing the window): the bus's, see there ----
    void CancelExchanges(const std::string& owner = {}) { bus_.CancelExchanges(owner); }
    void ResumeExchanges(const std::string& owner = {}) { bus_.ResumeExchanges(owner); }

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

    TGaugeBus& bus_;
    TGaugeView& view_;
    bool deviceErrorShown_ = false;
};

} // namespace vg57
