#pragma once

#include <cstdint>

#include "base/BinaryData.h"
#include "base/Error.h"
#include "platform/Connection.h"

class ITunnelEndpoint;
class TSerialPacket;

// One TCP connection made through the tunnel, seen from the terminal side. Sent bytes travel
// to the agent as ACTION_DATA_OUT packets; the state and the received bytes follow the agent's
// notices. Send, Receive, GetState and the destructor run a tunnel step themselves.
class TSerialOutConnection : public IConnection {
  public:
    // Talks to the stack through endpoint until it is cut loose (DetachFromManager).
    TSerialOutConnection(ITunnelEndpoint* endpoint, unsigned long socketId, CONNSTATE state);
    ~TSerialOutConnection() override;
    TSerialOutConnection(const TSerialOutConnection&) = delete;
    TSerialOutConnection& operator=(const TSerialOutConnection&) = delete;

    long Send(const unsigned char* data, unsigned long length) override;
    long Receive(unsigned char* buffer, unsigned long length) override;
    unsigned long GetPeerAddress() override;
    CONNSTATE GetState() override;
    Error GetLastError() override;

    // A notice from the agent for this connection's socket id.
    void ProcessIncomingPacket(const TSerialPacket& packet);
    bool SendPacket(const TSerialPacket& packet);
    bool SendClosePacket();

    // Neither closed by the agent nor failed: the agent may still hold its TCP connection.
    bool IsOpen() const {
        return m_state == CONNSTATE_CONNECTING || m_state == CONNSTATE_CONNECTED;
    }
    // The agent dropped every connection (reset).
    void MarkClosed() { m_state = CONNSTATE_DISCONNECTED; }
    // The manager lets go of this connection (the stack is going away, or a newer connection
    // took its socket id): it is closed for good and never touches the manager again.
    void DetachFromManager();

  private:
    void RunTunnelStep();

    ITunnelEndpoint* m_manager;
    T_BinaryData m_receiveBuffer;
    std::uint32_t m_socketId;
    std::uint32_t m_peerAddress = 0;
    std::uint32_t m_lastError;
    CONNSTATE m_state;
};
