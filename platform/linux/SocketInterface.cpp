#include "platform/linux/SocketInterface.h"

#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>

#include "base/ErrorCodes.h"
#include "platform/Descriptor.h"
#include "platform/linux/ListeningSocket.h"
#include "platform/linux/LoggerToFile.h"
#include "platform/linux/SocketConnection.h"

namespace {

// Room for a burst of connections arriving between two passes of the loop.
constexpr int kListenBacklog = SOMAXCONN;

sockaddr_in Ipv4Address(std::uint32_t hostOrderAddress, std::uint16_t port) {
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_port = htons(port);
    address.sin_addr.s_addr = htonl(hostOrderAddress);
    return address;
}

// Probes an idle connection, so that a peer that vanished without a word (a
// host switched off, a cable pulled) ends it within minutes instead of never.
// Accepted connections inherit this from their listening socket.
void EnableKeepalive(int s) {
    const int on = 1;
    const int idle = TSocketInterface::kKeepaliveIdleSec;
    const int interval = TSocketInterface::kKeepaliveIntervalSec;
    const int probes = TSocketInterface::kKeepaliveProbes;
    setsockopt(s, SOL_SOCKET, SO_KEEPALIVE, &on, sizeof on);
    setsockopt(s, IPPROTO_TCP, TCP_KEEPIDLE, &idle, sizeof idle);
    setsockopt(s, IPPROTO_TCP, TCP_KEEPINTVL, &interval, sizeof interval);
    setsockopt(s, IPPROTO_TCP, TCP_KEEPCNT, &probes, sizeof probes);
}

}  // namespace

TSocketInterface::TSocketInterface(IFileSystem* traceFileSystem)
    : m_traceFileSystem(traceFileSystem), m_logName{} {}

void TSocketInterface::Close() {
    ForgetClosedListeningSockets();
}

void TSocketInterface::ForgetClosedListeningSockets() {
    std::erase_if(m_listeningSockets, [](const auto& entry) { return entry.second.expired(); });
}

unsigned TSocketInterface::GetCurrentState() {
    return kStateUp;
}

Error TSocketInterface::GetNetworkError() {
    return Error(0);
}

Error TSocketInterface::SetSelfParams(const TNetworkClientParam&) {
    return Error(0);
}

Error TSocketInterface::GetSelfParams(TNetworkClientParam&) {
    return Error(kErrorNotSupported);
}

Error TSocketInterface::Ping(unsigned long) {
    return Error(kErrorNotSupported);
}

Error TSocketInterface::ResolveAddressUsingDNS(const char*, unsigned long*) {
    return Error(kErrorNotSupported);
}

long TSocketInterface::CreateNonblockingSocket() {
    const int s = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, IPPROTO_TCP);
    if (s < 0) {
        return -1;
    }
    SetNonblockingMode(s);
    const int reuse = 1;
    setsockopt(s, SOL_SOCKET, SO_REUSEADDR, &reuse, sizeof reuse);
    EnableKeepalive(s);
    return s;
}

Error TSocketInterface::Call(const TNetworkHostParam& host, IConnection** connection) {
    *connection = nullptr;
    TDescriptor s(static_cast<int>(CreateNonblockingSocket()));
    if (!s) {
        return SubError(kErrorCannotCreateSocket, GetSystemError());
    }
    const sockaddr_in address = Ipv4Address(static_cast<std::uint32_t>(host.address), host.port);
    if (connect(s.Get(), reinterpret_cast<const sockaddr*>(&address), sizeof address) != 0 &&
        errno != EINPROGRESS && errno != EALREADY) {
        const unsigned long cause = GetSystemError();
        s.Reset();
        return SubError(kErrorCannotConnect, cause);
    }
    *connection = NewConnection(s.Release(), true);
    return Error(0);
}

std::shared_ptr<TListeningSocket> TSocketInterface::GetListeningSocket(unsigned short port) {
    if (auto known = m_listeningSockets[port].lock()) {
        return known;
    }
    ForgetClosedListeningSockets();
    const long s = CreateNonblockingSocket();
    if (s == -1) {
        return nullptr;
    }
    auto listening = std::make_shared<TListeningSocket>(static_cast<int>(s));
    const sockaddr_in address = Ipv4Address(m_listenAddress, port);
    if (bind(static_cast<int>(s), reinterpret_cast<const sockaddr*>(&address), sizeof address) !=
            0 ||
        listen(static_cast<int>(s), kListenBacklog) != 0) {
        // errno keeps the reason for Listen's caller; closing the socket must
        // not change it.
        const int reason = errno;
        listening.reset();
        errno = reason;
        return nullptr;
    }
    m_listeningSockets[port] = listening;
    return listening;
}

Error TSocketInterface::Listen(unsigned short port, IConnection** connection) {
    *connection = nullptr;
    const std::shared_ptr<TListeningSocket> listening =
        port == 0 ? nullptr : GetListeningSocket(port);
    if (!listening) {
        return Error(kErrorCannotListen);
    }
    *connection = NewConnection(listening->Descriptor(), false);
    if (auto* listener = dynamic_cast<TSocketConnection*>(*connection)) {
        listener->HoldListeningSocket(listening);
    }
    return Error(0);
}

IConnection* TSocketInterface::NewConnection(long socket, bool outgoing) {
    IConnection* connection =
        CreateSocketConnection(socket, outgoing, GetConnLogName(socket), m_traceFileSystem);
    if (auto* logger = dynamic_cast<TLoggerToFile*>(connection); logger != nullptr) {
        logger->SetSizeLimit(m_trafficLogLimit);
    }
    return connection;
}

const char* TSocketInterface::GetConnLogName(long socket) {
    std::snprintf(m_logName, sizeof m_logName, "sock%010lu.txt",
                  static_cast<unsigned long>(socket));
    return m_logName;
}

TLinEthernetInterface::TLinEthernetInterface(IFileSystem* traceFileSystem)
    : TSocketInterface(traceFileSystem) {}

Error TLinEthernetInterface::Open() {
    return Error(0);
}

void TLinEthernetInterface::SetNonblockingMode(long socket) {
    fcntl(static_cast<int>(socket), F_SETFL, O_NONBLOCK);
}

IConnection* TLinEthernetInterface::CreateSocketConnection(long socket, bool outgoing,
                                                           const char* logName,
                                                           IFileSystem* traceFileSystem) {
    return new TLinEthernetConnection(socket, outgoing, logName, traceFileSystem);
}

unsigned long TLinEthernetInterface::GetSystemError() {
    return static_cast<unsigned long>(errno);
}
