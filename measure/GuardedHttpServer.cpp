#include "GuardedHttpServer.h"

#include <algorithm>
#include <cerrno>
#include <cstdint>
#include <cstring>
#include <netdb.h>
#include <optional>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

namespace vg57 {

namespace {

using Clock = std::chrono::steady_clock;

// Set while the listening thread closes a connection it turns away, instead of serving it.
thread_local bool tTurnAway = false;

// Waits for `events` until `deadline`; false on time-out, hang-up or error.
bool WaitFor(int fd, short events, Clock::time_point deadline) {
    for (;;) {
        const auto left =
            std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now());
        if (left.count() <= 0) return false;
        pollfd p{fd, events, 0};
        const int n = poll(&p, 1, static_cast<int>(std::min<long long>(left.count(), 60000)));
        if (n < 0 && errno == EINTR) continue;
        return n > 0 && (p.revents & events);
    }
}

void AddressOf(int fd, bool peer, std::string& ip, int& port) {
    sockaddr_storage a{};
    socklen_t size = sizeof a;
    const int rc = peer ? getpeername(fd, reinterpret_cast<sockaddr*>(&a), &size)
                        : getsockname(fd, reinterpret_cast<sockaddr*>(&a), &size);
    char host[NI_MAXHOST] = "", service[NI_MAXSERV] = "";
    if (rc != 0 || getnameinfo(reinterpret_cast<sockaddr*>(&a), size, host, sizeof host, service,
                               sizeof service, NI_NUMERICHOST | NI_NUMERICSERV) != 0)
        return;
    ip = host;
    port = std::atoi(service);
}

} // namespace

// Every accepted connection runs at once on a thread of its own: the number of them is bounded
// by Admit, so none waits behind a slow one. Threads are made as needed and kept.
class TGuardedHttpServer::TQueue : public httplib::TaskQueue {
public:
    explicit TQueue(TGuardedHttpServer& server) : server_(server) {}

    void enqueue(std::function<void()> fn) override {
        if (!server_.Admit()) {
            // The library gives no way to refuse: the job closes the socket here, at once.
            tTurnAway = true;
            fn();
            tTurnAway = false;
            return;
        }
        const std::lock_guard lock(mutex_);
        jobs_.push_back(std::move(fn));
        if (jobs_.size() > static_cast<std::size_t>(idle_)) {
            threads_.emplace_back([this] { Work(); });
            ++idle_;
        }
        wake_.notify_one();
    }

    void shutdown() override {
        {
            const std::lock_guard lock(mutex_);
            ending_ = true;
        }
        wake_.notify_all();
        for (std::thread& t : threads_)
            t.join();
    }

private:
    void Work() {
        std::unique_lock lock(mutex_);
        for (;;) {
            wake_.wait(lock, [this] { return ending_ || !jobs_.empty(); });
            if (jobs_.empty()) return; // ending, and nothing left to close
            std::function<void()> job = std::move(jobs_.front());
            jobs_.pop_front();
            --idle_;
            lock.unlock();
            job();
            lock.lock();
            ++idle_;
        }
    }

    TGuardedHttpServer& server_;
    std::mutex mutex_;
    std::condition_variable wake_;
    std::list<std::function<void()>> jobs_; // guarded by mutex_
    int idle_ = 0;                          // guarded by mutex_
    bool ending_ = false;                   // guarded by mutex_
    std::vector<std::thread> threads_;      // the listening thread only
};

// One connection's bytes under its deadlines and budget. The library reads a request a byte at
// a time: a small buffer saves it a system call per byte.
class TGuardedHttpServer::TStream : public httplib::Stream {
public:
    TStream(TGuardedHttpServer& server, TConnection& connection)
        : server_(server), connection_(connection),
          readDeadline_(connection.accepted + server.limits_.deadline) {}

    bool is_readable() const override {
        return begin_ < end_ || WaitFor(connection_.fd, POLLIN, readDeadline_);
    }
    bool is_writable() const override {
        return WaitFor(connection_.fd, POLLOUT, writeDeadline_ ? *writeDeadline_ : readDeadline_);
    }

    ssize_t read(char* ptr, size_t size) override {
        if (begin_ == end_) {
            const std::size_t left = server_.limits_.maxRequestBytes - received_;
            if (left == 0 || !WaitFor(connection_.fd, POLLIN, readDeadline_)) return -1;
            const ssize_t n =
                recv(connection_.fd, buffer_, std::min(left, sizeof buffer_), MSG_DONTWAIT);
            if (n <= 0) return n < 0 && (errno == EAGAIN || errno == EINTR) ? read(ptr, size) : n;
            received_ += static_cast<std::size_t>(n);
            begin_ = buffer_;
            end_ = buffer_ + n;
            NoteHeadEnd();
        }
        const std::size_t n = std::min(size, static_cast<std::size_t>(end_ - begin_));
        std::memcpy(ptr, begin_, n);
        begin_ += n;
        return static_cast<ssize_t>(n);
    }

