#include "tunnel/BufferedConnection.h"

#include <algorithm>
#include <cstdint>
#include <cstring>

TBufferedConnection::TBufferedConnection(IConnection* inner) : m_inner(inner) {}

TBufferedConnection::~TBufferedConnection() = default;

long TBufferedConnection::Send(const unsigned char* data, unsigned long length) {
    unsigned long taken = 0;
    do {
        const long result = m_inner->Send(data + taken, length - taken);
        if (result < 0) {
            return taken == 0 ? result : static_cast<long>(taken);
        }
        taken += static_cast<unsigned long>(result);
    } while (taken < length);
    return static_cast<long>(length);
}

long TBufferedConnection::Receive(unsigned char* data, unsigned long length) {
    if (m_fill < 0) {
        return -1;
    }
    if (m_position < m_fill) {
        const auto count = static_cast<std::int32_t>(
            std::min<unsigned long>(length, static_cast<unsigned long>(m_fill - m_position)));
        std::memcpy(data, m_buffer.data() + m_position, static_cast<std::size_t>(count));
        m_position += count;
        return count;
    }
    if (length >= kDirectReadSize) {
        return m_inner->Receive(data, length);
    }
    // The refilling call reports nothing; its bytes come with the following calls.
    const long result = m_inner->Receive(m_buffer.data(), kBufferSize);
    m_fill = static_cast<std::int32_t>(
        std::clamp<long>(result, INT32_MIN, static_cast<long>(kBufferSize)));
    m_position = 0;
    return 0;
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
