#pragma once

#include <cstdint>
#include <memory>

#include "base/BinaryData.h"
#include "platform/Connection.h"
#include "tunnel/TunnelCounters.h"

// One TCP connection that the agent holds for the terminal, keyed by the terminal's socket id.
// The state records what has been reported to the terminal: CONNECTING for a call not yet
// reported, LISTENING for a listen that has not accepted, CONNECTED once reported.
class TConnInfo {
  public:
    // A call goes to address:port; a listen waits on port. The bytes handed to the peer are
    // added to sentTotal as well, which must outlive the record.
    TConnInfo(IConnection* connection, std::uint64_t& sentTotal, bool calling,
              std::uint32_t address = 0, std::uint16_t port = 0);

    IConnection* Connection() const { return m_connection.get(); }
    CONNSTATE State() const { return m_state; }
    void SetState(CONNSTATE state) { m_state = state; }
    // A listen's peer, once it is accepted.
    void SetPeerAddress(std::uint32_t address) { m_peerAddress = address; }
    // Counts bytes read from the TCP peer.
    void CountReceived(unsigned long count) { m_bytesFromPeer += count; }
    // The connection as it stands, under the terminal's socket id.
    TConnectionFigures Figures(std::uint32_t socketId) const;

    // Appends bytes for the TCP peer and offers what the socket will take now. The rest waits
    // for FlushOutput. False when the connection failed or the backlog grew past its bound.
    bool QueueOutput(const T_BinaryData& data);
    bool FlushOutput();
    bool HasPendingOutput() const { return m_pendingOutput.Length() != 0; }
    unsigned long PendingOutputLength() const { return m_pendingOutput.Length(); }

    // The terminal closed the connection while bytes were still waiting for the TCP peer: the
    // record stays until they are delivered (or the connection fails), and reports nothing.
    void MarkClosing() { m_closing = true; }
    bool IsClosing() const { return m_closing; }

  private:
    std::unique_ptr<IConnection> m_connection;
    CONNSTATE m_state;
    T_BinaryData m_pendingOutput;
    bool m_closing = false;
    bool m_calling;
    std::uint32_t m_address;
    std::uint16_t m_port;
    std::uint32_t m_peerAddress = 0;
    std::uint64_t& m_sentTotal;
    std::uint64_t m_bytesToPeer = 0;
    std::uint64_t m_bytesFromPeer = 0;
};
