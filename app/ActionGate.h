// Keeps operator actions out of waits. Command exchanges and the chart's repaint dispatch events
// while a handler is still running, so a click or a shortcut could otherwise run in the middle of
// another action's or a tick's exchange. An action that arrives while any handler is running is
// queued, and runs once the outermost handler has returned, in arrival order, if it is still
// enabled then. Packet deliveries, timer ticks, painting and the sliders are not actions: they
// still run inside waits.
#pragma once

#include <deque>
#include <functional>
#include <string>

namespace vg57 {

class TActionGate {
public:
    using TEnabled = std::function<bool()>;
    using TRun = std::function<void()>;

    // Marks a running handler (an action, a timer tick, a dialog's flow) for as long as it lives.
    class TScope {
    public:
        explicit TScope(TActionGate& gate);
        ~TScope();
        TScope(const TScope&) = delete;
        TScope& operator=(const TScope&) = delete;

    private:
        TActionGate& gate_;
    };

    // How the gate comes back to the queue once the outermost handler has returned: the window
    // posts a call to Drain through its event loop. Tests may drain by hand.
    std::function<void()> scheduleDrain;

    // Runs the action now when no handler is running; otherwise queues it. The same action
    // (by key) queued twice runs once. `onQueued` runs at once when the action is queued (Stop and
    // closing use it to cut the running wait short); `onLeave` when the queued action leaves the
    // queue, before it runs and also when it is dropped, so that what onQueued began lasts no
    // longer than the action it was for.
    void Trigger(const std::string& key, TEnabled enabled, TRun run, TRun onQueued = {},
                 TRun onLeave = {});

    // Runs the queued actions that are still enabled, each as an outermost handler of its own.
    // Stops early when one of them leaves a handler running (it cannot, unless it nests).
    void Drain();

    // The window is closing: queued actions are dropped and later ones refused.
    void Close();

    bool Busy() const { return depth_ > 0; }
    int Depth() const { return depth_; }
    std::size_t Queued() const { return queue_.size(); }

private:
    struct TPending {
        std::string key;
        TEnabled enabled;
        TRun run;
        TRun onLeave;
    };
    void Leave();
    void RunNow(const TEnabled& enabled, const TRun& run);

    int depth_ = 0;
    bool draining_ = false;
    bool closed_ = false;
    std::deque<TPending> queue_;
};

} // namespace vg57
