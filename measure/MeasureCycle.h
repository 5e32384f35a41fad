// Starting and stopping measurement, and what every tick of the polling timer does: one reading,
// the value panel, the chart and the archive. A plain object that the window drives, so tests run
// it against the gauge simulator with a fast timer.
//
// Every routine here may dispatch events inside a command wait: a tick can arrive while Start or
// another tick waits. A tick does not start while another is still running, and operator actions
// (Start, Stop) are queued by the window until the running handler has returned.
#pragma once

#include "ActionStates.h"
#include "ReadingSink.h"
#include "Staleness.h"

#include <QTimer>

#include <chrono>
#include <cstdint>
#include <functional>
#include <string>

namespace vg57 {

class TComPort;
class TGaugeLink;
class TGaugeView;
class TArchiveWriter;
class TMetricsBoard;

// What the cycle tells the window beyond the gauge's own labels.
class TCycleView {
public:
    virtual ~TCycleView() = default;
    // The port could not be opened: `port` is the setting ("COM3"), `reason` the system's words.
    virtual void ShowPortOpenError(const std::string& port, const std::string& reason) = 0;
    // Something the status bar shows has changed (adapter, demonstration values, archive).
    virtual void StatusChanged() = 0;
    // Stop has ended the run: what is shown of the gauge is no longer current.
    virtual void RunStopped() {}
};

class TMeasureCycle {
public:
    // The demonstration values count on across runs, as one counter for the whole program.
    static int DemoCounter;
    static constexpr int kReconnectMs = 1000;
    // The newest reading is stale once it is older than this many polling intervals.
    static constexpr int kStaleIntervals = vg57::kStaleIntervals;
    static constexpr int kLateSetUps = 3; // set-ups a run tries after a failed one at Start

    struct TParts {
        TComPort& port;
        TGaugeLink& link;
        TGaugeView& gaugeView;
        TReadingSink& readings; // the chart, in the window
        TArchiveWriter& archive;
        TActionStates& actions;
        QTimer& measureTimer;
        TCycleView& view;
    };
    explicit TMeasureCycle(const TParts& parts);
    ~TMeasureCycle();
    TMeasureCycle(const TMeasureCycle&) = delete;
    TMeasureCycle& operator=(const TMeasureCycle&) = delete;

    // The port name the open-failure message names (the connection setting `ComPort`).
    std::function<std::string()> comPortName;
    // True while a handler is dispatching events: reconnecting waits for a calm moment.
    std::function<bool()> handlerRunning;
    // The local date and time now, in milliseconds (MsOf; tests may move the clock). Read once
    // per tick: the chart and the archive get the same time.
    std::function<std::int64_t()> now;
    // Runs a step as a handler of the window's (operator actions wait for it to return).
    std::function<void(const std::function<void()>& step)> asHandler;
    // The lost adapter came back under another port number, now in force.
    std::function<void(int number)> onRenumbered;
    // Runs a step once no handler is running any more, as an operator action would run (the
    // late set-up); empty: posted to the event loop.
    std::function<void(const std::function<void()>& step)> afterHandlers;
    // On a line shared with other gauges: the longest a round of every gauge's turn took lately,
    // in seconds (another gauge's time-out delays this one's tick, which is no sign of this
    // gauge falling silent); empty with one gauge.
    std::function<double()> lineRoundSeconds;

    bool Measuring() const { return measuring_; }
    void ActionStartExecute();
    void ActionStopExecute();
    void MeasureTimerTimer();
    // The set-up (set points and unit) and the timer; without setUpNow the first good reading
    // sets the gauge up.
    void StartPolling(bool setUpNow = true);

    // ---- what the status bar shows ----
    bool DemoShown() const { return demoShown_; }
    bool AdapterGone() const { return adapterGone_; }
    const std::string& AdapterText() const { return adapterText_; }
    // Why the adapter was lost, in the link's and the system's words; may be empty.
    const std::string& AdapterReason() const { return adapterReason_; }

    // ---- how current the shown value is ----
    // The first contact or a tick of this run has failed before any reading of it: there is no
    // value to show.
    bool NoLinkYet() const { return measuring_ && !answeredThisRun_ && missedThisRun_; }
    // The gauge answered in this run, and the newest tick failed: news before the value is
    // stale.
    bool NoAnswer() const { return measuring_ && failing_; }
    // Measuring, and this run's newest reading is older than kStaleIntervals polling intervals
    // (as achieved, at least as configured), or a tick has failed before this run's first
    // reading.
    bool Stale() const;
    // Whole seconds since the newest reading; -1 when there was none.
    long long ReadingAgeSeconds() const;

    // ---- an adapter that drops out ----
    // The port reported its device lost: ticks then add nothing and write nothing, and while
    // measuring the same device is looked for about once a second.
    void DeviceLost();
    // The port opened (again): the adapter is back.
    void PortOpened();
    // One attempt to reopen the lost device; true when it is back.
    bool TryReconnect();
    // The window goes: nothing more is started.
    void Shutdown();

    // Where readings, failures and the adapter's state are published for scraping; none by
    // default. The board must outlive the cycle or be unset first.
    void SetMetrics(TMetricsBoard* board);

    // The set points and unit the link holds, read together, to the metrics (the device
    // settings read them back outside the cycle too).
    void PublishSetPoints();

private:
    // Set points and unit, and the action they enable; false when the gauge did not give them.
    bool SetUpGauge();
    void QueueLateSetUp();
    void ShowDemoValue(double time);
    void Missed(double time);
    void SetDemoShown(bool on);
    void UpdateReconnectTimer();
    std::string CurrentIdentity() const;
    // The tick's outcome for the metrics: a reading, or a failed exchange.
    void PublishTick(bool read, bool exchanged);
    void PublishPort(bool present);
    double StalenessSeconds() const;

    TParts p_;
    bool measuring_ = false;
    bool inTick_ = false;
    // Start could not set the gauge up: the first good reading of the run does it.
    bool setUpDue_ = false;
    bool setUpQueued_ = false;
    int lateSetUpsLeft_ = 0; // late set-ups this run may still try
    int runNumber_ = 0;      // counts Starts: a set-up queued in one run is dropped in the next
    bool demoShown_ = false;
    bool adapterGone_ = false;
    bool answeredThisRun_ = false;
    bool missedThisRun_ = false;
    bool failing_ = false; // the newest tick of this run failed after it had read
    // A steady clock: the age of a reading is a duration, whatever the wall clock does.
    std::chrono::steady_clock::time_point lastReading_{};
    TTickPace pace_;
    bool haveReading_ = false;
    std::string adapterText_;
    std::string adapterReason_;
    std::string openIdentity_; // what the open port's number stood for when it opened
    std::string lostIdentity_; // what the lost device was, to find that one again
    QTimer reconnectTimer_;
    TMetricsBoard* metrics_ = nullptr;
};

} // namespace vg57
