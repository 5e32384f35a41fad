// An eventfd used as an auto-reset event that poll() can wait on beside a device.
#pragma once

namespace vg57::platform {

class EventFd {
public:
    EventFd();
    ~EventFd();
    EventFd(const EventFd&) = delete;
    EventFd& operator=(const EventFd&) = delete;

    bool Valid() const { return fd_ >= 0; }
    int Fd() const { return fd_; }
    // Wakes a poll() on Fd(); signals made before the wait are not lost.
    void Signal();
    // Resets the event; true when it had been signalled.
    bool Consume();

private:
    int fd_ = -1;
};

} // namespace vg57::platform
