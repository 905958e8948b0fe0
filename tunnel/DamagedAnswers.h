#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <vector>

#include "base/BinaryData.h"

// What came back in the place of one portion's answer when it could not be read: the frames
// that arrived between the portion and the answer to a later question, none of them a readable
// answer. Once the peer is known to have read the portion, they can only be its ACK or its NAK,
// damaged. The two differ in 10 bits for every number, bit errors never change their length on
// the wire, and the receiver collects the bytes between two frames as a frame of their own, so
// each damaged answer stands at the front of a frame, or behind the byte of a damaged END.
class TDamagedAnswers {
  public:
    // Frames kept; more means more than one answer's worth of damage, and nothing is read.
    static constexpr std::size_t kMaxFrames = 4;
    // A frame is read as an answer within this many bits of it, when the other answer is at
    // least kMinLead bits further away.
    static constexpr unsigned kMaxBits = 3;
    static constexpr unsigned kMinLead = 5;

    void Add(const T_BinaryData& frame);
    void Clear();
    bool IsEmpty() const { return m_frames.empty() && !m_overflow; }
    // The answer type (ACK or NAK) the frames stand for, as answers to the portion numbered
    // sequence; none when any frame is far from both, or they disagree. With copiesSent, the
    // portion went out twice at once, and an ACK among NAKs means one copy was taken.
    std::optional<unsigned char> Read(std::uint8_t sequence, bool copiesSent) const;

  private:
    std::vector<T_BinaryData> m_frames;
    bool m_overflow = false;
};
