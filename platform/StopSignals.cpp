#include "StopSignals.h"

#include "EventFd.h"

#include <QCoreApplication>
#include <QSocketNotifier>

#include <atomic>
#include <csignal>

namespace vg57::platform {

namespace {

EventFd* gEvent = nullptr; // lives until exit: a late signal must find it
// Signals not yet handled, one bit each: a hang-up right after a stop must not hide the stop.
std::atomic<unsigned> gPending{0};  // set by the signal handler
std::function<void(int)> gOnSignal; // user-interface thread only

void HandleSignal(int signal) {
    gPending.fetch_or(1u << signal); // lock-free: async-signal-safe
    gEvent->Signal();                // one write(): async-signal-safe
}

} // namespace

bool CatchStopSignals(std::function<void(int signal)> onSignal, bool hangUp) {
    gOnSignal = std::move(onSignal);
    if (!gEvent) {
        gEvent = new EventFd;
        if (!gEvent->Valid()) return false;
        auto* notifier =
            new QSocketNotifier(gEvent->Fd(), QSocketNotifier::Read, QCoreApplication::instance());
        QObject::connect(notifier, &QSocketNotifier::activated, [] {
            if (!gEvent->Consume()) return;
            const unsigned pending = gPending.exchange(0);
            for (int signal : {SIGINT, SIGTERM, SIGHUP})
                if ((pending & (1u << signal)) && gOnSignal) gOnSignal(signal);
        });
    }
    struct sigaction action {};
    action.sa_handler = HandleSignal;
    sigemptyset(&action.sa_mask);
    action.sa_flags = SA_RESTART;
    return sigaction(SIGINT, &action, nullptr) == 0 && sigaction(SIGTERM, &action, nullptr) == 0 &&
           (!hangUp || sigaction(SIGHUP, &action, nullptr) == 0);
}

} // namespace vg57::platform
