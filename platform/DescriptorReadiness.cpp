#include "platform/DescriptorReadiness.h"

#include <poll.h>

namespace {

constexpr short kReadableEvents = POLLIN | POLLRDNORM | POLLRDBAND;
constexpr short kWritableEvents = POLLOUT | POLLWRNORM | POLLWRBAND;
constexpr short kExceptionalEvents = POLLPRI;
constexpr int kWriteWaitMs = 3000;

}  // namespace

TDescriptorReadiness PollDescriptor(int fd, unsigned interests, int timeoutMs) {
    pollfd entry{fd, 0, 0};
    if (interests & READINESS_READABLE) {
        entry.events |= kReadableEvents;
    }
    if (interests & READINESS_WRITABLE) {
        entry.events |= kWritableEvents;
    }
    if (interests & READINESS_EXCEPTIONAL) {
        entry.events |= kExceptionalEvents;
    }

    TDescriptorReadiness readiness;
    if (fd < 0 || poll(&entry, 1, timeoutMs) <= 0 || (entry.revents & POLLNVAL)) {
        return readiness;
    }
    const short events = entry.revents;
    readiness.readable =
        (interests & READINESS_READABLE) && (events & (kReadableEvents | POLLHUP | POLLERR));
    readiness.writable = (interests & READINESS_WRITABLE) && (events & (kWritableEvents | POLLERR));
    readiness.exceptional = (interests & READINESS_EXCEPTIONAL) && (events & kExceptionalEvents);
    return readiness;
}

int IsSocketWithErrors(int fd) {
    return PollDescriptor(fd, READINESS_EXCEPTIONAL, 0).exceptional ? 1 : 0;
}

int WaitSocketReadyForWriting(int fd) {
    return PollDescriptor(fd, READINESS_WRITABLE, kWriteWaitMs).writable ? 1 : 0;
}
