#pragma once

#include <cstdint>
#include <map>
#include <memory>
#include <optional>
#include <set>
#include <utility>
#include <vector>

#include "base/BinaryData.h"
#include "base/Error.h"
#include "platform/Connection.h"
#include "tunnel/CallFilter.h"
#include "tunnel/PacketInput.h"
#include "tunnel/PacketScheduler.h"
#include "tunnel/TunnelCounters.h"

class ITimer;
class TWaitSet;
class TFrameLevel;
class TLoopbackConnection;
class TSerialOutConnection;
class TSerialPacket;

// One TCP connection that the agent holds for the terminal, keyed by the terminal's socket id.
// The state records what has been reported to the terminal: CONNECTING for a call not yet
// reported, LISTENING for a listen that has not accepted, CONNECTED once reported.
class TConnInfo {
  public:
    // A call goes to address:port; a listen waits on port.
    TConnInfo(IConnection* connection, bool calling, std::uint32_t address = 0,
              std::uint16_t port = 0);

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
    std::uint64_t m_bytesToPeer = 0;
    std::uint64_t m_bytesFromPeer = 0;
};

// The tunnel's packet layer and connection table. Packets cut out of the frame level's byte
// stream are carried out here: requests from the terminal (call, listen, data out, close) become
// TCP connections on the Ethernet interface, and notices from the agent (call result, connected,
// closed, data in) are handed to the tunnelled connections of the terminal side. Which half is
// active depends only on which packets arrive.
//
// Outgoing packets wait here, per socket id, and go to the frame level one portion each, when it
// is ready for one: the ids take turns, TCP reading pauses while a connection's backlog is
// large, the queue's length is bounded (past the bound the connections that have waited longest
// are given up), and at most one packet of an id is on its way. Each packet the frame level
// holds is known by its tag, so that its loss closes exactly the connection it belonged to and
// leaves no hole behind it. Only packets whose second delivery changes nothing are sent again
// after a time-out (MayRepeatAfterTimeOut). Data the peer lost (a break in the stream) closes
// every connection, since any of them may have a hole; a packet the peer cut short closes its own.
class TSerialManager {
  public:
    explicit TSerialManager(TFrameLevel* frameLevel);
    ~TSerialManager();
    TSerialManager(const TSerialManager&) = delete;
    TSerialManager& operator=(const TSerialManager&) = delete;

    // One processing step; true when it made any progress (a frame or packet handled, bytes
    // moved to or from a TCP connection, a packet handed to the line), so a loop may step again
    // at once instead of sleeping.
    bool ProcessContinuously();
    // Adds the descriptors of the TCP connections with what this manager waits for on each.
    void AddWaits(TWaitSet& waits) const;
    // How long a loop may sleep before the frame level's timer needs a step.
    unsigned long MillisecondsToNextDeadline() const;
    bool ProcessSerialConnections();
    // A step at most every 75 ms.
    bool Process();
    // Runs steps until the link is online or 3000 ms have passed.
    bool WaitInterfaceReady();
    void SetStreamMode(bool on);
    bool HaveSerialConnections() const;
    // Queues a packet for the line and hands the line what it is ready for; false while the
    // link is down. Not for use inside the manager's own walks of its tables.
    bool SendPacket(const TSerialPacket& packet);
    // Bytes of packets waiting for the serial line.
    unsigned long QueuedForLine() const { return m_outbound.TotalBytes(); }
    // Whether the peer has answered since the link was last reset.
    bool IsOnline() const;
    // What the frame level and this layer have counted.
    TTunnelCounters Counters() const;
    // Replaces the content of into with the agent side's TCP connections, by socket id.
    void ListConnections(std::vector<TConnectionFigures>& into) const;

    // Terminal side. The returned connections belong to the caller.
    TSerialOutConnection* AddCallingConnection(unsigned long socketId, unsigned long ipAddr,
                                               unsigned short port);
    IConnection* AddListeningConnection(unsigned long socketId, unsigned short port);
    void DeleteSerialConnection(unsigned long socketId);
    void ProcessPacketAtConnection(const TSerialPacket& packet);

