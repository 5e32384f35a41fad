// A cpp-httplib server that no client can hold: a bounded number of connections, a whole deadline
// for each request however slowly its bytes arrive, a small byte budget for what a request may
// send, and a stop that ends every connection at once. The library parses, routes and answers;
// what it can't bound (its time-outs restart with every byte, its queue takes every connection,
// its limits are fixed when it is compiled) is done here, over its task queue and its
// per-connection hook.
#pragma once

#include <httplib.h>

#include <chrono>
#include <condition_variable>
#include <cstddef>
#include <list>
#include <mutex>
#include <thread>
#include <vector>

namespace vg57 {

struct THttpLimits {
    // Connections served at once. Beyond it a new one takes the place of the oldest that has
    // not sent its whole request yet (a slow client can't lock scrapes out); when every
    // connection is being answered, the new one is closed at once.
    int maxConnections = 32;
    // From accept to the request's last byte, and again for writing the answer.
    std::chrono::milliseconds deadline{2000};
    // All a request may send: line, headers and anything after them.
    std::size_t maxRequestBytes = 8192;
};

class TGuardedHttpServer : public httplib::Server {
public:
    explicit TGuardedHttpServer(THttpLimits limits = {});
    ~TGuardedHttpServer() override;

    // After binding: a backlog that holds the connections a busy moment brings (the library's
    // is 5), so that a scraper's connect is not dropped while others are turned away.
    void WidenBacklog(int backlog);
    // Ends every connection at once and stops listening; the listening thread then returns
    // within the library's idle interval. Safe from any thread, more than once.
    void StopNow();
    // Connections open now (for tests and benchmarks).
    int OpenConnections() const;

private:
    struct TConnection {
        int fd;
        std::chrono::steady_clock::time_point accepted;
        bool answering = false; // its request is in, or it is being answered; guarded by mutex_
        bool evicted = false;   // shut down to make room; guarded by mutex_
    };
    class TQueue;
    class TStream;
    friend class TQueue;
    friend class TStream;

    bool process_and_close_socket(socket_t sock) override;
    // Makes room for one more connection; false when it must be turned away.
    bool Admit();

    const THttpLimits limits_;
    mutable std::mutex mutex_;
    std::list<TConnection> open_; // guarded by mutex_
    int jobs_ = 0;                // accepted and not yet closed; guarded by mutex_
    bool stopping_ = false;       // guarded by mutex_
};

} // namespace vg57
