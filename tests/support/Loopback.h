#pragma once

#include <chrono>
#include <cstdint>
#include <string>
#include <thread>

#include "platform/NetworkInterface.h"

// Plain BSD-socket peers on 127.0.0.1 for tests of code that talks TCP.

// Owns one descriptor and closes it.
class UniqueFd {
  public:
    UniqueFd() = default;
    explicit UniqueFd(int fd) : m_fd(fd) {}
    UniqueFd(UniqueFd&& other) noexcept : m_fd(other.Release()) {}
    UniqueFd& operator=(UniqueFd&& other) noexcept;
    ~UniqueFd();

    int Get() const { return m_fd; }
    bool Valid() const { return m_fd >= 0; }
    int Release();
    void Reset();

  private:
    int m_fd = -1;
};

// A socket listening on 127.0.0.1 at a port chosen by the system.
struct LoopbackListener {
    UniqueFd socket;
    std::uint16_t port = 0;
};
LoopbackListener ListenOnLoopback();

// A port on 127.0.0.1 that was free a moment ago.
std::uint16_t FreeLoopbackPort();

// A blocking connect to 127.0.0.1:port; invalid on failure.
UniqueFd ConnectToLoopback(std::uint16_t port);

// Accepts one peer, waiting at most five seconds; invalid on failure.
UniqueFd AcceptPeer(const UniqueFd& listener);

// Sends all bytes (blocking); false on failure.
bool SendAll(const UniqueFd& socket, const std::string& bytes);

// Receives `count` bytes, waiting at most five seconds for each piece; fewer
// when the peer closes or goes quiet.
std::string ReceiveExactly(const UniqueFd& socket, std::size_t count);  // any readable descriptor

// Polls `condition` until it holds or `limit` has passed; whether it held.
template <class Condition>
bool WaitFor(Condition condition, std::chrono::milliseconds limit = std::chrono::seconds(5)) {
    const auto deadline = std::chrono::steady_clock::now() + limit;
    while (!condition()) {
        if (std::chrono::steady_clock::now() >= deadline) {
            return false;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
    return true;
}
