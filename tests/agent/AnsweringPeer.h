#pragma once

#include <string>
#include <thread>

#include "support/Loopback.h"

// A TCP peer on 127.0.0.1 that accepts one connection, reads a request of a
// known size, answers it and closes, on a thread of its own.
class TAnsweringPeer {
  public:
    TAnsweringPeer(std::size_t requestSize, std::string answer)
        : m_listener(ListenOnLoopback()), m_thread([this, requestSize, answer] {
              TDescriptor connection = AcceptPeer(m_listener.socket);
              m_request = ReceiveExactly(connection, requestSize);
              SendAll(connection, answer);
          }) {}
    ~TAnsweringPeer() { Finish(); }

    std::uint16_t Port() const { return m_listener.port; }
    // The request, once the peer has answered and closed.
    const std::string& Request() {
        Finish();
        return m_request;
    }

  private:
    void Finish() {
        if (m_thread.joinable()) {
            m_thread.join();
        }
    }

    LoopbackListener m_listener;
    std::string m_request;
    std::thread m_thread;
};