    // Agent side.
    // A call or listen the filter refuses is answered with its error code and makes no
    // connection. Without a filter every request goes ahead.
    void SetCallFilter(TCallFilter filter) { m_callFilter = std::move(filter); }
    void ProcessCallRequest(const TSerialPacket& packet);
    void ProcessDataOutRequest(const TSerialPacket& packet);
    void ProcessCloseRequest(const TSerialPacket& packet);
    void ProcessReset();
    Error CreateBoundConnection(unsigned long socketId, unsigned long ipAddr, unsigned short port,
                                bool calling);
    void ProcessBoundConnections();
    CONNSTATE ProcessReceive(std::uint32_t socketId, TConnInfo& info);
    void DeleteBoundConnection(unsigned long socketId);
    void DeleteAllBoundConnections();

    // Notices. All but the reset are queued for the step to send.
    void SendResetFrame();
    void SendCloseFrame(unsigned long socketId);
    void SendCallErrorFrame(unsigned long socketId, unsigned long error);

  private:
    bool Dispatch(const TSerialPacket& packet);
    // A new tunnelled connection under the request's socket id, once the request is sent.
    TSerialOutConnection* AddSerialConnection(const TSerialPacket& request);
    // Queues a packet only; the step hands it to the frame level, outside any walk of the
    // tables that the handling of a lost packet may change.
    void QueuePacket(const TSerialPacket& packet);
    // Hands queued packets to the frame level while it is ready for one.
    void SendQueuedPackets();
    // Takes the outcomes of the packets the frame level holds; true when one was given up.
    bool CheckPacketInFlight();
    void ForgetPacketsInFlight();
    // Whether a packet whose answer stays out may go out again: only when its second
    // delivery changes nothing at the peer.
    static bool MayRepeatAfterTimeOut(unsigned char action);
    // Whether each transmission of a packet goes out twice at once.
    static bool GoesOutTwiceAtOnce(unsigned char action);
    // The terminal gave up a packet halfway: close the connection it belonged to.
    void HandleCutShortPacket(const TCutShortPacket& cut);
    // The packet may not have reached the peer: close what it belonged to.
    void HandleLostPacket(const TOutboundPacket& packet);
    // The peer lost data it had sent: drops the half packet and, unless the peer restarted,
    // closes every connection.
    void HandleStreamBreak();
    // Closes the agent's TCP connection of the id and tells the terminal.
    void CloseBoundConnection(std::uint32_t socketId);
    // CloseBoundConnection, counted as a close after a loss when the id has a connection.
    void CloseAfterLoss(std::uint32_t socketId);
    // Gives up the terminal's tunnelled connection of the id and asks the agent to close it.
    void AbandonSerialConnection(std::uint32_t socketId);
    void CloseAllConnections();
    // Drops the packets of the id that has waited longest for the line. Its TCP connection is
    // closed with a closed notice queued at the back; a notice for an id without one (a request
    // for an unknown id) is lost, as is a tunnelled connection of the terminal side.
    void GiveUpLongestWaiting();
    // Whether the connection's data may be read now without its backlog growing too large.
    bool WouldRead(std::uint32_t socketId) const;
    // Sends the call result or the connected notice once the TCP connection is up.
    void ReportEstablished(std::uint32_t socketId, TConnInfo& info);
    // Delivers what a closing connection still owes its peer; true when the record is done.
    bool DrainClosing(TConnInfo& info);

    std::unique_ptr<TFrameLevel> m_frameLevel;
    // Terminal side, by socket id. Owned by their callers; each leaves the map when deleted.
    std::map<std::uint32_t, TSerialOutConnection*> m_serialConnections;
    // Agent side, by socket id.
    std::map<std::uint32_t, std::unique_ptr<TConnInfo>> m_boundConnections;
    // The loopback connections handed out for local listens, by port. Owned by their callers
    // and never looked into here, so an entry may outlive its connection.
    std::map<std::uint16_t, TLoopbackConnection*> m_localListeners;
    // Bytes from the frame level that do not form a complete packet yet.
    TPacketInput m_input;
    // The frame level reported a break after what m_input holds.
    bool m_breakAhead = false;
    // Packets not yet handed to the frame level.
    TPacketScheduler m_outbound;
    // The packets the frame level holds until the peer acknowledges them, by tag, and their ids.
    std::map<std::uint64_t, TOutboundPacket> m_inFlight;
    std::set<std::uint32_t> m_busyIds;
    std::uint64_t m_lastTag = 0;
    // Set by whatever moves the current step along.
    bool m_progress = false;
    // Paces Process.
    std::unique_ptr<ITimer> m_stepTimer;
    TCallFilter m_callFilter;
    // The packet figures; the frame level keeps the frame figures.
    TTunnelCounters m_counters;
};
