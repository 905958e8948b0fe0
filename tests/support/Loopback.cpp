#include "Loopback.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>

namespace {

constexpr int kWaitMs = 5000;

sockaddr_in LoopbackAddress(std::uint16_t port) {
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_port = htons(port);
    address.sin_addr.s_addr = htonl(kLoopbackAddress);
    return address;
}

bool WaitReadable(int fd) {
    pollfd entry{fd, POLLIN, 0};
    return poll(&entry, 1, kWaitMs) == 1;
}

}  // namespace

LoopbackListener ListenOnLoopback() {
    LoopbackListener listener;
    listener.socket = TDescriptor(socket(AF_INET, SOCK_STREAM, 0));
    sockaddr_in address = LoopbackAddress(0);
    socklen_t size = sizeof address;
    if (bind(listener.socket.Get(), reinterpret_cast<sockaddr*>(&address), sizeof address) != 0 ||
        listen(listener.socket.Get(), 16) != 0 ||
        getsockname(listener.socket.Get(), reinterpret_cast<sockaddr*>(&address), &size) != 0) {
        return {};
    }
    listener.port = ntohs(address.sin_port);
    return listener;
}

std::uint16_t FreeLoopbackPort() {
    return ListenOnLoopback().port;
}

TDescriptor ConnectToLoopback(std::uint16_t port) {
    TDescriptor peer(socket(AF_INET, SOCK_STREAM, 0));
    const sockaddr_in address = LoopbackAddress(port);
    if (connect(peer.Get(), reinterpret_cast<const sockaddr*>(&address), sizeof address) != 0) {
        return TDescriptor();
    }
    return peer;
}

TDescriptor AcceptPeer(const TDescriptor& listener) {
    if (!WaitReadable(listener.Get())) {
        return TDescriptor();
    }
    return TDescriptor(accept(listener.Get(), nullptr, nullptr));
}

bool SendAll(const TDescriptor& socket, const std::string& bytes) {
    std::size_t done = 0;
    while (done < bytes.size()) {
        const ssize_t sent =
            send(socket.Get(), bytes.data() + done, bytes.size() - done, MSG_NOSIGNAL);
        if (sent <= 0) {
            return false;
        }
        done += static_cast<std::size_t>(sent);
    }
    return true;
}

std::string ReceiveExactly(const TDescriptor& socket, std::size_t count) {
    std::string bytes;
    char chunk[4096];
    while (bytes.size() < count && WaitReadable(socket.Get())) {
        const ssize_t got = read(socket.Get(), chunk, std::min(sizeof chunk, count - bytes.size()));
        if (got <= 0) {
            break;
        }
        bytes.append(chunk, static_cast<std::size_t>(got));
    }
    return bytes;
}

std::string ReceiveRequestHeader(const TDescriptor& socket) {
    std::string header;
    while (!header.ends_with("\r\n\r\n")) {
        const std::string piece = ReceiveExactly(socket, 1);
        if (piece.empty()) {
            return "";
        }
        header += piece;
    }
    return header;
}
