#pragma once

#include <cstdint>
#include <optional>
#include <string>

// Plain blocking TCP endpoints on 127.0.0.1 for tests that need a real peer for the code under
// test: a listener to call, a client to connect to a listening port, and the connected socket.

// A connected TCP socket, closed when the object goes.
class TTcpPeer {
  public:
    explicit TTcpPeer(int fd) : fd_(fd) {}
    TTcpPeer(TTcpPeer&& other) noexcept : fd_(other.fd_) { other.fd_ = -1; }
    TTcpPeer& operator=(TTcpPeer&&) = delete;
    ~TTcpPeer();

    // Connects to 127.0.0.1:port; empty when nobody listens there.
    static std::optional<TTcpPeer> Connect(std::uint16_t port);

    // Writes all of data (blocking).
    void Send(const std::string& data);
    // Whatever arrives within timeoutMs after the first byte is available, up to maxBytes; empty
    // when nothing came in time or the peer closed.
    std::string Receive(std::size_t maxBytes, int timeoutMs);
    // Reads until exactly count bytes arrived, the peer closed or timeoutMs passed in silence.
    std::string ReceiveExactly(std::size_t count, int timeoutMs);
    // True once the peer has closed (end of stream or reset) within timeoutMs; data still
    // arriving before the close is discarded.
    bool WaitClosed(int timeoutMs);
    // Closes the socket (the peer sees end of stream).
    void Close();
    // The local port of the connection.
    std::uint16_t LocalPort() const;

  private:
    int fd_;
};

// A listening socket on 127.0.0.1 with a port chosen by the system.
class TTcpListener {
  public:
    TTcpListener();
    ~TTcpListener();
    TTcpListener(const TTcpListener&) = delete;
    TTcpListener& operator=(const TTcpListener&) = delete;

    std::uint16_t Port() const { return port_; }
    // The next incoming connection, if one arrives within timeoutMs.
    std::optional<TTcpPeer> Accept(int timeoutMs);

  private:
    int fd_;
    std::uint16_t port_;
};

// A port on 127.0.0.1 that nobody listens on right now.
std::uint16_t UnusedTcpPort();
// The address 127.0.0.1 with its first octet most significant.
constexpr std::uint32_t kLoopbackHostOrder = 0x7F000001;
