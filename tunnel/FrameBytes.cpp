#include "tunnel/FrameBytes.h"

#include <array>

#include "base/Conversions.h"

namespace FrameBytes {

bool IsComplete(const T_BinaryData& frame) {
    return frame.Length() >= kOverhead && frame.Length() >= frame[2] + kOverhead;
}

bool HasGoodCrc(const T_BinaryData& frame) {
    const unsigned long checked = TFrameHeader::kSize + frame[2];
    return CountCrc(frame.GetData(), checked) == frame.MsbWord(checked);
}

bool IsAnswerType(unsigned char type) {
    return type == TFrameHeader::kAck || type == TFrameHeader::kNak;
}

bool HasGarbageFront(const T_BinaryData& frame) {
    return frame.Length() > kOverhead && frame[0] != TFrameHeader::kData &&
           frame[1] == TFrameHeader::kData && !IsAnswerType(frame[0]);
}

bool DiffersInOneBit(unsigned char a, unsigned char b) {
    const unsigned difference = static_cast<unsigned>(a ^ b);
    return difference != 0 && (difference & (difference - 1)) == 0;
}

std::optional<TFrameHeader> WholeAnswerAt(const T_BinaryData& frame, unsigned long offset) {
    if (frame.Length() < offset + kOverhead) {
        return std::nullopt;
    }
    const T_BinaryData answer = frame.Copy(offset, kOverhead);
    if (!IsAnswerType(answer[0]) || answer[2] != 0 || !HasGoodCrc(answer)) {
        return std::nullopt;
    }
    return TFrameHeader(answer[0], answer[1], 0);
}

std::optional<TFrameHeader> HeaderWithOneBitRepaired(const T_BinaryData& frame) {
    const std::uint16_t check = frame.MsbWord(TFrameHeader::kSize);
    std::optional<TFrameHeader> repaired;
    int fits = 0;
    for (unsigned long bit = 0; bit < 8 * TFrameHeader::kSize; ++bit) {
        std::array<unsigned char, TFrameHeader::kSize> header{frame[0], frame[1], frame[2]};
        header[bit / 8] ^= static_cast<unsigned char>(1U << (bit % 8));
        if (CountCrc(header.data(), header.size()) == check) {
            ++fits;
            repaired = TFrameHeader(header[0], header[1], header[2]);
        }
    }
    return fits == 1 ? repaired : std::nullopt;
}

}  // namespace FrameBytes
