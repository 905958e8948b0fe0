#include "tunnel/TerminalConnections.h"

#include "platform/LoopbackConnection.h"
#include "tunnel/PacketLink.h"
#include "tunnel/SerialOutConnection.h"
#include "tunnel/SerialPacket.h"
#include "tunnel/TunnelEndpoint.h"

namespace {

// Listens on ports up to this one stay inside the terminal.
constexpr unsigned short kHighestLocalPort = 4095;

}  // namespace

TTerminalConnections::TTerminalConnections(ITunnelEndpoint& endpoint, TPacketLink& link)
    : m_endpoint(endpoint), m_link(link) {}

TTerminalConnections::~TTerminalConnections() {
    for (auto& [id, connection] : m_connections) {
        connection->DetachFromManager();
    }
}

TSerialOutConnection* TTerminalConnections::AddCallingConnection(unsigned long socketId,
                                                                 unsigned long ipAddr,
                                                                 unsigned short port) {
    return AddSerialConnection(TSerialPacket(ACTION_CALL, socketId, ipAddr, port, 0));
}

IConnection* TTerminalConnections::AddListeningConnection(unsigned long socketId,
                                                          unsigned short port) {
    if (port <= kHighestLocalPort) {
        auto* loopback = new TLoopbackConnection(nullptr);
        m_localListeners[port] = loopback;
        return loopback;
    }
    return AddSerialConnection(TSerialPacket(ACTION_LISTEN, socketId, 0, port, 0));
}

TSerialOutConnection* TTerminalConnections::AddSerialConnection(const TSerialPacket& request) {
    const unsigned long socketId = request.GetSocketID();
    auto* connection = new TSerialOutConnection(&m_endpoint, socketId, CONNSTATE_CONNECTING);
    // An older connection under the same id no longer hears from the agent. Cut loose, it can
    // neither close the new one with its own close request nor take its entry when deleted.
    if (const auto older = m_connections.find(static_cast<std::uint32_t>(socketId));
        older != m_connections.end()) {
        older->second->DetachFromManager();
    }
    DeleteSerialConnection(socketId);
    // Nothing queued for the older connection may reach the agent's new one.
    m_link.Drop(static_cast<std::uint32_t>(socketId));
    m_connections[static_cast<std::uint32_t>(socketId)] = connection;
    m_endpoint.SendPacket(request);
    return connection;
}

void TTerminalConnections::DeleteSerialConnection(unsigned long socketId) {
    m_connections.erase(static_cast<std::uint32_t>(socketId));
}

void TTerminalConnections::ProcessPacketAtConnection(const TSerialPacket& packet) {
    const auto it = m_connections.find(static_cast<std::uint32_t>(packet.GetSocketID()));
    if (it != m_connections.end()) {
        it->second->ProcessIncomingPacket(packet);
    }
}

void TTerminalConnections::AbandonSerialConnection(std::uint32_t socketId) {
    const auto it = m_connections.find(socketId);
    const bool open = it == m_connections.end() || it->second->IsOpen();
    if (it != m_connections.end()) {
        // Cut loose, it reports itself closed and no late notice can open it again.
        it->second->DetachFromManager();
        m_connections.erase(it);
    }
    m_link.Drop(socketId);
    if (open) {
        m_link.Queue(TSerialPacket(ACTION_CLOSE, socketId, 0, 0, 0));
    }
}

bool TTerminalConnections::GiveUp(std::uint32_t socketId) {
    const auto it = m_connections.find(socketId);
    if (it == m_connections.end()) {
        return false;
    }
    it->second->DetachFromManager();
    m_connections.erase(it);
    return true;
}

void TTerminalConnections::MarkAllClosed() {
    for (auto& [id, connection] : m_connections) {
        connection->MarkClosed();
    }
}
