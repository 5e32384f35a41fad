#include "GaugeRig.h"

#include "EventLoop.h"
#include "MainWindowLink.h"

#include <cstdlib>
#include <poll.h>
#include <unistd.h>

namespace vg57::test {

LinkRig::LinkRig(int com) {
    MainWindowPort(port, com);
    link.DevAddress = '0';
    view.link = &link;
}

LinkRig::~LinkRig() {
    port.SetOpen(false);
}

SimRig::SimRig() : sim({"--log", logDir.Path() + "/sim.log"}) {
    // The port looks COM3 up when it opens, at the first request.
    setenv("XDG_CONFIG_HOME", sim.ConfigHome().c_str(), 1);
    sim.Command("hold");
    sim.Command("noise off");
}

std::string SimRig::Received() const {
    return LoggedRequestBytes(logDir.Path() + "/sim.log");
}

std::vector<std::string> SimRig::Requests() const {
    return Frames(Received());
}

ScriptedGauge::ScriptedGauge(std::map<std::string, std::string> replies)
    : replies_(std::move(replies)) {
    map_.Link(kCom, pty_.SlavePath());
    thread_ = std::thread([this] { Serve(); });
}

ScriptedGauge::~ScriptedGauge() {
    stop_ = true;
    thread_.join();
}

std::vector<std::string> ScriptedGauge::Requests() const {
    std::lock_guard lock(mutex_);
    return requests_;
}

void ScriptedGauge::SetReply(const std::string& command, const std::string& reply) {
    std::lock_guard lock(mutex_);
    replies_[command] = reply;
}

void ScriptedGauge::Serve() {
    std::string pending;
    while (!stop_) {
        pollfd p{pty_.Master(), POLLIN, 0};
        if (poll(&p, 1, 20) <= 0) continue;
        char buf[256];
        const ssize_t n = read(pty_.Master(), buf, sizeof buf);
        if (n <= 0) continue; // no opener on the slave yet, or between opens
        pending.append(buf, static_cast<std::size_t>(n));
        const auto end = pending.rfind('\r');
        if (end == std::string::npos) continue;
        for (const auto& frame : Frames(pending.substr(0, end + 1))) {
            std::string reply;
            {
                std::lock_guard lock(mutex_);
                requests_.push_back(frame);
                const auto r =
                    frame.size() < 3 ? replies_.end() : replies_.find(frame.substr(1, 2));
                if (r == replies_.end()) continue;
                reply = r->second;
            }
            pty_.Write("\x02" + reply + "\r");
        }
        pending.erase(0, end + 1);
    }
}

void DrainEvents() {
    while (platform::PumpOnce()) {
    }
}

} // namespace vg57::test
