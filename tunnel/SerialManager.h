#pragma once

#include <cstdint>
#include <memory>
#include <utility>
#include <vector>

#include "base/Error.h"
#include "platform/Connection.h"
#include "platform/TimerSource.h"
#include "tunnel/AgentConnections.h"
#include "tunnel/CallFilter.h"
#include "tunnel/ConnInfo.h"
#include "tunnel/PacketLink.h"
#include "tunnel/TerminalConnections.h"
#include "tunnel/TunnelCounters.h"
#include "tunnel/TunnelEndpoint.h"

class INetworkInterface;
class ITimer;
class TWaitSet;
class TFrameLevel;
class TSerialOutConnection;
class TSerialPacket;

// The tunnel's packet layer: a packet link over the frame level and the two connection tables
// it serves. Packets cut out of the frame level's byte stream are carried out here: requests from
// the terminal (call, listen, data out, close) go to the agent's table (TAgentConnections), which
// makes TCP connections on the network interface it is given, and notices from the agent (call
// result, connected, closed, data in) go to the terminal's table (TTerminalConnections) of
// tunnelled connections. Which half is active depends only on which packets arrive.
//
// The link (TPacketLink) bounds and schedules what waits for the line; this class decides what a
// loss closes. Each packet the frame level holds is known by its tag, so that its loss closes
// exactly the connection it belonged to and leaves no hole behind it. Data the peer lost (a
// break in the stream) closes every connection, since any of them may have a hole; a packet the
// peer cut short closes its own; past the queue's bound the connections that have waited
// longest are given up.
class TSerialManager : public ITunnelEndpoint, private IPacketLosses {
  public:
    // Takes ownership of frameLevel; network (not owned, may be null) makes the agent side's TCP
    // connections; timers, which must outlive the manager, pace it and time its waits.
    TSerialManager(TFrameLevel* frameLevel, INetworkInterface* network,
                   ITimerSource& timers = SystemTimers());
    ~TSerialManager() override;
    TSerialManager(const TSerialManager&) = delete;
    TSerialManager& operator=(const TSerialManager&) = delete;

    // One processing step; true when it made any progress (a frame or packet handled, bytes
    // moved to or from a TCP connection, a packet handed to the line), so a loop may step again
    // at once instead of sleeping.
    bool ProcessContinuously() override;
    // Adds the descriptors of the TCP connections with what this manager waits for on each.
    void AddWaits(TWaitSet& waits) const;
    // How long a loop may sleep before the frame level's timer needs a step.
    unsigned long MillisecondsToNextDeadline() const;
    bool ProcessSerialConnections();
    // A step at most every 75 ms.
    bool Process();
    // Runs steps until the link is online or 3000 ms have passed.
    bool WaitInterfaceReady() override;
    void SetStreamMode(bool on);
    bool HaveSerialConnections() const;
    // Queues a packet for the line and hands the line what it is ready for; false while the
    // link is down. Not for use inside the manager's own walks of its tables.
    bool SendPacket(const TSerialPacket& packet) override;
    // Bytes of packets waiting for the serial line.
    unsigned long QueuedForLine() const { return m_link.Queued().TotalBytes(); }
    // Whether the peer has answered since the link was last reset.
    bool IsOnline() const;
    // What the frame level and this layer have counted.
    TTunnelCounters Counters() const;
    // Replaces the content of into with the agent side's TCP connections, by socket id.
    void ListConnections(std::vector<TConnectionFigures>& into) const;

    // Terminal side (TTerminalConnections). The returned connections belong to the caller.
    TSerialOutConnection* AddCallingConnection(unsigned long socketId, unsigned long ipAddr,
                                               unsigned short port);
    IConnection* AddListeningConnection(unsigned long socketId, unsigned short port);
    void DeleteSerialConnection(unsigned long socketId) override;
    void ProcessPacketAtConnection(const TSerialPacket& packet);

    // Agent side (TAgentConnections).
    // A call or listen the filter refuses is answered with its error code and makes no
    // connection. Without a filter every request goes ahead.
    void SetCallFilter(TCallFilter filter) { m_agent.SetCallFilter(std::move(filter)); }
    void ProcessCallRequest(const TSerialPacket& packet);
    void ProcessDataOutRequest(const TSerialPacket& packet);
    void ProcessCloseRequest(const TSerialPacket& packet);
    // A reset from the peer: every connection of both sides is gone, and every packet that
    // speaks of one.
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
    // Hands queued packets to the frame level while it is ready for one.
    void SendQueuedPackets();
    // The terminal gave up a packet halfway: close the connection it belonged to.
    void HandleCutShortPacket(const TCutShortPacket& cut);
    // The packet may not have reached the peer: close what it belonged to.
    void OnPacketLost(const TOutboundPacket& packet) override;
    // Drops the packets of the id that has waited longest for the line. Its TCP connection is
    // closed with a closed notice queued at the back; a notice for an id without one (a request
    // for an unknown id) is lost, as is a tunnelled connection of the terminal side.
    void OnQueueOverflow() override;
    // The peer lost data it had sent: drops the half packet and, unless the peer restarted,
    // closes every connection.
    void HandleStreamBreak();
    // Closes the agent's TCP connection of the id and tells the terminal, counted as a close
    // after a loss when the id has a connection.
    void CloseAfterLoss(std::uint32_t socketId);
    void CloseAllConnections();

    TPacketLink m_link;
    TAgentConnections m_agent;
    TTerminalConnections m_terminal;
    // Set by whatever moves the current step along.
    bool m_progress = false;
    // Paces Process.
    std::unique_ptr<ITimer> m_stepTimer;
    // The packet figures but the refused calls; the frame level keeps the frame figures.
    TTunnelCounters m_counters;
    ITimerSource& m_timers;
};
