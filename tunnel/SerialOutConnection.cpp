#include "tunnel/SerialOutConnection.h"

#include <algorithm>

#include "base/ErrorCodes.h"
#include "platform/ReceiveBuffer.h"
#include "tunnel/SerialPacket.h"
#include "tunnel/TunnelEndpoint.h"

TSerialOutConnection::TSerialOutConnection(ITunnelEndpoint* endpoint, unsigned long socketId,
                                           CONNSTATE state)
    : m_manager(endpoint),
      m_socketId(static_cast<std::uint32_t>(socketId)),
      m_lastError(kErrorNotConnected),
      m_state(state) {}

TSerialOutConnection::~TSerialOutConnection() {
    if (m_manager == nullptr) {
        return;
    }
    // Sending the close, or waiting for it, may give this connection up (a packet of it was
    // lost on the line): then the manager has forgotten it already.
    if (IsOpen() && SendClosePacket() && m_manager != nullptr) {
        m_manager->WaitInterfaceReady();
    }
    if (m_manager == nullptr) {
        return;
    }
    m_manager->DeleteSerialConnection(m_socketId);
    m_manager->ProcessContinuously();
}

void TSerialOutConnection::DetachFromManager() {
    m_manager = nullptr;
    m_state = CONNSTATE_DISCONNECTED;
}

void TSerialOutConnection::RunTunnelStep() {
    if (m_manager != nullptr) {
        m_manager->ProcessContinuously();
    }
}

long TSerialOutConnection::Send(const unsigned char* data, unsigned long length) {
    RunTunnelStep();
    if (m_state == CONNSTATE_DISCONNECTED) {
        return -1;
    }
    for (unsigned long offset = 0; offset < length; offset += TPacketLayout::kMaxDataPerPacket) {
        const unsigned long piece = std::min(TPacketLayout::kMaxDataPerPacket, length - offset);
        if (!SendPacket(TSerialPacket(ACTION_DATA_OUT, m_socketId,
                                      T_BinaryData(data + offset, piece, 0)))) {
            // The link is down; the pieces already handed over stay sent, and the agent is asked
            // to close, since nobody here will use the connection again.
            SendClosePacket();
            m_state = CONNSTATE_DISCONNECTED;
            return -1;
        }
    }
    // Handing the pieces over may have given this connection up (an earlier piece was lost).
    if (m_manager != nullptr) {
        m_manager->WaitInterfaceReady();
    }
    return static_cast<long>(length);
}

long TSerialOutConnection::Receive(unsigned char* buffer, unsigned long length) {
    RunTunnelStep();
    if (m_state == CONNSTATE_DISCONNECTED && m_receiveBuffer.Length() == 0) {
        return -1;
    }
    return static_cast<long>(MoveFrontBytes(m_receiveBuffer, buffer, length));
}

unsigned long TSerialOutConnection::GetPeerAddress() {
    return m_peerAddress;
}

CONNSTATE TSerialOutConnection::GetState() {
    RunTunnelStep();
    return m_state;
}

Error TSerialOutConnection::GetLastError() {
    return Error(m_lastError);
}

void TSerialOutConnection::ProcessIncomingPacket(const TSerialPacket& packet) {
    switch (packet.GetActionType()) {
        case ACTION_CONNECTED:
            m_peerAddress = static_cast<std::uint32_t>(packet.GetIpAddr());
            m_state = CONNSTATE_CONNECTED;
            break;
        case ACTION_CALL_RESULT:
            m_lastError = static_cast<std::uint32_t>(packet.GetError());
            m_state = m_lastError != 0 ? CONNSTATE_DISCONNECTED : CONNSTATE_CONNECTED;
            break;
        case ACTION_CLOSED:
            m_state = CONNSTATE_DISCONNECTED;
            break;
        case ACTION_DATA_IN:
            m_receiveBuffer += packet.GetData();
            break;
        default:
            break;
    }
}

bool TSerialOutConnection::SendPacket(const TSerialPacket& packet) {
    return m_manager != nullptr && m_manager->SendPacket(packet);
}

bool TSerialOutConnection::SendClosePacket() {
    return SendPacket(TSerialPacket(ACTION_CLOSE, m_socketId, 0, 0, 0));
}
