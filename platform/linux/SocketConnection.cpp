#include "platform/linux/SocketConnection.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>

#include <algorithm>
#include <cerrno>
#include <climits>

#include "base/ErrorCodes.h"
#include "base/LogEvent.h"
#include "platform/linux/ListeningSocket.h"

namespace {

// The error a non-blocking connect ended with, 0 when it succeeded.
int PendingSocketError(int socket) {
    int error = 0;
    socklen_t size = sizeof error;
    if (getsockopt(socket, SOL_SOCKET, SO_ERROR, &error, &size) != 0) {
        return errno;
    }
    return error;
}

}  // namespace
#include "platform/DescriptorReadiness.h"

TSocketConnection::TSocketConnection(long socket, bool outgoing, const char* logName,
                                     IFileSystem* traceFileSystem)
    : TLoggerToFile(logName, traceFileSystem, 0),
      m_lastError(0),
      m_socket(outgoing ? static_cast<int>(socket) : -1),
      m_listeningDescriptor(outgoing ? -1 : static_cast<int>(socket)),
      m_state(outgoing ? CONNSTATE_CONNECTING : CONNSTATE_LISTENING) {}

TSocketConnection::~TSocketConnection() {
    if (m_state == CONNSTATE_LISTENING) {
        return;
    }
    m_socket.Reset();
    LogData(T_LE_Disconnected());
}

void TSocketConnection::SetDefState() {
    m_exception = false;
    m_writable = false;
    m_readable = false;
}

void TSocketConnection::CheckSocketState() {
    SetDefState();
    const TDescriptorReadiness readiness = PollDescriptor(Socket(), READINESS_ANY, 0);
    m_exception = readiness.exceptional;
    m_writable = readiness.writable;
    m_readable = readiness.readable;
    if (m_exception) {
        m_lastError =
            Error(m_state == CONNSTATE_CONNECTING ? kErrorCannotConnect : kErrorConnectionBroken);
        m_state = CONNSTATE_DISCONNECTED;
        LogData(T_LE_ComError(0));
    }
}

void TSocketConnection::Fail(const Error& reason) {
    m_lastError = reason;
    m_state = CONNSTATE_DISCONNECTED;
}

CONNSTATE TSocketConnection::GetState() {
    if (m_state == CONNSTATE_DISCONNECTED) {
        return m_state;
    }
    CheckSocketState();
    if (m_exception) {
        return m_state;
    }
    if (m_state == CONNSTATE_CONNECTING && m_writable) {
        // A refused or unreachable connect also makes the socket writable:
        // only a clear socket error means the connect succeeded.
        if (const int connectError = PendingSocketError(Socket()); connectError != 0) {
            Fail(SubError(kErrorCannotConnect, static_cast<unsigned long>(connectError)));
            LogData(T_LE_ComError(0));
        } else {
            m_state = CONNSTATE_CONNECTED;
            LogData(T_LE_Connected(nullptr));
        }
    } else if (m_state == CONNSTATE_LISTENING && m_readable) {
        AcceptWaitingPeer();
    }
    return m_state;
}

void TSocketConnection::AcceptWaitingPeer() {
    sockaddr_in peer{};
    socklen_t size = sizeof peer;
    // Like every other socket here, the accepted one never blocks: a peer
    // that stops reading must not hold up the loop inside a send.
    const int accepted = accept4(m_listeningDescriptor, reinterpret_cast<sockaddr*>(&peer), &size,
                                 SOCK_CLOEXEC | SOCK_NONBLOCK);
    if (accepted < 0) {
        return;  // another listening connection took the peer first
    }
    m_peerAddress = peer.sin_addr.s_addr;
    m_socket.Reset(accepted);
    // One peer per listen: the port stops listening unless another listen waits on it.
    m_listeningDescriptor = -1;
    m_listeningSocket.reset();
    m_state = CONNSTATE_CONNECTED;
    char dotted[INET_ADDRSTRLEN] = {};
    inet_ntop(AF_INET, &peer.sin_addr, dotted, sizeof dotted);
    LogData(T_LE_Connected(dotted));
}

long TSocketConnection::Receive(unsigned char* buffer, unsigned long length) {
    CheckSocketState();
    if (m_exception) {
        return -1;
    }
    // An empty read would look like the peer's close.
    if (!m_readable || length == 0) {
        return 0;
    }
    const ssize_t received = recv(Socket(), buffer, length, 0);
    if (received == 0) {
        Fail(Error(kErrorConnectionBroken));
        return -2;
    }
    if (received < 0) {
        Fail(SubError(kErrorTransferFailed, GetSystemError()));
        return -3;
    }
    LogData(T_LE_Received(buffer, static_cast<int>(received)));
    return received;
}

long TSocketConnection::Send(const unsigned char* data, unsigned long length) {
    CheckSocketState();
    if (m_exception) {
        return -1;
    }
    if (!m_writable) {
        return 0;
    }
    if (length > m_sendBufferSize) {
        m_sendBufferSize = static_cast<std::uint32_t>(std::min<unsigned long>(length, INT_MAX));
        const int requested = static_cast<int>(m_sendBufferSize);
        setsockopt(Socket(), SOL_SOCKET, SO_SNDBUF, &requested, sizeof requested);
    }
    // A peer that has gone must fail the send, not raise SIGPIPE.
    const ssize_t sent = send(Socket(), data, length, MSG_NOSIGNAL);
    if (sent < 0) {
        Fail(SubError(kErrorTransferFailed, GetSystemError()));
        return -1;
    }
    if (sent > 0) {
        LogData(T_LE_Sent(data, static_cast<int>(sent)));
    }
    return sent;
}

unsigned long TSocketConnection::GetPeerAddress() {
    return m_peerAddress;
}

Error TSocketConnection::GetLastError() {
    return m_lastError;
}

unsigned long TLinEthernetConnection::GetSystemError() {
    return static_cast<unsigned long>(errno);
}
