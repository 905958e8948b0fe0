#pragma once

#include <cstdint>
#include <memory>
#include <utility>

#include "base/Error.h"
#include "platform/Connection.h"
#include "platform/Descriptor.h"
#include "platform/WaitSet.h"
#include "platform/linux/LoggerToFile.h"

class IFileSystem;
class TListeningSocket;

// One TCP connection over a BSD socket, made by the socket interface. It
// never waits: every GetState, Send and Receive first polls the socket with
// a zero time-out. An outgoing connection notices its completed connect in
// GetState; a listening one accepts its peer there. Traffic is logged.
class TSocketConnection : public IConnection, public TLoggerToFile, public IPollable {
  public:
    // An outgoing connection starts connecting (1), any other listening (4)
    // on the interface's shared listening socket.
    TSocketConnection(long socket, bool outgoing, const char* logName,
                      IFileSystem* traceFileSystem);
    ~TSocketConnection() override;
    TSocketConnection(const TSocketConnection&) = delete;
    TSocketConnection& operator=(const TSocketConnection&) = delete;

    // Returns the bytes taken, 0 while the socket cannot take any, -1 when
    // the socket reports an exceptional condition or the send fails.
    long Send(const unsigned char* data, unsigned long length) override;
    // Returns the bytes read, 0 while nothing is waiting, -1 on an
    // exceptional condition, -2 when the peer has closed, -3 when the
    // receive fails.
    long Receive(unsigned char* buffer, unsigned long length) override;
    // An accepted peer's address as the socket layer stores it (first octet
    // in the lowest-addressed byte); 0 for outgoing connections.
    unsigned long GetPeerAddress() override;
    CONNSTATE GetState() override;
    Error GetLastError() override;

    virtual unsigned long GetSystemError() = 0;
    int GetDescriptor() const override { return Socket(); }
    // Keeps the port's listening socket open while this connection waits
    // for its peer; it lets go the moment it accepts one.
    void HoldListeningSocket(std::shared_ptr<TListeningSocket> listening) {
        m_listeningSocket = std::move(listening);
    }

    // Polls the socket and records what it reports; an exceptional
    // condition ends the connection.
    void CheckSocketState();
    void SetDefState();

  private:
    void Fail(const Error& reason);
    void AcceptWaitingPeer();
    // The connection's own socket once it has one, else the port's shared
    // listening socket.
    int Socket() const { return m_socket.IsOpen() ? m_socket.Get() : m_listeningDescriptor; }

    Error m_lastError;
    // Outgoing or accepted: the socket this connection owns.
    TDescriptor m_socket;
    // While listening: the port's shared listening socket, which closes with
    // the last connection holding it, not with this one; -1 once accepted.
    int m_listeningDescriptor = -1;
    bool m_exception = false;
    bool m_writable = false;
    bool m_readable = false;
    CONNSTATE m_state;
    std::uint32_t m_peerAddress = 0;
    std::uint32_t m_sendBufferSize = 8192;
    std::shared_ptr<TListeningSocket> m_listeningSocket;
};

class TLinEthernetConnection : public TSocketConnection {
  public:
    using TSocketConnection::TSocketConnection;
    unsigned long GetSystemError() override;
};
