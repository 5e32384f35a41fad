#include "CrossThreadCall.h"

#include <QCoreApplication>
#include <QEvent>

#include <exception>
#include <vector>

// Qt's event queue is not built with ThreadSanitizer: tell it where the hand-over synchronises.
#if defined(__SANITIZE_THREAD__)
#define VG57_TSAN 1
#elif defined(__has_feature)
#if __has_feature(thread_sanitizer)
#define VG57_TSAN 1
#endif
#endif
#ifdef VG57_TSAN
extern "C" void __tsan_acquire(void* addr);
extern "C" void __tsan_release(void* addr);
#define VG57_HAPPENS_BEFORE(p) __tsan_release(p)
#define VG57_HAPPENS_AFTER(p) __tsan_acquire(p)
#else
#define VG57_HAPPENS_BEFORE(p) ((void)(p))
#define VG57_HAPPENS_AFTER(p) ((void)(p))
#endif

namespace vg57::platform {

namespace {

thread_local std::vector<std::thread::id> tRunningCallsFrom;

// A call travelling through Qt's queue. Dropped unrun (its receiver destroyed), it still lets go
// of its function, which releases a waiting caller.
class CallEvent : public QEvent {
public:
    static QEvent::Type Kind() {
        static const auto type = static_cast<QEvent::Type>(QEvent::registerEventType());
        return type;
    }
    explicit CallEvent(std::function<void()> fn) : QEvent(Kind()), fn_(std::move(fn)) {}
    ~CallEvent() override {
        VG57_HAPPENS_AFTER(this);
        fn_ = nullptr;
    }
    void Run() {
        VG57_HAPPENS_AFTER(this);
        if (fn_) fn_();
    }

private:
    std::function<void()> fn_;
};

void Post(QObject* target, std::function<void()> fn) {
    auto* e = new CallEvent(std::move(fn));
    VG57_HAPPENS_BEFORE(e);
    QCoreApplication::postEvent(target, e); // a null target deletes it at once
}

} // namespace

bool DeliverCallEvent(QEvent* e) {
    // Before anything of the event is read: it may come from another thread (a no-op for
    // events that did not).
    VG57_HAPPENS_AFTER(e);
    if (e->type() != CallEvent::Kind()) return false;
    static_cast<CallEvent*>(e)->Run();
    return true;
}

void PostCall(QObject* target, std::function<void()> fn) {
    Post(target, std::move(fn));
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
};

void CallCancel::Cancel() {
    std::shared_ptr<CallState> active;
    {
        std::lock_guard lock(mutex_);
        cancelled_ = true;
        active = active_;
    }
    if (active) {
        // Decided here, not when the waiting thread wakes: the target's thread may run its
        // events first, and a call it has not started must then find itself abandoned.
        std::lock_guard lock(active->mutex);
        if (!active->started) active->abandoned = true;
        active->cv.notify_all();
    }
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
    Post(target, [state, guard, caller, fn = std::move(fn)] {
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
    });
    guard.reset();

    std::unique_lock lock(state->mutex);
    auto over = [&] { return state->finished || state->abandoned; };
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

bool IsRunningCallFrom(std::thread::id caller) {
    for (const auto& id : tRunningCallsFrom)
        if (id == caller) return true;
    return false;
}

} // namespace vg57::platform
