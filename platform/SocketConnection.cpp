#include "platform/SocketConnection.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <climits>

#include "log/LogEvent.h"
#include "platform/DescriptorReadiness.h"

namespace {

constexpr unsigned long kPeerClosed = 20003;
constexpr unsigned long kConnectFailed = 20001;
constexpr unsigned long kConnectionBroken = 20003;
constexpr unsigned long kTransferFailed = 20004;

}  // namespace

TSocketConnection::TSocketConnection(long socket, bool outgoing, const char* logName,
                                     IFileSystem* traceFileSystem)
    : TLoggerToFile(logName, traceFileSystem, 0),
      lastError_(0),
      socket_(static_cast<int>(socket)),
      state_(outgoing ? CONNSTATE_CONNECTING : CONNSTATE_LISTENING),
      ownsSocket_(outgoing) {}

TSocketConnection::~TSocketConnection() {
    if (state_ == CONNSTATE_LISTENING) {
        return;
    }
    if (ownsSocket_) {
        close(socket_);
    }
    LogData(T_LE_Disconnected());
}

void TSocketConnection::SetDefState() {
    exception_ = false;
    writable_ = false;
    readable_ = false;
}

void TSocketConnection::CheckSocketState() {
    SetDefState();
    const TDescriptorReadiness readiness = PollDescriptor(socket_, READINESS_ANY, 0);
    exception_ = readiness.exceptional;
    writable_ = readiness.writable;
    readable_ = readiness.readable;
    if (exception_) {
        lastError_ = Error(state_ == CONNSTATE_CONNECTING ? kConnectFailed : kConnectionBroken);
        state_ = CONNSTATE_DISCONNECTED;
        LogData(T_LE_ComError(0));
    }
}

void TSocketConnection::Fail(const Error& reason) {
    lastError_ = reason;
    state_ = CONNSTATE_DISCONNECTED;
}

CONNSTATE TSocketConnection::GetState() {
    if (state_ == CONNSTATE_DISCONNECTED) {
        return state_;
    }
    CheckSocketState();
    if (exception_) {
        return state_;
    }
    if (state_ == CONNSTATE_CONNECTING && writable_) {
        state_ = CONNSTATE_CONNECTED;
        LogData(T_LE_Connected(nullptr));
    } else if (state_ == CONNSTATE_LISTENING && readable_) {
        AcceptWaitingPeer();
    }
    return state_;
}

void TSocketConnection::AcceptWaitingPeer() {
    sockaddr_in peer{};
    socklen_t size = sizeof peer;
    const int accepted = accept(socket_, reinterpret_cast<sockaddr*>(&peer), &size);
    if (accepted < 0) {
        return;  // another listening connection took the peer first
    }
    peerAddress_ = peer.sin_addr.s_addr;
    socket_ = accepted;
    ownsSocket_ = true;
    state_ = CONNSTATE_CONNECTED;
    char dotted[INET_ADDRSTRLEN] = {};
    inet_ntop(AF_INET, &peer.sin_addr, dotted, sizeof dotted);
    LogData(T_LE_Connected(dotted));
}

long TSocketConnection::Receive(unsigned char* buffer, unsigned long length) {
    CheckSocketState();
    if (exception_) {
        return -1;
    }
    // An empty read would look like the peer's close.
    if (!readable_ || length == 0) {
        return 0;
    }
    const ssize_t received = recv(socket_, buffer, length, 0);
    if (received == 0) {
        Fail(Error(kPeerClosed));
        return -2;
    }
    if (received < 0) {
        Fail(SubError(kTransferFailed, GetSystemError()));
        return -3;
    }
    LogData(T_LE_Received(buffer, static_cast<int>(received)));
    return received;
}

long TSocketConnection::Send(const unsigned char* data, unsigned long length) {
    CheckSocketState();
    if (exception_) {
        return -1;
    }
    if (!writable_) {
        return 0;
    }
    if (length > sendBufferSize_) {
        sendBufferSize_ = static_cast<std::uint32_t>(std::min<unsigned long>(length, INT_MAX));
        const int requested = static_cast<int>(sendBufferSize_);
        setsockopt(socket_, SOL_SOCKET, SO_SNDBUF, &requested, sizeof requested);
    }
    // A peer that has gone must fail the send, not raise SIGPIPE.
    const ssize_t sent = send(socket_, data, length, MSG_NOSIGNAL);
    if (sent < 0) {
        Fail(SubError(kTransferFailed, GetSystemError()));
        return -1;
    }
    if (sent > 0) {
        LogData(T_LE_Sent(data, static_cast<int>(sent)));
    }
    return sent;
}

unsigned long TSocketConnection::GetPeerAddress() {
    return peerAddress_;
}

Error TSocketConnection::GetLastError() {
    return lastError_;
}

unsigned long TLinEthernetConnection::GetSystemError() {
    return static_cast<unsigned long>(errno);
}
