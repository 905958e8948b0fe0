#include "tunnel/AnswerReader.h"

#include <algorithm>

#include "tunnel/FrameBytes.h"

using namespace FrameBytes;

bool TAnswerContext::IsOut(std::uint8_t sequence) const {
    return std::find(portionsOut.begin(), portionsOut.end(), sequence) != portionsOut.end();
}

std::optional<TFrameHeader> ReadPortionAnswer(const T_BinaryData& frame,
                                              const TAnswerContext& context) {
    // With one portion out, every answer speaks of its latest transmission, so a NAK one bit
    // off its number means it was not taken. Probe numbers are chosen far from the portions',
    // so no probe's answer is read so.
    if (context.repair && IsComplete(frame) && frame[0] == TFrameHeader::kNak &&
        HasGoodCrc(frame) && !context.streamMode && context.portionsOut.size() == 1 &&
        DiffersInOneBit(frame[1], context.portionsOut.front())) {
        return TFrameHeader(TFrameHeader::kNak, context.portionsOut.front(), 0);
    }
    if (IsComplete(frame) && IsAnswerType(frame[0])) {
        // The check of an answer is not needed to obey it, only to repair it.
        const TFrameHeader header(frame[0], frame[1], frame[2]);
        if (!context.repair || context.IsOut(header.sequence) ||
            header.sequence == context.current || HasGoodCrc(frame)) {
            return header;
        }
    }
    if (!context.repair) {
        return std::nullopt;
    }
    if (const auto glued = WholeAnswerAt(frame, 1); glued && context.IsOut(glued->sequence)) {
        return glued;
    }
    // An ACK and a NAK differ in three bits, so no single flip turns one into the other.
    if (frame.Length() >= kOverhead) {
        const auto repaired = HeaderWithOneBitRepaired(frame);
        if (repaired && IsAnswerType(repaired->type) && repaired->length == 0 &&
            context.IsOut(repaired->sequence)) {
            return repaired;
        }
    }
    return std::nullopt;
}
