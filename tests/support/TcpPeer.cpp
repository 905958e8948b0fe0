#include "support/TcpPeer.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>
#include <stdexcept>

namespace {

sockaddr_in LoopbackAddress(std::uint16_t port) {
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_port = htons(port);
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    return address;
}

bool WaitReadable(int fd, int timeoutMs) {
    pollfd entry{fd, POLLIN, 0};
    return ::poll(&entry, 1, timeoutMs) > 0;
}

std::uint16_t BoundPort(int fd) {
    sockaddr_in address{};
    socklen_t length = sizeof address;
    ::getsockname(fd, reinterpret_cast<sockaddr*>(&address), &length);
    return ntohs(address.sin_port);
}

}  // namespace

TTcpPeer::~TTcpPeer() { Close(); }

std::optional<TTcpPeer> TTcpPeer::Connect(std::uint16_t port) {
    const int fd = ::socket(AF_INET, SOCK_STREAM, 0);
    const sockaddr_in address = LoopbackAddress(port);
    if (::connect(fd, reinterpret_cast<const sockaddr*>(&address), sizeof address) != 0) {
        ::close(fd);
        return std::nullopt;
    }
    return TTcpPeer(fd);
}

void TTcpPeer::Send(const std::string& data) {
    std::size_t sent = 0;
    while (sent < data.size()) {
        const ssize_t n = ::send(fd_, data.data() + sent, data.size() - sent, MSG_NOSIGNAL);
        if (n < 0 && errno != EINTR) {
            throw std::runtime_error("send to the test peer failed");
        }
        sent += n > 0 ? static_cast<std::size_t>(n) : 0;
    }
}

std::string TTcpPeer::Receive(std::size_t maxBytes, int timeoutMs) {
    std::string data(maxBytes, '\0');
    if (!WaitReadable(fd_, timeoutMs)) {
        return {};
    }
    const ssize_t n = ::recv(fd_, data.data(), maxBytes, MSG_DONTWAIT);
    data.resize(n > 0 ? static_cast<std::size_t>(n) : 0);
    return data;
}

std::string TTcpPeer::ReceiveExactly(std::size_t count, int timeoutMs) {
    std::string data;
    while (data.size() < count) {
        const std::string part = Receive(count - data.size(), timeoutMs);
        if (part.empty()) {
            break;
        }
        data += part;
    }
    return data;
}

bool TTcpPeer::WaitClosed(int timeoutMs) {
    char scratch[4096];
    while (WaitReadable(fd_, timeoutMs)) {
        if (::recv(fd_, scratch, sizeof scratch, MSG_DONTWAIT) <= 0) {
            return true;
        }
    }
    return false;
}

void TTcpPeer::Close() {
    if (fd_ >= 0) {
        ::close(fd_);
        fd_ = -1;
    }
}

std::uint16_t TTcpPeer::LocalPort() const { return BoundPort(fd_); }

TTcpListener::TTcpListener() : fd_(::socket(AF_INET, SOCK_STREAM, 0)) {
    const sockaddr_in address = LoopbackAddress(0);
    if (::bind(fd_, reinterpret_cast<const sockaddr*>(&address), sizeof address) != 0 ||
        ::listen(fd_, 8) != 0) {
        ::close(fd_);
        throw std::runtime_error("cannot listen on 127.0.0.1");
    }
    port_ = BoundPort(fd_);
}

TTcpListener::~TTcpListener() { ::close(fd_); }

std::optional<TTcpPeer> TTcpListener::Accept(int timeoutMs) {
    if (!WaitReadable(fd_, timeoutMs)) {
        return std::nullopt;
    }
    return TTcpPeer(::accept(fd_, nullptr, nullptr));
}

std::uint16_t UnusedTcpPort() {
    const int fd = ::socket(AF_INET, SOCK_STREAM, 0);
    const sockaddr_in address = LoopbackAddress(0);
    ::bind(fd, reinterpret_cast<const sockaddr*>(&address), sizeof address);
    const std::uint16_t port = BoundPort(fd);
    ::close(fd);
    return port;
}
