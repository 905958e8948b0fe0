#pragma once

#include <cstdint>
#include <map>
#include <memory>
#include <utility>

#include "base/BinaryData.h"
#include "base/Error.h"
#include "platform/Connection.h"
#include "tunnel/CallFilter.h"

class ITimer;
class TFrameLevel;
class TLoopbackConnection;
class TSerialOutConnection;
class TSerialPacket;

// One TCP connection that the agent holds for the terminal, keyed by the terminal's socket id.
// The state records what has been reported to the terminal: CONNECTING for a call not yet
// reported, LISTENING for a listen that has not accepted, CONNECTED once reported.
class TConnInfo {
  public:
    TConnInfo(IConnection* connection, bool calling);

    IConnection* Connection() const { return m_connection.get(); }
    CONNSTATE State() const { return m_state; }
    void SetState(CONNSTATE state) { m_state = state; }

    // Appends bytes for the TCP peer and offers what the socket will take now. The rest waits
    // for FlushOutput. False when the connection failed or the backlog grew past its bound.
    bool QueueOutput(const T_BinaryData& data);
    bool FlushOutput();
    bool HasPendingOutput() const { return m_pendingOutput.Length() != 0; }

    // The terminal closed the connection while bytes were still waiting for the TCP peer: the
    // record stays until they are delivered (or the connection fails), and reports nothing.
    void MarkClosing() { m_closing = true; }
    bool IsClosing() const { return m_closing; }

  private:
    std::unique_ptr<IConnection> m_connection;
    CONNSTATE m_state;
    T_BinaryData m_pendingOutput;
    bool m_closing = false;
};

// The tunnel's packet layer and connection table. Packets cut out of the frame level's byte
// stream are carried out here: requests from the terminal (call, listen, data out, close) become
// TCP connections on the Ethernet interface, and notices from the agent (call result, connected,
// closed, data in) are handed to the tunnelled connections of the terminal side. Which half is
// active depends only on which packets arrive.
class TSerialManager {
  public:
    explicit TSerialManager(TFrameLevel* frameLevel);
    ~TSerialManager();
    TSerialManager(const TSerialManager&) = delete;
    TSerialManager& operator=(const TSerialManager&) = delete;

    // One processing step; true when at least one packet was handled.
    bool ProcessContinuously();
    bool ProcessSerialConnections();
    // A step at most every 75 ms.
    bool Process();
    // Runs steps until the link is online or 3000 ms have passed.
    bool WaitInterfaceReady();
    void SetStreamMode(bool on);
    bool HaveSerialConnections() const;
    bool SendData(const T_BinaryData& data);
    // Bytes waiting in the frame level for the serial line.
    unsigned long QueuedForLine() const;

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
    CONNSTATE ProcessReceive(unsigned long socketId, IConnection* connection);
    void DeleteBoundConnection(unsigned long socketId);
    void DeleteAllBoundConnections();

    // Notices.
    void SendResetFrame();
    void SendCloseFrame(unsigned long socketId);
    void SendCallErrorFrame(unsigned long socketId, unsigned long error);

  private:
    bool Dispatch(const TSerialPacket& packet);
    // A new tunnelled connection under the request's socket id, once the request is sent.
    TSerialOutConnection* AddSerialConnection(const TSerialPacket& request);
    bool SendPacket(const TSerialPacket& packet);
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
    T_BinaryData m_input;
    // Paces Process.
    std::unique_ptr<ITimer> m_stepTimer;
    TCallFilter m_callFilter;
};
