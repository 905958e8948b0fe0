#pragma once

#include <algorithm>
#include <cstring>

#include "base/BinaryData.h"

// Moves up to length bytes from the front of source into buffer; returns how many were moved.
inline unsigned long MoveFrontBytes(T_BinaryData& source, unsigned char* buffer,
                                    unsigned long length) {
    const unsigned long count = std::min<unsigned long>(length, source.Length());
    if (count != 0) {
        std::memcpy(buffer, source.GetData(), count);
        source.Cut(0, count);
    }
    return count;
}
