#include "platform/WaitSet.h"

#include <algorithm>
#include <climits>

namespace {

short PollEvents(unsigned interests) {
    short events = 0;
    if ((interests & READINESS_READABLE) != 0) {
        events |= POLLIN;
    }
    if ((interests & READINESS_WRITABLE) != 0) {
        events |= POLLOUT;
    }
    return events;
}

}  // namespace

void TWaitSet::Add(int fd, unsigned interests) {
    if (fd < 0) {
        return;
    }
    const short events = PollEvents(interests);
    const auto same = std::find_if(m_entries.begin(), m_entries.end(),
                                   [fd](const pollfd& entry) { return entry.fd == fd; });
    if (same != m_entries.end()) {
        same->events |= events;
    } else {
        m_entries.push_back(pollfd{fd, events, 0});
    }
}

bool TWaitSet::Contains(int fd, unsigned interests) const {
    const short events = PollEvents(interests);
    return std::any_of(m_entries.begin(), m_entries.end(), [fd, events](const pollfd& entry) {
        return entry.fd == fd && (entry.events & events) == events;
    });
}

bool TWaitSet::Wait(unsigned long timeoutMs) {
    const int timeout = static_cast<int>(std::min<unsigned long>(timeoutMs, INT_MAX));
    return poll(m_entries.data(), m_entries.size(), timeout) > 0;
}
