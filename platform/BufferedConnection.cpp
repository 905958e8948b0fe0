#include "platform/BufferedConnection.h"

#include <algorithm>
#include <cstdint>
#include <cstring>
#include <memory>

#include "platform/ActivityWait.h"
#include "platform/Timer.h"

TBufferedConnection::TBufferedConnection(IConnection* inner, ITimerSource& timers)
    : m_inner(inner), m_timers(timers) {}

TBufferedConnection::~TBufferedConnection() = default;

namespace {

// The longest pause between two offers, so that an inner connection without a descriptor,
// which moves only while it is polled, is offered the rest again soon.
constexpr unsigned long kStallPauseMs = 1;

// Paces the offers while the inner connection takes nothing. False once it has
// taken nothing for the stall limit: the peer has stopped reading, and offering
// on would spin for ever.
bool WaitForProgress(ITimerSource& timers, IConnection& inner, std::unique_ptr<ITimer>& stall,
                     unsigned long limitMsec) {
    if (!stall) {
        stall = timers.CreateTimer(limitMsec);
    } else if (stall->IsExpired()) {
        return false;
    }
    TActivityWait pause(timers);
    pause.Add(inner, READINESS_WRITABLE);
    pause.Sleep(kStallPauseMs);
    return true;
}

}  // namespace

long TBufferedConnection::Send(const unsigned char* data, unsigned long length) {
    unsigned long taken = 0;
    std::unique_ptr<ITimer> stall;  // runs while the inner connection takes nothing
    do {
        const long result = m_inner->Send(data + taken, length - taken);
        if (result < 0) {
            return taken == 0 ? result : static_cast<long>(taken);
        }
        taken += static_cast<unsigned long>(result);
        if (result > 0) {
            stall.reset();
        } else if (taken < length &&
                   !WaitForProgress(m_timers, *m_inner, stall, kSendStallLimitMs)) {
            return taken == 0 ? -1 : static_cast<long>(taken);
        }
    } while (taken < length);
    return static_cast<long>(length);
}

long TBufferedConnection::Receive(unsigned char* data, unsigned long length) {
    if (m_fill < 0) {
        return -1;
    }
    if (HasBufferedInput()) {
        return HandOutBuffered(data, length);
    }
    if (length >= kDirectReadSize) {
        return m_inner->Receive(data, length);
    }
    const long result = m_inner->Receive(m_buffer.data(), kBufferSize);
    m_fill = static_cast<std::int32_t>(
        std::clamp<long>(result, INT32_MIN, static_cast<long>(kBufferSize)));
    m_position = 0;
    if (m_fill < 0) {
        return 0;  // the failure shows from the next call on
    }
    // The refilled bytes go out at once, not a pass later.
    return HandOutBuffered(data, length);
}

long TBufferedConnection::HandOutBuffered(unsigned char* data, unsigned long length) {
    const auto count = static_cast<std::int32_t>(
        std::min<unsigned long>(length, static_cast<unsigned long>(m_fill - m_position)));
    std::memcpy(data, m_buffer.data() + m_position, static_cast<std::size_t>(count));
    m_position += count;
    return count;
}

int TBufferedConnection::GetDescriptor() const {
    const auto* pollable = dynamic_cast<const IPollable*>(m_inner.get());
    return pollable != nullptr ? pollable->GetDescriptor() : -1;
}

unsigned long TBufferedConnection::GetPeerAddress() {
    return m_inner->GetPeerAddress();
}

CONNSTATE TBufferedConnection::GetState() {
    return m_inner->GetState();
}

Error TBufferedConnection::GetLastError() {
    return m_inner->GetLastError();
}

void TBufferedConnection::FlushInputData() {
    if (m_fill >= 0) {
        while (m_inner->Receive(m_buffer.data(), 1) > 0) {
        }
        m_fill = 0;
    }
    m_position = 0;
}
