#pragma once

#include <cstdint>
#include <map>

#include "platform/Connection.h"

class ITunnelEndpoint;
class TLoopbackConnection;
class TPacketLink;
class TSerialOutConnection;
class TSerialPacket;

// The terminal side's tunnelled connections, by socket id: the agent's notices are handed to
// them here. Each is owned by its caller and leaves the table when deleted; the table cuts a
// connection loose (DetachFromManager) whenever it lets go of it first, after which the
// connection reports itself closed and never touches the stack again.
class TTerminalConnections {
  public:
    // endpoint is what the connections made here talk to; link carries their packets.
    TTerminalConnections(ITunnelEndpoint& endpoint, TPacketLink& link);
    // Cuts every connection still in the table loose: they may outlive the stack.
    ~TTerminalConnections();
    TTerminalConnections(const TTerminalConnections&) = delete;
    TTerminalConnections& operator=(const TTerminalConnections&) = delete;

    // A new tunnelled call; its request is sent at once.
    TSerialOutConnection* AddCallingConnection(unsigned long socketId, unsigned long ipAddr,
                                               unsigned short port);
    // A new listen: ports up to the highest local one stay inside the terminal, on a loopback
    // connection; the others are tunnelled like a call.
    IConnection* AddListeningConnection(unsigned long socketId, unsigned short port);
    void DeleteSerialConnection(unsigned long socketId);
    // Hands an agent's notice to the connection of its socket id, if there is one.
    void ProcessPacketAtConnection(const TSerialPacket& packet);
    // Gives up the connection of the id and, unless it was closed already, asks the agent to
    // close it; what waits for the line for it is dropped.
    void AbandonSerialConnection(std::uint32_t socketId);
    // Cuts the connection of the id loose without a word to the agent; true when there was one.
    bool GiveUp(std::uint32_t socketId);
    // The agent dropped every connection (reset).
    void MarkAllClosed();

    bool Contains(std::uint32_t socketId) const { return m_connections.contains(socketId); }
    bool IsEmpty() const { return m_connections.empty(); }
    std::size_t Size() const { return m_connections.size(); }
    // The lowest socket id in the table; the table must not be empty.
    std::uint32_t FirstSocketId() const { return m_connections.begin()->first; }

  private:
    // A new tunnelled connection under the request's socket id, once the request is sent.
    TSerialOutConnection* AddSerialConnection(const TSerialPacket& request);

    ITunnelEndpoint& m_endpoint;
    TPacketLink& m_link;
    std::map<std::uint32_t, TSerialOutConnection*> m_connections;
    // The loopback connections handed out for local listens, by port. Owned by their callers
    // and never looked into here, so an entry may outlive its connection.
    std::map<std::uint16_t, TLoopbackConnection*> m_localListeners;
};
