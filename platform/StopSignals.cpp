#include "StopSignals.h"

#include "EventFd.h"

#include <QCoreApplication>
#include <QSocketNotifier>

#include <atomic>
#include <csignal>

namespace vg57::platform {

namespace {

EventFd* gEvent = nullptr;          // lives until exit: a late signal must find it
std::atomic<int> gLastSignal{0};    // written by the signal handler
std::function<void(int)> gOnSignal; // user-interface thread only

void HandleSignal(int signal) {
    gLastSignal.store(signal);
    gEvent->Signal(); // one write(): async-signal-safe
}

} // namespace

bool CatchStopSignals(std::function<void(int signal)> onSignal) {
    gOnSignal = std::move(onSignal);
    if (gEvent) return true;
    gEvent = new EventFd;
    if (!gEvent->Valid()) return false;
    auto* notifier =
        new QSocketNotifier(gEvent->Fd(), QSocketNotifier::Read, QCoreApplication::instance());
    QObject::connect(notifier, &QSocketNotifier::activated, [] {
        if (gEvent->Consume() && gOnSignal) gOnSignal(gLastSignal.load());
    });
    struct sigaction action {};
    action.sa_handler = HandleSignal;
    sigemptyset(&action.sa_mask);
    action.sa_flags = SA_RESTART;
    return sigaction(SIGINT, &action, nullptr) == 0 && sigaction(SIGTERM, &action, nullptr) == 0;
}

} // namespace vg57::platform