    ssize_t write(const char* ptr, size_t size) override {
        if (!writeDeadline_) {
            writeDeadline_ = Clock::now() + server_.limits_.deadline;
            const std::lock_guard lock(server_.mutex_);
            connection_.answering = true;
        }
        std::size_t done = 0;
        while (done < size) {
            if (!WaitFor(connection_.fd, POLLOUT, *writeDeadline_)) return -1;
            const ssize_t n =
                send(connection_.fd, ptr + done, size - done, MSG_NOSIGNAL | MSG_DONTWAIT);
            if (n < 0 && (errno == EAGAIN || errno == EINTR)) continue;
            if (n < 0) return -1;
            done += static_cast<std::size_t>(n);
        }
        return static_cast<ssize_t>(done);
    }

    void get_remote_ip_and_port(std::string& ip, int& port) const override {
        AddressOf(connection_.fd, true, ip, port);
    }
    void get_local_ip_and_port(std::string& ip, int& port) const override {
        AddressOf(connection_.fd, false, ip, port);
    }
    socket_t socket() const override { return connection_.fd; }

private:
    // Once the blank line after the headers has come, the connection is a request being
    // answered: no newcomer may take its place.
    void NoteHeadEnd() {
        if (headIn_) return;
        for (const char* c = begin_; c < end_ && !headIn_; ++c) {
            tail_ = (tail_ << 8) | static_cast<unsigned char>(*c);
            headIn_ = tail_ == 0x0D0A0D0A;
        }
        if (!headIn_) return;
        const std::lock_guard lock(server_.mutex_);
        connection_.answering = true;
    }

    TGuardedHttpServer& server_;
    TConnection& connection_;
    std::uint32_t tail_ = 0; // the last four bytes received
    bool headIn_ = false;
    const Clock::time_point readDeadline_;
    std::optional<Clock::time_point> writeDeadline_;
    std::size_t received_ = 0;
    char buffer_[1024];
    char* begin_ = buffer_;
    char* end_ = buffer_;
};

TGuardedHttpServer::TGuardedHttpServer(THttpLimits limits) : limits_(limits) {
    new_task_queue = [this] { return new TQueue(*this); };
    // One request per connection: a kept-alive idle connection would hold a slot.
    set_keep_alive_max_count(1);
    // Nothing is read into memory beyond the budget anyway; this turns a declared body away.
    set_payload_max_length(limits.maxRequestBytes);
}

TGuardedHttpServer::~TGuardedHttpServer() {
    StopNow();
}

void TGuardedHttpServer::WidenBacklog(int backlog) {
    // Listening again on a listening socket only changes its backlog.
    if (svr_sock_ != INVALID_SOCKET) ::listen(svr_sock_, backlog);
}

void TGuardedHttpServer::StopNow() {
    {
        const std::lock_guard lock(mutex_);
        stopping_ = true;
        // The owning thread closes each one: shutting it down here only ends its waits.
        for (TConnection& c : open_)
            ::shutdown(c.fd, SHUT_RDWR);
    }
    stop();
}

int TGuardedHttpServer::OpenConnections() const {
    const std::lock_guard lock(mutex_);
    return jobs_;
}

bool TGuardedHttpServer::Admit() {
    const std::lock_guard lock(mutex_);
    if (stopping_) return false;
    if (jobs_ >= limits_.maxConnections) {
        // Those made room for are closing already; never more than twice the bound at once.
        if (jobs_ >= 2 * limits_.maxConnections) return false;
        const auto oldest = std::find_if(open_.begin(), open_.end(), [](const TConnection& c) {
            return !c.answering && !c.evicted;
        });
        if (oldest == open_.end()) return false;
        oldest->evicted = true;
        ::shutdown(oldest->fd, SHUT_RDWR);
    }
    ++jobs_;
    return true;
}

bool TGuardedHttpServer::process_and_close_socket(socket_t sock) {
    if (tTurnAway) {
        ::close(sock);
        return true;
    }
    std::list<TConnection>::iterator connection;
    {
        const std::lock_guard lock(mutex_);
        if (stopping_) {
            --jobs_;
            ::close(sock);
            return true;
        }
        // In order of arrival: the front is the oldest.
        connection = open_.insert(open_.end(), TConnection{sock, Clock::now()});
    }
    {
        TStream stream(*this, *connection);
        bool closed = false;
        process_request(stream, true, closed, nullptr);
    }
    {
        const std::lock_guard lock(mutex_);
        open_.erase(connection);
        --jobs_;
    }
    ::close(sock);
    return true;
}

} // namespace vg57
