// The user-interface thread's message queue on Qt: one pass over pending events, waits that
// block in the event dispatcher instead of spinning, and the application's quit request.
#pragma once

#include <condition_variable>
#include <cstdint>
#include <exception>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <thread>

class QObject;
class QAbstractEventDispatcher;

namespace vg57::platform {

// Installs the watch on the application object that counts delivered events and notices the
// quit request however it is made. Called once after the application object exists; the
// functions below install it themselves when needed.
void InstallEventWatch();

// The quit request: once made it stays in force for the rest of the run (every wait sees it,
// and the outer loop ends).
void RequestQuit();
bool QuitRequested();
void ClearQuitRequestForTests();

// One pass over the calling thread's pending events; true when at least one event was handled.
bool PumpOnce();

// Blocks in the calling thread's event dispatcher until at least one event has been handled or
// the deadline (MonotonicMs) has passed. Without an event dispatcher it sleeps until the deadline.
void WaitForEvents(std::int64_t deadlineMs);

// Wakes a thread blocked in WaitPumping from any thread.
class Waker {
public:
    void Wake();
    // Pumps the calling thread's events while waiting until done() or the timeout (-1: none).
    // Returns done() at the end.
    bool WaitPumping(const std::function<bool()>& done, std::int64_t timeoutMs);

private:
    std::mutex mutex_;
    std::condition_variable cv_;
    std::uint64_t wakes_ = 0;                    // guarded by mutex_
    QAbstractEventDispatcher* waiter_ = nullptr; // guarded by mutex_
};

// The runtime's standard exception display: shows an error that escaped an event handler,
// and the program goes on. The program installs a message box; the default writes to stderr.
void SetExceptionDisplay(std::function<void(const std::string& message)> display);
void DisplayException(std::exception_ptr error);

// Runs a step of a handler whose error is shown and must not stop what follows it, nor cross the
// event loop.
template <class F> void RunShowingErrors(F&& step) {
    try {
        step();
    } catch (...) {
        DisplayException(std::current_exception());
    }
}

} // namespace vg57::platform
