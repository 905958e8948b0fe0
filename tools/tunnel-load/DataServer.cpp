#include "tunnel-load/DataServer.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>

#include "platform/NetworkInterface.h"
#include "common/WholeNumber.h"

namespace {

constexpr std::size_t kChunk = 65536;
constexpr std::size_t kMaxHeader = 64;
constexpr std::uint64_t kProgressStep = 8192;
// An echo peer that does not read holds back our reading from it.
constexpr std::size_t kMaxPendingOutput = 65536;

}  // namespace

std::unique_ptr<TDataServer> TDataServer::Listen(std::uint16_t port, std::string& error) {
    TDescriptor listener(socket(AF_INET, SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0));
    const int yes = 1;
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(kLoopbackAddress);
    address.sin_port = htons(port);
    socklen_t length = sizeof address;
    if (!listener.IsOpen() ||
        setsockopt(listener.Get(), SOL_SOCKET, SO_REUSEADDR, &yes, sizeof yes) != 0 ||
        bind(listener.Get(), reinterpret_cast<sockaddr*>(&address), sizeof address) != 0 ||
        listen(listener.Get(), 64) != 0 ||
        getsockname(listener.Get(), reinterpret_cast<sockaddr*>(&address), &length) != 0) {
        error = "cannot listen on 127.0.0.1:" + std::to_string(port) + ": " + std::strerror(errno);
        return nullptr;
    }
    return std::unique_ptr<TDataServer>(new TDataServer(std::move(listener), ntohs(address.sin_port)));
}

TDataServer::TDataServer(TDescriptor listener, std::uint16_t port)
    : m_listener(std::move(listener)), m_port(port) {}

TDataServer::~TDataServer() = default;

void TDataServer::Step(int maxWaitMs) {
    std::vector<pollfd> fds{{m_listener.Get(), POLLIN, 0}};
    for (const auto& client : m_clients) {
        const bool sending = client->mode == TMode::Down || !client->output.empty();
        const bool reading = client->mode != TMode::Closing && client->mode != TMode::Down &&
                             client->output.size() < kMaxPendingOutput;
        // A sending peer is still read, so that its close is seen.
        fds.push_back({client->socket.Get(),
                       static_cast<short>((reading || client->mode == TMode::Down ? POLLIN : 0) |
                                          (sending ? POLLOUT : 0)),
                       0});
    }
    if (poll(fds.data(), fds.size(), maxWaitMs) <= 0) {
        return;
    }
    // Served first and accepted after, so that the table matches fds.
    std::size_t index = 1;
    std::erase_if(m_clients, [&](const std::unique_ptr<TClient>& client) {
        return !Serve(*client, fds[index++].revents);
    });
    if (fds[0].revents & POLLIN) {
        Accept();
    }
}

void TDataServer::Accept() {
    int fd = -1;
    while ((fd = accept4(m_listener.Get(), nullptr, nullptr, SOCK_NONBLOCK | SOCK_CLOEXEC)) >= 0) {
        auto client = std::make_unique<TClient>();
        client->socket = TDescriptor(fd);
        m_clients.push_back(std::move(client));
    }
}

bool TDataServer::Serve(TClient& client, short events) {
    if ((events & (POLLIN | POLLHUP | POLLERR)) && !ReadFrom(client)) {
        return false;
    }
    if (events & POLLOUT) {
        return WriteTo(client);
    }
    return true;
}

bool TDataServer::ReadFrom(TClient& client) {
    std::uint8_t buffer[kChunk];
    const ssize_t count = recv(client.socket.Get(), buffer, sizeof buffer, 0);
    if (count < 0) {
        return errno == EAGAIN || errno == EWOULDBLOCK || errno == EINTR;
    }
    if (count == 0) {
        return false;  // the peer closed: nothing of this connection is owed to anyone
    }
    const std::size_t length = static_cast<std::size_t>(count);
    switch (client.mode) {
        case TMode::Header:
            TakeHeader(client, std::string(reinterpret_cast<char*>(buffer), length));
            break;
        case TMode::Up:
            TakeData(client, buffer, length);
            break;
        case TMode::Echo:
            client.output.append(reinterpret_cast<char*>(buffer), length);
            break;
        case TMode::Down:
        case TMode::Closing:
            break;  // nothing more is expected; the bytes are dropped
    }
    return true;
}

void TDataServer::TakeHeader(TClient& client, std::string rest) {
    client.header += rest;
    const std::size_t lineEnd = client.header.find('\n');
    if (lineEnd == std::string::npos) {
        if (client.header.size() > kMaxHeader) {
            client.output = "BAD header\n";
            client.mode = TMode::Closing;
        }
        return;
    }
    const std::string line = client.header.substr(0, lineEnd);
    rest = client.header.substr(lineEnd + 1);
    if (line == "ECHO") {
        client.mode = TMode::Echo;
        client.output = rest;
    } else if (line.starts_with("DOWN ") && ParseWholeNumber(line.substr(5), client.total)) {
        client.mode = TMode::Down;
    } else if (line.starts_with("UP ") && ParseWholeNumber(line.substr(3), client.total)) {
        client.mode = TMode::Up;
        TakeData(client, reinterpret_cast<const std::uint8_t*>(rest.data()), rest.size());
    } else {
        client.output = "BAD header\n";
        client.mode = TMode::Closing;
    }
}

void TDataServer::TakeData(TClient& client, const std::uint8_t* data, std::size_t length) {
    const std::size_t wanted =
        static_cast<std::size_t>(std::min<std::uint64_t>(length, client.total - client.done));
    if (!client.checker.Feed(data, wanted) || wanted < length) {
        client.output += "BAD " + std::to_string(client.checker.Verified()) + "\n";
        client.mode = TMode::Closing;
        return;
    }
    client.done += wanted;
    if (client.done == client.total) {
        client.output += "OK " + std::to_string(client.total) + "\n";
        client.mode = TMode::Closing;
    } else if (client.done - client.reportedUpTo >= kProgressStep) {
        client.reportedUpTo = client.done;
        client.output += "P " + std::to_string(client.done) + "\n";
    }
}

bool TDataServer::WriteTo(TClient& client) {
    if (!client.output.empty()) {
        const ssize_t sent =
            send(client.socket.Get(), client.output.data(), client.output.size(), MSG_NOSIGNAL);
        if (sent < 0) {
            return errno == EAGAIN || errno == EWOULDBLOCK || errno == EINTR;
        }
        client.output.erase(0, static_cast<std::size_t>(sent));
        return !(client.mode == TMode::Closing && client.output.empty());
    }
    if (client.mode != TMode::Down) {
        return client.mode != TMode::Closing;
    }
    std::uint8_t buffer[kChunk];
    const std::size_t length =
        static_cast<std::size_t>(std::min<std::uint64_t>(sizeof buffer, client.total - client.done));
    TRecordStream::Fill(client.done, buffer, length);
    const ssize_t sent = send(client.socket.Get(), buffer, length, MSG_NOSIGNAL);
    if (sent < 0) {
        return errno == EAGAIN || errno == EWOULDBLOCK || errno == EINTR;
    }
    client.done += static_cast<std::uint64_t>(sent);
    return client.done < client.total;
}
