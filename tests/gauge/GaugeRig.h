// The program's side of the gauge in tests: a view that records what the window would show,
// the main window's port and framer feeding a TGaugeLink, and two far ends for it: the gauge
// simulator, and a scripted gauge on a pseudo-terminal for replies no working gauge sends.
#pragma once

#include "ComPort.h"
#include "DataPacket.h"
#include "GaugeLink.h"

#include "Pty.h"
#include "SimProcess.h"
#include "TempDir.h"

#include <atomic>
#include <functional>
#include <map>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

namespace vg57::test {

class RecordingView : public TGaugeView {
public:
    void SetUnitsText(const std::string& t) override { units = t; }
    void SetPressureText(const std::string& t) override { pressure = t; }
    void SetTestText(const std::string& t) override { test = t; }
    void SetSetPointText(int i, const std::string& t) override {
        setPoints.at(static_cast<std::size_t>(i)) = t;
    }
    void SetTransferIndicator(TIndicator c) override { indicators.push_back(c); }
    void ShowMessage(const std::string& t) override {
        messages.push_back(t);
        busyAtMessage.push_back(link && link->Bus().GaugeBusy);
    }
    bool RunConnectionDialog() override {
        ++dialogs;
        if (onDialog) onDialog();
        return dialogResult;
    }
    TIndicator Indicator() const {
        return indicators.empty() ? TIndicator::face : indicators.back();
    }

    std::string units, pressure, test;
    std::array<std::string, kSetPointCount> setPoints;
    std::vector<TIndicator> indicators;
    std::vector<std::string> messages;
    std::vector<bool> busyAtMessage;
    const TGaugeLink* link = nullptr;
    bool dialogResult = true;
    int dialogs = 0;
    std::function<void()> onDialog;
};

// COM<com> with the main window's line, through the bus the window builds.
struct LinkRig {
    explicit LinkRig(int com);
    ~LinkRig();
    RecordingView view;
    TGaugeBus bus;
    TComPort& port = bus.Port();
    TGaugeLink link{bus, view};
};

// The simulator on COM3, holding its pressure still and logging what it receives.
struct SimRig {
    SimRig();
    // The bytes the gauge has received so far, and the payloads of their frames ("0R1", ...).
    std::string Received() const;
    std::vector<std::string> Requests() const;
    TempDir logDir;
    SimProcess sim;
    LinkRig rig{3};
};

// A far end that answers each request frame with the payload scripted for its two command
// letters (the address is not checked); commands without a script get no answer. A script may
// change while the gauge serves.
class ScriptedGauge {
public:
    explicit ScriptedGauge(std::map<std::string, std::string> replies);
    ~ScriptedGauge();
    std::vector<std::string> Requests() const;
    void SetReply(const std::string& command, const std::string& reply);
    static constexpr int kCom = 5;

private:
    void Serve();
    PtyPair pty_;
    TempPortMap map_;
    mutable std::mutex mutex_;
    std::map<std::string, std::string> replies_; // guarded by mutex_
    std::vector<std::string> requests_;          // guarded by mutex_
    std::atomic<bool> stop_{false};
    std::thread thread_;
};

// Handles the pending events of the calling thread until none are left.
void DrainEvents();

} // namespace vg57::test
