#include "EventLoop.h"

#include "CrossThreadCall.h"
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
        if (DeliverCallEvent(e)) return true;
        if (e->type() == QEvent::Quit) gQuit.store(true);
        return false;
    }
};

QPointer<EventWatch> gWatch;

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
    // Events posted before the handler we run in was delivered, in the same batch, are not seen
    // by the dispatcher of a nested pass until something new is posted: a reply handed over
    // then would wait (its dispatch thread blocked with it) until the whole wait had run out.
    QCoreApplication::sendPostedEvents();
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

} // namespace vg57::platform
