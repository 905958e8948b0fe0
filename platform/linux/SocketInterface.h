#pragma once

#include <cstdint>
#include <map>
#include <memory>

#include "base/Error.h"
#include "platform/NetworkInterface.h"

class IFileSystem;
class TListeningSocket;

// The host's own TCP/IP network. Outgoing connects run in the background
// and are noticed by the connection's GetState; every port gets one
// listening socket on its first Listen, shared by the connections that Listen
// made for that port while they wait for a peer, and closed when the last of
// them has accepted one or gone: a listen takes one connection, and the port
// refuses further peers until the next. Every descriptor is close-on-exec. Connections log into
// "sock<descriptor>.txt" in the trace file system.
class TSocketInterface : public virtual INetworkInterface {
  public:
    explicit TSocketInterface(IFileSystem* traceFileSystem);
    TSocketInterface(const TSocketInterface&) = delete;
    TSocketInterface& operator=(const TSocketInterface&) = delete;

    // Forgets the listening sockets that are closed; an open one closes with
    // the last connection that waits on it.
    void Close() override;
    unsigned GetCurrentState() override;
    Error GetNetworkError() override;
    Error SetSelfParams(const TNetworkClientParam& params) override;
    Error GetSelfParams(TNetworkClientParam& params) override;
    Error Call(const TNetworkHostParam& host, IConnection** connection) override;
    // Port 0 is refused with 20008: the port the system would pick could
    // never be told to the caller. When the port cannot be bound or set
    // listening, the result is 20008 without a cause and errno holds the
    // system's reason.
    Error Listen(unsigned short port, IConnection** connection) override;
    Error Ping(unsigned long address) override;
    Error ResolveAddressUsingDNS(const char* name, unsigned long* address) override;

    virtual void SetNonblockingMode(long socket) = 0;
    virtual IConnection* CreateSocketConnection(long socket, bool outgoing, const char* logName,
                                                IFileSystem* traceFileSystem) = 0;
    virtual unsigned long GetSystemError() = 0;

    // A new non-blocking, close-on-exec TCP socket with SO_REUSEADDR and
    // keepalive, or -1.
    long CreateNonblockingSocket();
    // The port's listening socket, made when no connection holds one; null
    // if it cannot be made. Whoever holds it keeps the port open: a server
    // that listens again after every connection it accepts holds it, so that
    // peers coming in between wait in the backlog instead of being refused.
    std::shared_ptr<TListeningSocket> GetListeningSocket(unsigned short port);
    const char* GetConnLogName(long socket);

    // The local address listening sockets made from now on are bound to
    // (first octet in the most significant byte); all local addresses
    // unless set.
    void SetListenAddress(std::uint32_t address) { m_listenAddress = address; }
    // The size at which the traffic logs of connections made from now on
    // are trimmed; 0, the default, lets them grow.
    void SetTrafficLogLimit(unsigned long bytes) { m_trafficLogLimit = bytes; }

    // Keepalive of every connection: the first probe after this many idle
    // seconds, then one every interval; a peer that answers none of the
    // probes is given up about two minutes after it went silent.
    static constexpr int kKeepaliveIdleSec = 60;
    static constexpr int kKeepaliveIntervalSec = 10;
    static constexpr int kKeepaliveProbes = 6;

  private:
    void ForgetClosedListeningSockets();

    IFileSystem* m_traceFileSystem;
    char m_logName[100];
    // Held by the connections that listen on them, by port.
    std::map<std::uint16_t, std::weak_ptr<TListeningSocket>> m_listeningSockets;
    std::uint32_t m_listenAddress = 0;
    unsigned long m_trafficLogLimit = 0;

    // The new connection's traffic log gets the configured limit.
    IConnection* NewConnection(long socket, bool outgoing);
};

class TLinEthernetInterface : public virtual TSocketInterface {
  public:
    explicit TLinEthernetInterface(IFileSystem* traceFileSystem);

    Error Open() override;
    void SetNonblockingMode(long socket) override;
    IConnection* CreateSocketConnection(long socket, bool outgoing, const char* logName,
                                        IFileSystem* traceFileSystem) override;
    unsigned long GetSystemError() override;
};
