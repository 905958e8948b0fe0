#include "tunnel/AgentConnections.h"

#include <algorithm>

#include "base/ErrorCodes.h"
#include "platform/NetworkInterface.h"
#include "platform/WaitSet.h"
#include "tunnel/PacketLink.h"
#include "tunnel/SerialPacket.h"

namespace {

// Largest block read from a TCP connection at once: whole packets' worth, so that a full read
// leaves no short packet behind.
constexpr unsigned long kReceiveBlock = 16 * TPacketLayout::kMaxDataPerPacket;
// A TCP connection is read only while less than this of its data waits for the serial line
// (about six seconds of the line at 115200 baud), and while all connections together have less
// than kMaxQueuedForLine waiting. Past it the data stays in the socket, and TCP's own window
// holds a fast sender back instead of this process's memory growing without bound.
constexpr unsigned long kMaxQueuedPerConnection = 64 * 1024;
constexpr unsigned long kMaxQueuedForLine = 512 * 1024;

}  // namespace

TAgentConnections::TAgentConnections(TPacketLink& link, INetworkInterface* network)
    : m_link(link), m_network(network) {}

TAgentConnections::~TAgentConnections() = default;

void TAgentConnections::ProcessCallRequest(const TSerialPacket& packet) {
    const unsigned long socketId = packet.GetSocketID();
    // Nothing queued for an older connection under the id may reach the terminal's new one.
    m_link.Drop(static_cast<std::uint32_t>(socketId));
    const bool calling = packet.GetActionType() == ACTION_CALL;
    const unsigned long refusal = m_callFilter
                                      ? m_callFilter(static_cast<std::uint32_t>(socketId),
                                                     static_cast<std::uint32_t>(packet.GetIpAddr()),
                                                     packet.GetPort(), calling)
                                      : 0;
    const Error result = refusal != 0 ? Error(refusal)
                                      : CreateBoundConnection(socketId, packet.GetIpAddr(),
                                                              packet.GetPort(), calling);
    if (result.Code() != 0) {
        ++m_callsRefused;
        DeleteBoundConnection(socketId);
        SendCallErrorFrame(socketId, result.Code());
    }
}

Error TAgentConnections::CreateBoundConnection(unsigned long socketId, unsigned long ipAddr,
                                               unsigned short port, bool calling) {
    Error result(kErrorNoNetworkInterface);
    IConnection* connection = nullptr;
    if (m_network != nullptr) {
        if (calling) {
            result = m_network->Call(TNetworkHostParam(ipAddr, port, false, nullptr, nullptr),
                                     &connection);
        } else {
            result = m_network->Listen(port, &connection);
        }
    }
    if (connection != nullptr) {
        DeleteBoundConnection(socketId);
        m_connections[static_cast<std::uint32_t>(socketId)] = std::make_unique<TConnInfo>(
            connection, m_bytesToPeers, calling, calling ? static_cast<std::uint32_t>(ipAddr) : 0, port);
    }
    return result;
}

void TAgentConnections::ProcessDataOutRequest(const TSerialPacket& packet) {
    const unsigned long socketId = packet.GetSocketID();
    const auto it = m_connections.find(static_cast<std::uint32_t>(socketId));
    if (it == m_connections.end() || it->second->IsClosing()) {
        SendCloseFrame(socketId);
        return;
    }
    // Bytes the socket cannot take yet (connect still running, peer not accepted, send buffer
    // full) wait in the record and go out on later visits.
    if (!it->second->QueueOutput(packet.GetData())) {
        SendCloseFrame(socketId);
        DeleteBoundConnection(socketId);
    }
}

void TAgentConnections::ProcessCloseRequest(const TSerialPacket& packet) {
    // The terminal no longer listens to this id: what waits for the line for it is dropped.
    m_link.Drop(static_cast<std::uint32_t>(packet.GetSocketID()));
    const auto it = m_connections.find(static_cast<std::uint32_t>(packet.GetSocketID()));
    if (it == m_connections.end()) {
        return;
    }
    // Bytes still owed to a connected (or connecting) peer go out before the socket closes. A
    // listen that has no peer yet is dropped with its bytes: kept, it could take the peer of a
    // newer listen on the same port.
    if (it->second->HasPendingOutput() && it->second->State() != CONNSTATE_LISTENING) {
        it->second->MarkClosing();
    } else {
        m_connections.erase(it);
    }
}

