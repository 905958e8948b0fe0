#pragma once

#include <vector>

#include "base/BinaryData.h"
#include "tunnel/Slip.h"

// The frame one chunk written to a memory line carries (a frame level writes each frame with one
// send), unstuffed, without the END bytes around it, single or doubled; empty when the chunk
// is no whole frame.
inline T_BinaryData FrameOfChunk(const std::vector<unsigned char>& chunk) {
    std::size_t first = 0;
    std::size_t last = chunk.size();
    while (first < last && chunk[first] == SLIP::END) {
        ++first;
    }
    while (last > first && chunk[last - 1] == SLIP::END) {
        --last;
    }
    if (first == 0 || last == chunk.size()) {
        return T_BinaryData();
    }
    return SLIP::RemoveEscapedCharacters(
        T_BinaryData(chunk.data() + first, static_cast<unsigned long>(last - first)));
}

// Whether the chunk is a data frame.
inline bool IsDataFrameChunk(const std::vector<unsigned char>& chunk) {
    const T_BinaryData frame = FrameOfChunk(chunk);
    return frame.Length() != 0 && frame[0] == 0x41;
}
