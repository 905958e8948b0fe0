#include "pinpad-sim/Relay.h"

#include <gtest/gtest.h>
#include <unistd.h>

#include <csignal>
#include <deque>
#include <string>

#include "support/Pipe.h"

namespace {

// A peer that answers once it has the whole request, then closes, as an
// HTTP/1.0 server does. Once it has closed it takes no more input, but what
// it answered can still be received.
class TAnsweringPeer : public IConnection {
  public:
    TAnsweringPeer(std::string request, std::deque<std::string> answer, bool closed = false)
        : m_request(std::move(request)), m_answer(std::move(answer)), m_closed(closed) {}

    long Send(const unsigned char* data, unsigned long length) override {
        if (m_closed) {
            return -1;
        }
        received.append(reinterpret_cast<const char*>(data), length);
        return static_cast<long>(length);
    }
    long Receive(unsigned char* buffer, unsigned long length) override {
        if (received.size() < m_request.size()) {
            return 0;
        }
        m_closed = true;
        if (m_answer.empty()) {
            return -1;
        }
        std::string piece = m_answer.front().substr(0, length);
        m_answer.pop_front();
        piece.copy(reinterpret_cast<char*>(buffer), piece.size());
        return static_cast<long>(piece.size());
    }
    unsigned long GetPeerAddress() override { return 0; }
    CONNSTATE GetState() override {
        return m_closed ? CONNSTATE_DISCONNECTED : CONNSTATE_CONNECTED;
    }
    Error GetLastError() override { return Error(0); }

    std::string received;

  private:
    std::string m_request;
    std::deque<std::string> m_answer;
    bool m_closed;
};

// What remains in the pipe once its writing end is closed.
std::string Drain(TPipe& pipe) {
    pipe.writeEnd.Reset();
    std::string text;
    char buffer[256];
    for (ssize_t n; (n = read(pipe.readEnd.Get(), buffer, sizeof buffer)) > 0;) {
        text.append(buffer, static_cast<std::size_t>(n));
    }
    return text;
}

bool Never() {
    return false;
}

TEST(RelayTest, InputGoesOutAndTheAnswerComesBackUntilThePeerCloses) {
    TAnsweringPeer peer("GET / HTTP/1.0\r\n\r\n", {"HTTP/1.0 200 OK\r\n", "\r\nbody"});
    TPipe input, output;
    ASSERT_EQ(write(input.writeEnd.Get(), "GET / HTTP/1.0\r\n\r\n", 18), 18);
    input.writeEnd.Reset();  // the end of input does not end the relay

    TRelayResult result = Relay(peer, input.readEnd.Get(), output.writeEnd.Get(), Never);

    EXPECT_EQ(result.end, TRelayEnd::ClosedByPeer);
    EXPECT_EQ(peer.received, "GET / HTTP/1.0\r\n\r\n");
    EXPECT_EQ(Drain(output), "HTTP/1.0 200 OK\r\n\r\nbody");
    EXPECT_EQ(result.sent, 18u);
    EXPECT_EQ(result.received, 23u);
}

TEST(RelayTest, WhatThePeerSentIsWrittenOutEvenAfterItRefusedInput) {
    TAnsweringPeer peer("", {"bye"}, /*closed=*/true);
    TPipe input, output;
    ASSERT_EQ(write(input.writeEnd.Get(), "late input", 10), 10);

    TRelayResult result = Relay(peer, input.readEnd.Get(), output.writeEnd.Get(), Never);

    EXPECT_EQ(result.end, TRelayEnd::ClosedByPeer);
    EXPECT_EQ(result.sent, 0u);
    EXPECT_EQ(Drain(output), "bye");
}

TEST(RelayTest, EndsWhenOutputRefusesData) {
    std::signal(SIGPIPE, SIG_IGN);
    TAnsweringPeer peer("", {"answer", "more"});
    TPipe input, output;
    output.readEnd.Reset();

    TRelayResult result = Relay(peer, input.readEnd.Get(), output.writeEnd.Get(), Never);

    EXPECT_EQ(result.end, TRelayEnd::OutputClosed);
    EXPECT_EQ(result.received, 0u);
}

TEST(RelayTest, StopsWhenAsked) {
    TAnsweringPeer peer("never sent", {});
    TPipe input, output;
    int passes = 0;
    TRelayResult result =
        Relay(peer, input.readEnd.Get(), output.writeEnd.Get(), [&] { return ++passes > 3; });
    EXPECT_EQ(result.end, TRelayEnd::Stopped);
}

}  // namespace
