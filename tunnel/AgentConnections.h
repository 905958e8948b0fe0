#pragma once

#include <cstdint>
#include <map>
#include <memory>
#include <utility>
#include <vector>

#include "base/Error.h"
#include "platform/Connection.h"
#include "tunnel/CallFilter.h"
#include "tunnel/ConnInfo.h"
#include "tunnel/TunnelCounters.h"

class INetworkInterface;
class TPacketLink;
class TSerialPacket;
class TWaitSet;

// The TCP connections the agent holds for the terminal, by the terminal's socket id. Requests
// from the terminal (call, listen, data out, close) are carried out on the network interface it
// is given; what the connections report (call result, connected, data in, closed) is queued on
// the packet link. A connection is read only while its data waiting for the line stays small.
class TAgentConnections {
  public:
    // network makes the TCP connections; without one every call and listen is refused with
    // kErrorNoNetworkInterface. Neither is owned.
    TAgentConnections(TPacketLink& link, INetworkInterface* network);
    ~TAgentConnections();
    TAgentConnections(const TAgentConnections&) = delete;
    TAgentConnections& operator=(const TAgentConnections&) = delete;

    // A call or listen the filter refuses is answered with its error code and makes no
    // connection. Without a filter every request goes ahead.
    void SetCallFilter(TCallFilter filter) { m_callFilter = std::move(filter); }
    void ProcessCallRequest(const TSerialPacket& packet);
    void ProcessDataOutRequest(const TSerialPacket& packet);
    void ProcessCloseRequest(const TSerialPacket& packet);
    Error CreateBoundConnection(unsigned long socketId, unsigned long ipAddr, unsigned short port,
                                bool calling);
    // Moves bytes both ways on every connection and reports what changed; closes at most one
    // connection that went down.
    void ProcessBoundConnections();
    CONNSTATE ProcessReceive(std::uint32_t socketId, TConnInfo& info);
    void DeleteBoundConnection(unsigned long socketId);
    void DeleteAllBoundConnections() { m_connections.clear(); }
    // Closes the TCP connection of the id, drops what waits for the line for it, and queues a
    // closed notice.
    void CloseBoundConnection(std::uint32_t socketId);

    bool Contains(std::uint32_t socketId) const { return m_connections.contains(socketId); }
    bool IsEmpty() const { return m_connections.empty(); }
    std::size_t Size() const { return m_connections.size(); }
    // The lowest socket id in the table; the table must not be empty.
    std::uint32_t FirstSocketId() const { return m_connections.begin()->first; }

    // Adds the descriptors of the connections with what the table waits for on each.
    void AddWaits(TWaitSet& waits) const;
    // Appends the connections' figures, by socket id.
    void ListConnections(std::vector<TConnectionFigures>& into) const;
    // Calls and listens refused so far.
    std::uint64_t CallsRefused() const { return m_callsRefused; }
    // Bytes handed to the TCP peers and read from them so far, closed connections included.
    std::uint64_t BytesToPeers() const { return m_bytesToPeers; }
    std::uint64_t BytesFromPeers() const { return m_bytesFromPeers; }
    // Whether anything moved since the last call.
    bool TakeProgress() { return std::exchange(m_progress, false); }

    // Notices queued for the line.
    void SendCloseFrame(unsigned long socketId);
    void SendCallErrorFrame(unsigned long socketId, unsigned long error);

  private:
    // Whether the connection's data may be read now without its backlog growing too large.
    bool WouldRead(std::uint32_t socketId) const;
    // Sends the call result or the connected notice once the TCP connection is up.
    void ReportEstablished(std::uint32_t socketId, TConnInfo& info);
    // Delivers what a closing connection still owes its peer; true when the record is done.
    bool DrainClosing(TConnInfo& info);

    TPacketLink& m_link;
    INetworkInterface* m_network;
    // Declared before the connections, whose records add to the first, so that it outlives them.
    std::uint64_t m_bytesToPeers = 0;
    std::uint64_t m_bytesFromPeers = 0;
    std::map<std::uint32_t, std::unique_ptr<TConnInfo>> m_connections;
    TCallFilter m_callFilter;
    std::uint64_t m_callsRefused = 0;
    // Set by whatever moves bytes or reports a change.
    bool m_progress = false;
};
