// The input queue between the reader and status threads and the dispatch thread.
#pragma once

#include <condition_variable>
#include <cstdint>
#include <deque>
#include <memory>
#include <mutex>

namespace vg57 {

struct TIOBuffer {
    virtual ~TIOBuffer() = default;
};

// A chunk of received bytes.
struct TDataBuffer : TIOBuffer {
    static constexpr std::uint32_t kSize = 256;
    std::uint8_t data[kSize];
    std::uint32_t size = kSize;
    std::uint32_t used = 0;     // bytes filled by the reader
    std::uint32_t read = 0;     // bytes already moved on
    std::int64_t arrivedMs = 0; // MonotonicMs when the reader took them from the device
};

// A line-event word (modem line changes, breaks, errors) in its place among the data.
struct TStatusBuffer : TIOBuffer {
    explicit TStatusBuffer(std::uint32_t word) : eventWord(word) {}
    std::uint32_t eventWord;
};

// Locked first-in first-out queue; every append wakes the waiting consumer.
class TIOQueue {
public:
    void Append(std::unique_ptr<TIOBuffer> buffer);
    // Waits until the queue holds an entry, Kick() was called, or the deadline (MonotonicMs,
    // -1 for none) has passed. With newOnly, entries already there do not count: the consumer
    // could not take them and waits for a new one or a kick. Returns true when not empty.
    bool Wait(std::int64_t deadlineMs, bool newOnly = false);
    void Kick();
    bool Empty() const;
    // Drops every entry (the dispatch thread takes bytes only under the queue's lock).
    void Clear();

    // Runs f(std::deque<...>&) under the queue's lock.
    template <typename F> auto Locked(F&& f) {
        std::lock_guard lock(mutex_);
        return f(entries_);
    }

private:
    mutable std::mutex mutex_;
    std::condition_variable cv_;
    std::deque<std::unique_ptr<TIOBuffer>> entries_; // guarded by mutex_
    bool kicked_ = false;                            // guarded by mutex_
    std::uint64_t appends_ = 0;                      // guarded by mutex_
};

} // namespace vg57
