#include "EventFd.h"

#include <cstdint>
#include <sys/eventfd.h>
#include <unistd.h>

namespace vg57::platform {

EventFd::EventFd() : fd_(eventfd(0, EFD_NONBLOCK | EFD_CLOEXEC)) {}

EventFd::~EventFd() {
    if (fd_ >= 0) close(fd_);
}

void EventFd::Signal() {
    const std::uint64_t one = 1;
    // EAGAIN means the counter is saturated, which is still "signalled".
    [[maybe_unused]] ssize_t n = write(fd_, &one, sizeof one);
}

bool EventFd::Consume() {
    std::uint64_t value = 0;
    return read(fd_, &value, sizeof value) == static_cast<ssize_t>(sizeof value) && value != 0;
}

} // namespace vg57::platform
