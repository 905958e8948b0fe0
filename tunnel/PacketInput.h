#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <optional>

#include "base/BinaryData.h"
#include "platform/TimerSource.h"
#include "tunnel/SerialPacket.h"

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
//   - they start with well-formed packets: a known action, the length that action has,
//     fields that make sense (a port for a call, listen or connected notice, socket id 0 for a
//     reset, a socket id in use for anything else), packet after packet as far as they go.
//     Where an id must be in use, only requests qualify on an agent's stack and only notices
//     on a terminal's: each holds the connections of its own side alone.
// A partial packet that meets with kPeerGaveUpMs of silence is dropped as well: such a peer
// has reset its link by then, or will at its next turn, and will not send the rest.
//
// A packet whose length field announces more than a peer ever builds (kMaxDataLength bytes of
// data behind its header) is broken, and so is the stream from it on: waiting for its rest
// would swallow every packet that follows. Like a packet cut short it is dropped, and the input
// hunts from its second byte on.
//
// After a break in the stream (the peer lost portions it had sent) the next byte may lie in the
// middle of a packet. The input then hunts: it takes bytes from the first offset at which
// well-formed packets run to the end of what has arrived, and drops the bytes before it. While
// nothing qualifies it keeps only a tail too short to judge, so the peer's next request is taken
// as soon as it arrives, not after a silence.
class TPacketInput {
  public:
    // The peer resets its link when its 2000 ms frame timer has run out; some slack for the
    // time frames take on the line and for how often the input is looked at.
    static constexpr unsigned long kPeerResetQuietMs = 1800;
    // Past its timer, with the time its next portion takes on the line and some slack.
    static constexpr unsigned long kPeerGaveUpMs = 2500;
    // The most data a peer puts into one packet.
    static constexpr unsigned long kMaxDataLength = 255;
    // The longest packet a peer builds, counted like its length field.
    static constexpr unsigned long kMaxPacketLength = TPacketLayout::kHeaderLength + kMaxDataLength;

    // isInUse tells whether a socket id names a connection in use; the silences are timed on
    // timers, which must outlive the input.
    TPacketInput(std::function<bool(std::uint32_t)> isInUse, ITimerSource& timers);
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
    // Drops a broken packet in front of the waiting bytes, one longer than a peer builds, and
    // hunts for the next well-formed packet behind it. Returns what is known of the packet.
    [[nodiscard]] std::optional<TCutShortPacket> DropOverlongFront();
    // Drops what waits and takes bytes that follow a break in the stream, from the first
    // well-formed packet among them on (see above); they count as an arrival.
    void StartAfresh(const T_BinaryData& arrival);

    // Whether bytes start with well-formed packets, as far as they go.
    bool StartsWithPackets(const T_BinaryData& bytes) const;

  private:
    // What is known of the waiting partial packet; the bytes are dropped.
    TCutShortPacket CutShort();
    bool IsWellFormedPacket(const T_BinaryData& bytes, unsigned long offset) const;
    // Whether the bytes from offset on are well-formed packets, as far as they go.
    bool PacketsFrom(const T_BinaryData& bytes, unsigned long offset) const;
    // Drops waiting bytes up to the first packet; ends the hunt when one is found.
    void Hunt();

    std::function<bool(std::uint32_t)> m_isInUse;
    T_BinaryData m_bytes;
    // Set at a break, until a well-formed packet starts the waiting bytes.
    bool m_hunting = false;
    // Runs since the last arrival.
    std::unique_ptr<ITimer> m_sinceArrival;
};
