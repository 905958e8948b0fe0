#include "tunnel/DamagedAnswers.h"

#include <algorithm>
#include <bit>

#include "tunnel/FrameWriter.h"

namespace {

constexpr unsigned long kAnswerSize = TFrameHeader::kSize + 2;
// A damaged END in front leaves one byte before the answer.
constexpr unsigned long kMaxFrontBytes = 1;
constexpr unsigned kFar = 8 * kAnswerSize;

// The fewest bits in which the answer differs from the frame's bytes at the front or behind a
// damaged END; kFar when the frame is too short to hold it.
unsigned Distance(const T_BinaryData& frame, const T_BinaryData& answer) {
    unsigned best = kFar;
    for (unsigned long offset = 0; offset <= kMaxFrontBytes; ++offset) {
        if (frame.Length() < offset + kAnswerSize) {
            break;
        }
        unsigned bits = 0;
        for (unsigned long i = 0; i < kAnswerSize; ++i) {
            bits += static_cast<unsigned>(
                std::popcount(static_cast<unsigned>(frame[offset + i] ^ answer[i])));
        }
        best = std::min(best, bits);
    }
    return best;
}

}  // namespace

void TDamagedAnswers::Add(const T_BinaryData& frame) {
    if (m_frames.size() == kMaxFrames) {
        m_overflow = true;
        return;
    }
    m_frames.push_back(frame);
}

void TDamagedAnswers::Clear() {
    m_frames.clear();
    m_overflow = false;
}

std::optional<unsigned char> TDamagedAnswers::Read(std::uint8_t sequence, bool copiesSent) const {
    if (m_overflow || m_frames.empty()) {
        return std::nullopt;
    }
    const T_BinaryData ack = BuildFrame(TFrameHeader(TFrameHeader::kAck, sequence, 0), {});
    const T_BinaryData nak = BuildFrame(TFrameHeader(TFrameHeader::kNak, sequence, 0), {});
    bool acks = false;
    bool naks = false;
    for (const T_BinaryData& frame : m_frames) {
        const unsigned toAck = Distance(frame, ack);
        const unsigned toNak = Distance(frame, nak);
        if (toAck <= kMaxBits && toNak >= toAck + kMinLead) {
            acks = true;
        } else if (toNak <= kMaxBits && toAck >= toNak + kMinLead) {
            naks = true;
        } else {
            return std::nullopt;  // something else, or too damaged to tell
        }
    }
    if (acks && (!naks || copiesSent)) {
        return TFrameHeader::kAck;
    }
    if (naks && !acks) {
        return TFrameHeader::kNak;
    }
    return std::nullopt;
}
