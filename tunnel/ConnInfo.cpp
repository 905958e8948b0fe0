#include "tunnel/ConnInfo.h"

#include <algorithm>

namespace {

// Most bytes offered to a TCP connection at once. An accepted socket blocks until it has queued
// all it is offered; a socket that reports itself writable has room for this much.
constexpr unsigned long kSendBlock = 4096;
// Bytes the terminal may have sent ahead of a TCP peer that does not read: about a minute and
// a half of a full serial line. A peer further behind is treated as gone.
constexpr unsigned long kMaxPendingOutput = 1024 * 1024;

}  // namespace

TConnInfo::TConnInfo(IConnection* connection, std::uint64_t& sentTotal, bool calling,
                     std::uint32_t address, std::uint16_t port)
    : m_connection(connection),
      m_state(calling ? CONNSTATE_CONNECTING : CONNSTATE_LISTENING),
      m_calling(calling),
      m_address(address),
      m_port(port),
      m_sentTotal(sentTotal) {}

TConnectionFigures TConnInfo::Figures(std::uint32_t socketId) const {
    return TConnectionFigures{.socketId = socketId,
                              .calling = m_calling,
                              .state = m_state,
                              .closing = m_closing,
                              .address = m_address,
                              .peerAddress = m_peerAddress,
                              .port = m_port,
                              .bytesToPeer = m_bytesToPeer,
                              .bytesFromPeer = m_bytesFromPeer};
}

bool TConnInfo::QueueOutput(const T_BinaryData& data) {
    m_pendingOutput += data;
    return FlushOutput();
}

bool TConnInfo::FlushOutput() {
    while (m_pendingOutput.Length() != 0) {
        const unsigned long offered = std::min(m_pendingOutput.Length(), kSendBlock);
        const long taken = m_connection->Send(m_pendingOutput.GetData(), offered);
        if (taken < 0) {
            return false;
        }
        m_pendingOutput.Cut(0, static_cast<unsigned long>(taken));
        m_bytesToPeer += static_cast<unsigned long>(taken);
        m_sentTotal += static_cast<unsigned long>(taken);
        if (static_cast<unsigned long>(taken) < offered) {
            break;
        }
    }
    return m_pendingOutput.Length() <= kMaxPendingOutput;
}
