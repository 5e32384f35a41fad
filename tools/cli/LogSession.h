// The measurement cycle without a window: the bus, and for each gauge on its line the link, the
// archive and the cycle wired as the window wires them, but keeping no chart, and telling each
// change of state in one line instead of a status bar.
#pragma once

#include "ActionStates.h"
#include "ArchiveWriter.h"
#include "GaugeBus.h"
#include "GaugeLink.h"
#include "MeasureCycle.h"
#include "MetricsBoard.h"
#include "ReadingSink.h"

#include <QTimer>

#include <chrono>
#include <deque>
#include <functional>
#include <memory>
#include <string>
#include <vector>

namespace vg57::cli {

struct TLogOptions {
    int comNumber = 3;  // COM<n> of the port map, unless `device` is given
    std::string device; // the adapter by path
    std::int32_t baud = 9600;
    TParity parity = pOdd;
    std::uint16_t stopBits = 1;
    std::vector<char> addresses = {'0'}; // the gauges on the line, polled in this order
    TRtsOnSend rtsOnSend = TRtsOnSend::Driver;
    int intervalMs = 500;
    std::string archiveDir;
};

class TLogSession {
public:
    // `say` gets one line per change of state.
    TLogSession(const TLogOptions& options, std::function<void(const std::string&)> say);
    // Ends as the window's close does: nothing more reaches the gauges, the port closes.
    ~TLogSession();
    TLogSession(const TLogSession&) = delete;
    TLogSession& operator=(const TLogSession&) = delete;

    // Opens the port and starts measuring; false with the reason when the port can't be opened.
    bool Start(std::string& reason);
    // Stop as the operator's: the archives are closed. Never call it inside a wait.
    void Stop();
    // SIGHUP: the archive file is let go and opened again by name with the next line (log
    // rotation), once no tick is on the stack.
    void ReopenArchive();
    // True while a tick or a reconnection attempt is on the stack.
    bool Busy() const { return depth_ > 0; }

    std::size_t GaugeCount() const { return gauges_.size(); }
    char Address(std::size_t gauge) const;
    TMeasureCycle& Cycle(std::size_t gauge = 0);
    TArchiveWriter& Archive(std::size_t gauge = 0);
    TGaugeBus& Bus() { return bus_; }
    // The slowest answering gauge's median interval between tries, in milliseconds (0 before
    // any).
    double AchievedIntervalMs() const;
    // Where the line's counters and achieved interval go after every turn; none by default.
    void SetBusMetrics(TBusBoard* board) { busBoard_ = board; }
    // Where a gauge's readings go besides its archive (the live MQTT state); null for none. The
    // tap must outlive the session or be unset first.
    void SetReadingTap(std::size_t gauge, TReadingSink* tap);

private:
    class TGauge;
    void RunAsHandler(const std::function<void()>& step);
    // A gauge's tick: run now, or at the next free turn when the line is in use.
    void Turn(TGauge& gauge);
    void TakeTurn(TGauge& gauge);
    void NoteInterval();
    // The longest a gauge lately waited between two of its turns (another gauge's time-outs
    // delay it), in seconds: no answering gauge is taken for silent within that.
    double LineGapSeconds() const;
    // The adapter's loss or return, told once for all gauges.
    void NoteAdapter(const TMeasureCycle& cycle);
    std::string PortText() const;

    TLogOptions options_;
    std::function<void(const std::string&)> say_;
    TGaugeBus bus_;
    TComPort& port_ = bus_.Port();
    std::vector<std::unique_ptr<TGauge>> gauges_; // destroyed before the bus
    int depth_ = 0;
    std::deque<std::function<void()>> deferred_; // steps waiting for depth_ to reach 0
    std::string openError_;
    bool adapterGone_ = false;
    bool slowSaid_ = false; // the achieved interval was said to lag the asked one
    // Answering gauges' intervals between turns, newest last, with when each ended.
    std::deque<std::pair<std::chrono::steady_clock::time_point, double>> gaps_;
    TBusBoard* busBoard_ = nullptr;
};

} // namespace vg57::cli
