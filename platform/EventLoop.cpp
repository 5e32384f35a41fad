#include "EventLoop.h"

#include "MonotonicClock.h"

#include <QAbstractEventDispatcher>
#include <QCoreApplication>
#include <QEvent>
#include <QPointer>
#include <QThread>
#include <QTimer>

#include <atomic>
#include <cstdio>
#include <exception>
#include <vector>

namespace vg57::platform {

namespace {

std::atomic<bool> gQuit{false};
std::atomic<std::uint64_t> gDelivered{0}; // events delivered on the application's thread

// Sees every event delivered to objects of the application's thread.
class EventWatch : public QObject {
public:
    bool eventFilter(QObject*, QEvent* e) override {
        gDelivered.fetch_add(1, std::memory_order_relaxed);
        if (e->type() == QEvent::Quit) gQuit.store(true);
        return false;
    }
};

QPointer<EventWatch> gWatch;

thread_local std::vector<std::thread::id> tRunningCallsFrom;

} // namespace

void InstallEventWatch() {
    auto* app = QCoreApplication::instance();
    if (!app || gWatch) return;
    if (QThread::currentThread() != app->thread()) return;
    gWatch = new EventWatch;
    gWatch->setParent(app);
    app->installEventFilter(gWatch);
}

void RequestQuit() {
    gQuit.store(true);
    if (auto* app = QCoreApplication::instance()) {
        QCoreApplication::quit();
        if (auto* d = QAbstractEventDispatcher::instance(app->thread())) d->wakeUp();
    }
}

bool QuitRequested() {
    return gQuit.load();
}
void ClearQuitRequestForTests() {
    gQuit.store(false);
}

bool PumpOnce() {
    InstallEventWatch();
    auto* d = QAbstractEventDispatcher::instance();
    if (!d) return false;
    const auto before = gDelivered.load(std::memory_order_relaxed);
    const bool handled = d->processEvents(QEventLoop::AllEvents);
    return handled || gDelivered.load(std::memory_order_relaxed) != before;
}

void WaitForEvents(std::int64_t deadlineMs) {
    InstallEventWatch();
    const std::int64_t left = deadlineMs - MonotonicMs();
    if (left <= 0) return;
    auto* d = QAbstractEventDispatcher::instance();
    if (!d) {
        std::this_thread::sleep_for(std::chrono::milliseconds(left));
        return;
    }
    // A precise timer: coarse timers may fire up to 5 % early, and the waits' bounds are tight.
    QTimer timer;
    timer.setTimerType(Qt::PreciseTimer);
    timer.setSingleShot(true);
    timer.start(static_cast<int>(std::min<std::int64_t>(left, 1 << 30)));
    d->processEvents(QEventLoop::AllEvents | QEventLoop::WaitForMoreEvents);
}

void Waker::Wake() {
    std::lock_guard lock(mutex_);
    ++wakes_;
    cv_.notify_all();
    if (waiter_) waiter_->wakeUp();
}

bool Waker::WaitPumping(const std::function<bool()>& done, std::int64_t timeoutMs) {
    const std::int64_t deadline = timeoutMs < 0 ? INT64_MAX : MonotonicMs() + timeoutMs;
    auto* d = QAbstractEventDispatcher::instance();
    {
        std::lock_guard lock(mutex_);
        waiter_ = d;
    }
    bool result = done();
    while (!result && MonotonicMs() < deadline) {
        if (d) {
            // Handed-over calls from the threads we wait for run here, so they cannot deadlock.
            if (!PumpOnce()) WaitForEvents(std::min(deadline, MonotonicMs() + 1000));
        } else {
            std::unique_lock lock(mutex_);
            const auto seen = wakes_;
            cv_.wait_for(
                lock,
                std::chrono::milliseconds(std::min<std::int64_t>(deadline - MonotonicMs(), 1000)),
                [&] { return wakes_ != seen; });
        }
        result = done();
    }
    std::lock_guard lock(mutex_);
    waiter_ = nullptr;
    return result;
}

// State of one blocking call, shared by the waiting thread and the queued functor.
struct CallState {
    std::mutex mutex;
    std::condition_variable cv;
    bool started = false;     // guarded by mutex
    bool finished = false;    // guarded by mutex
    bool ran = false;         // guarded by mutex
    bool abandoned = false;   // guarded by mutex
    std::exception_ptr error; // guarded by mutex
};

namespace {
// Marks the call finished when the last copy of the queued functor goes, whether it ran or was
// dropped with a destroyed target.
struct FinishOnDestroy {
    explicit FinishOnDestroy(std::shared_ptr<CallState> s) : state(std::move(s)) {}
    FinishOnDestroy(const FinishOnDestroy&) = delete;
    FinishOnDestroy& operator=(const FinishOnDestroy&) = delete;
    std::shared_ptr<CallState> state;
    ~FinishOnDestroy() {
        std::lock_guard lock(state->mutex);
        state->finished = true;
        state->cv.notify_all();
    }
};
} // namespace

class CallBlockingAccess {
public:
    static bool Begin(CallCancel* c, const std::shared_ptr<CallState>& s) {
        if (!c) return true;
        std::lock_guard lock(c->mutex_);
        if (c->cancelled_) return false;
        c->active_ = s;
        return true;
    }
    static void End(CallCancel* c) {
        if (!c) return;
        std::lock_guard lock(c->mutex_);
        c->active_.reset();
    }
    static bool Cancelled(CallCancel* c) { return c && c->Cancelled(); }
};

void CallCancel::Cancel() {
    std::shared_ptr<CallState> active;
    {
        std::lock_guard lock(mutex_);
        cancelled_ = true;
        active = active_;
    }
    if (active) {
        std::lock_guard lock(active->mutex);
        active->cv.notify_all();
    }
}

bool CallCancel::Cancelled() const {
    std::lock_guard lock(mutex_);
    return cancelled_;
}

void CallCancel::Reset() {
    std::lock_guard lock(mutex_);
    cancelled_ = false;
}

bool CallBlocking(QObject* target, std::function<void()> fn, CallCancel* cancel,
                  std::int64_t timeoutMs) {
    auto state = std::make_shared<CallState>();
    if (!CallBlockingAccess::Begin(cancel, state)) return false;
    const auto caller = std::this_thread::get_id();
    auto guard = std::make_shared<FinishOnDestroy>(state);
    QMetaObject::invokeMethod(
        target,
        [state, guard, caller, fn = std::move(fn)] {
            {
                std::lock_guard lock(state->mutex);
                if (state->abandoned) return;
                state->started = true;
            }
            tRunningCallsFrom.push_back(caller);
            std::exception_ptr error;
            try {
                fn();
            } catch (...) {
                error = std::current_exception();
            }
            tRunningCallsFrom.pop_back();
            std::lock_guard lock(state->mutex);
            state->ran = true;
            state->error = error;
        },
        Qt::QueuedConnection);
    guard.reset();

    std::unique_lock lock(state->mutex);
    auto over = [&] {
        return state->finished || (!state->started && CallBlockingAccess::Cancelled(cancel));
    };
    if (timeoutMs < 0)
        state->cv.wait(lock, over);
    else
        state->cv.wait_for(lock, std::chrono::milliseconds(timeoutMs), over);
    if (!state->finished) state->abandoned = true;
    const bool ran = state->ran;
    auto error = state->error;
    lock.unlock();
    CallBlockingAccess::End(cancel);
    if (error) std::rethrow_exception(error);
    return ran;
}

namespace {
std::function<void(const std::string&)>& Display() {
    static std::function<void(const std::string&)> display;
    return display;
}
} // namespace

void SetExceptionDisplay(std::function<void(const std::string& message)> display) {
    Display() = std::move(display);
}

void DisplayException(std::exception_ptr error) {
    std::string message = "Unknown error";
    try {
        std::rethrow_exception(error);
    } catch (const std::exception& e) {
        message = e.what();
    } catch (...) {
    }
    if (Display())
        Display()(message);
    else
        std::fprintf(stderr, "vg57: %s\n", message.c_str());
}

bool IsRunningCallFrom(std::thread::id caller) {
    for (const auto& id : tRunningCallsFrom)
        if (id == caller) return true;
    return false;
}

} // namespace vg57::platform
