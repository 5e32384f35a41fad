// Plays a gauge that never stops talking: writes `replies` over and over on its own thread, and
// reads what it is sent so that nothing fills up. Shutdown and stress tests meet the dispatch
// thread at every point of its work with it.
#pragma once

#include "Pty.h"

#include <atomic>
#include <chrono>
#include <string>
#include <thread>

namespace vg57::test {

class Chatter {
public:
    Chatter(PtyPair& pty, std::string replies, std::chrono::microseconds pause)
        : pty_(pty), replies_(std::move(replies)), pause_(pause), thread_([this] { Run(); }) {}
    ~Chatter() {
        stop_ = true;
        thread_.join();
    }
    Chatter(const Chatter&) = delete;
    Chatter& operator=(const Chatter&) = delete;

private:
    void Run() {
        while (!stop_) {
            try {
                pty_.Write(replies_);
                pty_.Read(0);
            } catch (...) {
                // The port side may be closed between two writes: the next round tries again.
            }
            std::this_thread::sleep_for(pause_);
        }
    }
    PtyPair& pty_;
    const std::string replies_;
    const std::chrono::microseconds pause_;
    std::atomic<bool> stop_{false};
    std::thread thread_; // last: starts once the fields above are set
};

} // namespace vg57::test
