#pragma once

#include <cstdint>
#include <optional>
#include <vector>

#include "base/BinaryData.h"
#include "tunnel/FrameWriter.h"

// What the sender tells about itself to have an answer read.
struct TAnswerContext {
    // Whether damaged answers are repaired; without, any ACK or NAK is taken as it stands.
    bool repair = true;
    // The numbers of the portions out, oldest first.
    std::vector<std::uint8_t> portionsOut;
    // The number of the sender's current portion.
    std::uint8_t current = 0;
    bool streamMode = false;

    bool IsOut(std::uint8_t sequence) const;
};

// Reads a frame that is no data frame as the ACK or NAK of a portion out, repaired where it is
// safe: one flipped bit in its header (the only flip its check fits), a garbage byte in front
// (a damaged END before it), or a whole NAK one bit off the number of the one portion out (the
// peer refused it after its number was damaged on the way). A whole answer to anything else is
// read as it stands. None when the frame is no such answer.
std::optional<TFrameHeader> ReadPortionAnswer(const T_BinaryData& frame,
                                              const TAnswerContext& context);
