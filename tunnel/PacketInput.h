#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <optional>

#include "base/BinaryData.h"

class ITimer;

// The front of a packet that its sender gave up: the rest will never come.
struct TCutShortPacket {
    // 0 when too little of it arrived to tell.
    unsigned char action;
    // Known only when the packet's socket id arrived.
    std::optional<std::uint32_t> socketId;
};

// The bytes of the peer's packet stream that do not form a complete packet yet, and the rule
// that gets the stream back in step after the peer reset its link.
//
// A peer whose frame timer runs out while it has data waiting drops that data without a word
// and without a gap in its frame numbers, so the front of a packet may wait here whose rest
// never comes. The bytes that arrive next belong to new packets; appended to the old front, they
// would be taken as its rest. New bytes start afresh instead when all of these hold:
//   - a partial packet is waiting;
//   - the peer was silent for at least kPeerResetQuietMs before them (its timer ran out);
//   - they start with well-formed requests: a known action, the length that action has,
//     fields that make sense (a port for a call or listen, socket id 0 for a reset, a socket id
//     in use for data or a close), packet after packet as far as they go.
// A partial packet that meets with kPeerGaveUpMs of silence is dropped as well: such a peer
// has reset its link by then, or will at its next turn, and will not send the rest.
class TPacketInput {
  public:
    // The peer resets its link when its 2000 ms frame timer has run out; some slack for the
    // time frames take on the line and for how often the input is looked at.
    static constexpr unsigned long kPeerResetQuietMs = 1800;
    // Past its timer, with the time its next portion takes on the line and some slack.
    static constexpr unsigned long kPeerGaveUpMs = 2500;
    // The longest packet of data a peer that sends requests builds.
    static constexpr unsigned long kMaxRequestDataLength = 255;

    // isInUse tells whether a socket id names a connection in use.
    explicit TPacketInput(std::function<bool(std::uint32_t)> isInUse);
    ~TPacketInput();
    TPacketInput(const TPacketInput&) = delete;
    TPacketInput& operator=(const TPacketInput&) = delete;

    // Adds bytes that just arrived. Returns the packet they cut short, if they start afresh.
    [[nodiscard]] std::optional<TCutShortPacket> Append(const T_BinaryData& arrival);
    // Drops and returns a partial packet after kPeerGaveUpMs without a byte from the peer: a
    // peer whose frame timer runs out with the rest queued resets its link at its next turn.
    [[nodiscard]] std::optional<TCutShortPacket> TakeAbandoned();
    // Time until a waiting partial packet counts as abandoned; ~0UL when none waits.
    unsigned long MillisecondsToDeadline() const;
    // The waiting bytes, for packets to be taken off their front.
    T_BinaryData& Bytes() { return m_bytes; }
    // Drops what waits and takes bytes that follow a break in the stream: they begin a new
    // packet and count as an arrival.
    void StartAfresh(const T_BinaryData& arrival);

    // Whether bytes start with well-formed requests, as far as they go.
    bool StartsWithRequests(const T_BinaryData& bytes) const;

  private:
    // What is known of the waiting partial packet; the bytes are dropped.
    TCutShortPacket CutShort();
    bool IsWellFormedRequest(const T_BinaryData& bytes, unsigned long offset) const;

    std::function<bool(std::uint32_t)> m_isInUse;
    T_BinaryData m_bytes;
    // Runs since the last arrival.
    std::unique_ptr<ITimer> m_sinceArrival;
};
