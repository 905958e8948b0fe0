#pragma once

#include <optional>

#include "base/BinaryData.h"
#include "tunnel/FrameWriter.h"

// Reading frames as they arrive, whole or damaged: the checks both halves of the frame level
// share.
namespace FrameBytes {

constexpr unsigned long kCrcSize = 2;
// Header and check of a frame; its data lies between them.
constexpr unsigned long kOverhead = TFrameHeader::kSize + kCrcSize;

// At least as long as its header and the data its length byte announces, and its check.
bool IsComplete(const T_BinaryData& frame);
// The check of a complete frame fits its header and data.
bool HasGoodCrc(const T_BinaryData& frame);
bool IsAnswerType(unsigned char type);
// A data frame behind one byte that is neither a frame type: what a damaged opening END leaves.
bool HasGarbageFront(const T_BinaryData& frame);
bool DiffersInOneBit(unsigned char a, unsigned char b);
// An ACK or NAK whose five bytes from offset are whole: no data, and a check that fits.
std::optional<TFrameHeader> WholeAnswerAt(const T_BinaryData& frame, unsigned long offset);
// The one header, differing from the frame's in a single bit, that its check fits; none when
// no flip or more than one does.
std::optional<TFrameHeader> HeaderWithOneBitRepaired(const T_BinaryData& frame);

}  // namespace FrameBytes