void TAgentConnections::ProcessBoundConnections() {
    for (auto it = m_connections.begin(); it != m_connections.end();) {
        const std::uint32_t socketId = it->first;
        TConnInfo& info = *it->second;
        if (info.IsClosing()) {
            it = DrainClosing(info) ? m_connections.erase(it) : std::next(it);
            continue;
        }
        CONNSTATE state = info.Connection()->GetState();
        if (state == CONNSTATE_CONNECTED) {
            ReportEstablished(socketId, info);
            const unsigned long pendingBefore = info.PendingOutputLength();
            const bool flushed = info.FlushOutput();
            m_progress = m_progress || info.PendingOutputLength() != pendingBefore;
            state = flushed ? ProcessReceive(socketId, info) : CONNSTATE_DISCONNECTED;
        }
        if (state == CONNSTATE_DISCONNECTED) {
            // One close per visit: the connections after this one wait for the next visit. The
            // notice follows the connection's data still waiting for the line.
            m_progress = true;
            m_connections.erase(it);
            SendCloseFrame(socketId);
            return;
        }
        ++it;
    }
}

void TAgentConnections::ReportEstablished(std::uint32_t socketId, TConnInfo& info) {
    if (info.State() != CONNSTATE_CONNECTED) {
        m_progress = true;
    }
    if (info.State() == CONNSTATE_CONNECTING) {
        m_link.Queue(TSerialPacket(ACTION_CALL_RESULT, socketId, 0, 0, 0));
    } else if (info.State() == CONNSTATE_LISTENING) {
        const unsigned long peer = info.Connection()->GetPeerAddress();
        info.SetPeerAddress(static_cast<std::uint32_t>(peer));
        m_link.Queue(TSerialPacket(ACTION_CONNECTED, socketId, peer, 0, 0));
    }
    info.SetState(CONNSTATE_CONNECTED);
}

bool TAgentConnections::DrainClosing(TConnInfo& info) {
    const CONNSTATE state = info.Connection()->GetState();
    if (state == CONNSTATE_DISCONNECTED) {
        return true;
    }
    if (state != CONNSTATE_CONNECTED) {
        return false;
    }
    return !info.FlushOutput() || !info.HasPendingOutput();
}

CONNSTATE TAgentConnections::ProcessReceive(std::uint32_t socketId, TConnInfo& info) {
    unsigned char block[kReceiveBlock];
    while (WouldRead(socketId)) {
        const long received = info.Connection()->Receive(block, sizeof block);
        if (received < 0) {
            return CONNSTATE_DISCONNECTED;
        }
        if (received == 0) {
            return CONNSTATE_CONNECTED;
        }
        m_progress = true;
        const auto count = static_cast<unsigned long>(received);
        info.CountReceived(count);
        m_bytesFromPeers += count;
        for (unsigned long offset = 0; offset < count; offset += TPacketLayout::kMaxDataPerPacket) {
            const T_BinaryData data(block + offset,
                                    std::min(TPacketLayout::kMaxDataPerPacket, count - offset), 0);
            m_link.Queue(TSerialPacket(ACTION_DATA_IN, socketId, data));
        }
    }
    return CONNSTATE_CONNECTED;
}

void TAgentConnections::DeleteBoundConnection(unsigned long socketId) {
    m_connections.erase(static_cast<std::uint32_t>(socketId));
}

void TAgentConnections::ListConnections(std::vector<TConnectionFigures>& into) const {
    for (const auto& [socketId, info] : m_connections) {
        into.push_back(info->Figures(socketId));
    }
}

void TAgentConnections::AddWaits(TWaitSet& waits) const {
    for (const auto& [socketId, info] : m_connections) {
        const auto* pollable = dynamic_cast<const IPollable*>(info->Connection());
        if (pollable == nullptr || pollable->GetDescriptor() < 0) {
            continue;
        }
        unsigned interests = info->HasPendingOutput() ? unsigned{READINESS_WRITABLE} : 0U;
        if (info->State() == CONNSTATE_CONNECTING) {
            interests |= READINESS_WRITABLE;
        } else if (info->State() == CONNSTATE_LISTENING) {
            interests |= READINESS_READABLE;
        } else if (!info->IsClosing() && WouldRead(socketId)) {
            interests |= READINESS_READABLE;
        }
        if (interests != 0) {
            waits.Add(pollable->GetDescriptor(), interests);
        }
    }
}

bool TAgentConnections::WouldRead(std::uint32_t socketId) const {
    return m_link.Queued().QueuedBytes(socketId) < kMaxQueuedPerConnection &&
           m_link.Queued().TotalBytes() < kMaxQueuedForLine;
}

void TAgentConnections::SendCloseFrame(unsigned long socketId) {
    m_link.Queue(TSerialPacket(ACTION_CLOSED, socketId, 0, 0, 0));
}

void TAgentConnections::SendCallErrorFrame(unsigned long socketId, unsigned long error) {
    m_link.Queue(TSerialPacket(ACTION_CALL_RESULT, socketId, 0, 0, error));
}

void TAgentConnections::CloseBoundConnection(std::uint32_t socketId) {
    m_link.Drop(socketId);
    DeleteBoundConnection(socketId);
    SendCloseFrame(socketId);
}
