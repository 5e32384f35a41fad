// Calls handed from a worker thread to an object living on the application's thread: the
// dispatch thread hands each packet over this way and waits until the handlers have run.
//
// The calls travel as events of our own through Qt's queue and are run by the application's
// event watch (see EventLoop.h), so that the hand-over is visible to ThreadSanitizer: Qt's own
// queue is not instrumented.
#pragma once

#include <condition_variable>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <thread>

class QEvent;
class QObject;

namespace vg57::platform {

struct CallState;

// Lets the thread that blocks in CallBlocking give up when its owner shuts down.
class CallCancel {
public:
    // From any thread: a call not yet started never runs, and its caller returns; later calls
    // return at once until Reset.
    void Cancel();
    void Reset();

private:
    friend class CallBlockingAccess;
    std::mutex mutex_;
    bool cancelled_ = false;                   // guarded by mutex_
    std::shared_ptr<struct CallState> active_; // guarded by mutex_
};

// Runs fn on target's thread and blocks the calling thread until it has returned; an exception
// from fn is raised again here. Returns false without fn having run when target is destroyed
// first, or when cancel is signalled before fn has started (fn then never runs). With a timeout
// (ms, -1 for none) the caller stops waiting after it; fn, if it had started, finishes alone.
bool CallBlocking(QObject* target, std::function<void()> fn, CallCancel* cancel,
                  std::int64_t timeoutMs = -1);

// Runs fn on target's thread later and returns at once.
void PostCall(QObject* target, std::function<void()> fn);

// True while the calling thread is running a call that `caller` handed over with CallBlocking:
// `caller` is then blocked until we return and must not be waited for.
bool IsRunningCallFrom(std::thread::id caller);

// Runs the event if it is a handed-over call; true then. The application's event watch calls it.
bool DeliverCallEvent(QEvent* e);

} // namespace vg57::platform
