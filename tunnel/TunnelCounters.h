#pragma once

#include <cstdint>

#include "platform/Connection.h"

// What the tunnel has counted since it was made. The frame level keeps the
// frame figures, the packet layer the rest; each figure only grows.
struct TTunnelCounters {
    // Every frame written to the line: data, ACK and NAK.
    std::uint64_t framesSent = 0;
    // Every frame read from the line, whole or damaged.
    std::uint64_t framesReceived = 0;
    // Damaged data frames of the peer refused.
    std::uint64_t naksSent = 0;
    // Refusals the peer sent.
    std::uint64_t naksReceived = 0;
    // Data frames sent again after a refusal or a time-out.
    std::uint64_t repeatsSent = 0;
    // Data frames the peer sent again after they had been taken; dropped.
    std::uint64_t repeatsReceived = 0;
    // Times the frame level gave up outgoing data that stayed unanswered and
    // reset the link.
    std::uint64_t linkResets = 0;
    // Breaks in the peer's stream: portions it sent were lost.
    std::uint64_t streamBreaks = 0;
    // Connections closed because a packet of theirs was lost, cut short or
    // given up.
    std::uint64_t closesAfterLoss = 0;
    // Calls and listens refused: by the destination filter, or because the
    // socket could not be made.
    std::uint64_t callsRefused = 0;
    // Resets the peer sent.
    std::uint64_t peerResets = 0;
    // Data frames without data sent to ask whether the peer read a portion whose answer
    // stayed out.
    std::uint64_t probesSent = 0;
    // Bytes handed to the TCP peers and read from them, over every connection
    // the tunnel held for the terminal, closed ones included.
    std::uint64_t bytesToPeers = 0;
    std::uint64_t bytesFromPeers = 0;

    TTunnelCounters& operator+=(const TTunnelCounters& other);
    bool operator==(const TTunnelCounters&) const = default;
};

// One TCP connection the tunnel holds for the terminal, as it stands.
struct TConnectionFigures {
    std::uint32_t socketId = 0;
    // A call to address:port, or a listen on port.
    bool calling = false;
    // What the terminal has been told: connecting, listening or connected.
    CONNSTATE state = CONNSTATE_CONNECTING;
    // The terminal closed it; bytes still go out to the peer.
    bool closing = false;
    // A call's destination address, first octet most significant; 0 for a listen.
    std::uint32_t address = 0;
    // A listen's peer once accepted, as its connection reports it (a socket's holds the
    // octets in network order); 0 before and for a call.
    std::uint32_t peerAddress = 0;
    // A call's destination port, or the port listened on.
    std::uint16_t port = 0;
    // Bytes handed to the TCP peer and read from it.
    std::uint64_t bytesToPeer = 0;
    std::uint64_t bytesFromPeer = 0;

    bool operator==(const TConnectionFigures&) const = default;
};
