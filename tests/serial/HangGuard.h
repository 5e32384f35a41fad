// Ends the test program with a message when a step hangs: a deadlock would otherwise stall the
// run until the harness gives up, without a word of where.
#pragma once

#include <chrono>
#include <condition_variable>
#include <cstdio>
#include <cstdlib>
#include <mutex>
#include <string>
#include <thread>

namespace vg57::test {

class HangGuard {
public:
    HangGuard(std::string what, int seconds)
        : what_(std::move(what)), thread_([this, seconds] { Watch(seconds); }) {}
    ~HangGuard() {
        {
            std::lock_guard lock(mutex_);
            done_ = true;
        }
        cv_.notify_all();
        thread_.join();
    }
    HangGuard(const HangGuard&) = delete;
    HangGuard& operator=(const HangGuard&) = delete;

private:
    void Watch(int seconds) {
        std::unique_lock lock(mutex_);
        if (cv_.wait_for(lock, std::chrono::seconds(seconds), [this] { return done_; })) return;
        std::fprintf(stderr, "HANG: %s did not end within %d s\n", what_.c_str(), seconds);
        std::fflush(stderr);
        std::_Exit(3);
    }
    std::string what_;
    std::mutex mutex_;
    std::condition_variable cv_;
    bool done_ = false; // guarded by mutex_
    std::thread thread_;
};

} // namespace vg57::test
