// Starting and stopping measurement, and what every tick of the polling timer does: one reading,
// the value panel, the chart and the archive. A plain object that the window drives, so tests run
// it against the gauge simulator with a fast timer.
//
// Every routine here may dispatch events inside a command wait: a tick can arrive while Start or
// another tick waits. A tick does not start while another is still running, and operator actions
// (Start, Stop) are queued by the window until the running handler has returned.
#pragma once

#include "ActionStates.h"

#include <QTimer>

#include <functional>
#include <string>

namespace vg57 {

class TComPort;
class TGaugeLink;
class TGaugeView;
class TChartModel;
class TArchiveWriter;

// What the cycle tells the window beyond the gauge's own labels.
class TCycleView {
public:
    virtual ~TCycleView() = default;
    // The port could not be opened: `port` is the setting ("COM3"), `reason` the system's words.
    virtual void ShowPortOpenError(const std::string& port, const std::string& reason) = 0;
    // Something the status bar shows has changed (adapter, demonstration values, archive).
    virtual void StatusChanged() = 0;
};

class TMeasureCycle {
public:
    // The demonstration values count on across runs, as one counter for the whole program.
    static int DemoCounter;
    static constexpr int kReconnectMs = 1000;

    struct TParts {
        TComPort& port;
        TGaugeLink& link;
        TGaugeView& gaugeView;
        TChartModel& chart;
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
    // The local date and time now (tests may move the clock).
    std::function<double()> now;
    // Runs a step as a handler of the window's (operator actions wait for it to return).
    std::function<void(const std::function<void()>& step)> asHandler;
    // The lost adapter came back under another port number, now in force.
    std::function<void(int number)> onRenumbered;

    bool Measuring() const { return measuring_; }
    void ActionStartExecute();
    void ActionStopExecute();
    void MeasureTimerTimer();
    void StartPolling();

    // ---- what the status bar shows ----
    bool DemoShown() const { return demoShown_; }
    bool AdapterGone() const { return adapterGone_; }
    const std::string& AdapterText() const { return adapterText_; }
    // Why the adapter was lost, in the link's and the system's words; may be empty.
    const std::string& AdapterReason() const { return adapterReason_; }

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

private:
    void ShowDemoValue();
    void SetDemoShown(bool on);
    void UpdateReconnectTimer();

    TParts p_;
    bool measuring_ = false;
    bool inTick_ = false;
    bool demoShown_ = false;
    bool adapterGone_ = false;
    std::string adapterText_;
    std::string adapterReason_;
    std::string openIdentity_; // what the open port's number stood for when it opened
    std::string lostIdentity_; // what the lost device was, to find that one again
    QTimer reconnectTimer_;
};

} // namespace vg57
