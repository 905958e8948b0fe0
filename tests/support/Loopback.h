#pragma once

#include <chrono>
#include <cstdint>
#include <string>
#include <thread>

#include "platform/Descriptor.h"
#include "platform/NetworkInterface.h"

// Plain BSD-socket peers on 127.0.0.1 for tests of code that talks TCP.

// A socket listening on 127.0.0.1 at a port chosen by the system.
struct LoopbackListener {
    TDescriptor socket;
    std::uint16_t port = 0;
};
LoopbackListener ListenOnLoopback();

// A port on 127.0.0.1 that was free a moment ago.
std::uint16_t FreeLoopbackPort();

// A blocking connect to 127.0.0.1:port; invalid on failure.
TDescriptor ConnectToLoopback(std::uint16_t port);

// Accepts one peer, waiting at most five seconds; invalid on failure.
TDescriptor AcceptPeer(const TDescriptor& listener);

// Sends all bytes (blocking); false on failure.
bool SendAll(const TDescriptor& socket, const std::string& bytes);

// Receives `count` bytes, waiting at most five seconds for each piece; fewer
// when the peer closes or goes quiet. Any readable descriptor will do.
std::string ReceiveExactly(const TDescriptor& socket, std::size_t count);

// Receives an HTTP request's header up to and with its empty line, a byte at a time so that
// nothing after it is taken; empty when the peer closes or goes quiet first.
std::string ReceiveRequestHeader(const TDescriptor& socket);

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
