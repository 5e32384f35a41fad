// The measurement cycle without a window: the port, its framer, the gauge link, the archive and
// the cycle wired as the window wires them, but keeping no chart, and telling each change of
// state in one line instead of a status bar.
#pragma once

#include "ActionStates.h"
#include "ArchiveWriter.h"
#include "ComPort.h"
#include "DataPacket.h"
#include "GaugeLink.h"
#include "MeasureCycle.h"
#include "ReadingSink.h"

#include <QTimer>

#include <deque>
#include <functional>
#include <string>

namespace vg57::cli {

struct TLogOptions {
    int comNumber = 3;  // COM<n> of the port map, unless `device` is given
    std::string device; // the adapter by path
    std::int32_t baud = 9600;
    TParity parity = pOdd;
    std::uint16_t stopBits = 1;
    char address = '0';
    int intervalMs = 500;
    std::string archiveDir;
};

class TLogSession : public TGaugeView, public TCycleView, private TReadingSink {
public:
    // `say` gets one line per change of state.
    TLogSession(const TLogOptions& options, std::function<void(const std::string&)> say);
    // Ends as the window's close does: nothing more reaches the gauge, the port closes.
    ~TLogSession() override;
    TLogSession(const TLogSession&) = delete;
    TLogSession& operator=(const TLogSession&) = delete;

    // Opens the port and starts measuring; false with the reason when the port can't be opened.
    bool Start(std::string& reason);
    // Stop as the operator's: the archive is closed. Never call it inside a wait.
    void Stop();
    // True while a tick or a reconnection attempt is on the stack.
    bool Busy() const { return depth_ > 0; }

    TMeasureCycle& Cycle() { return cycle_; }
    TArchiveWriter& Archive() { return archive_; }

    // ---- TGaugeView: only whether the gauge answers is told ----
    void SetUnitsText(const std::string&) override {}
    void SetPressureText(const std::string&) override {}
    void SetTestText(const std::string&) override {}
    void SetSetPointText(int, const std::string&) override {}
    void SetTransferIndicator(TIndicator colour) override;
    void ShowMessage(const std::string& text) override { say_(text); }
    bool RunConnectionDialog() override { return true; } // the command line set it up

    // ---- TReadingSink: a service keeps no points, so a week of logging holds no memory ----
    void RunStarted() override {}
    void Reading(double, double, const std::string&) override {}
    void Missed(double) override {}
    void Demonstration(double, double) override {}

    // ---- TCycleView ----
    void ShowPortOpenError(const std::string& port, const std::string& reason) override;
    void StatusChanged() override;

private:
    void RunAsHandler(const std::function<void()>& step);
    std::string PortText() const;

    TLogOptions options_;
    std::function<void(const std::string&)> say_;
    TComPort port_;
    TDataPacket framer_; // after the port: destroyed before it
    TGaugeLink link_;
    TArchiveWriter archive_;
    TActionStates actions_;
    QTimer timer_;
    TMeasureCycle cycle_;
    int depth_ = 0;
    std::deque<std::function<void()>> deferred_; // steps waiting for depth_ to reach 0
    std::string openError_;
    // What was last told, so that each change is told once.
    enum class TAnswer { unknown, answering, silent } answer_ = TAnswer::unknown;
    bool adapterGone_ = false;
    std::string archivePath_, archiveProblem_, archiveNotice_;
};

} // namespace vg57::cli
