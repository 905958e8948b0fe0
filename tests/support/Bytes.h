#pragma once

// Building and showing byte buffers in tests.

#include <cstdio>
#include <initializer_list>
#include <ostream>
#include <vector>

#include "base/BinaryData.h"

inline T_BinaryData Bytes(std::initializer_list<unsigned char> bytes) {
    return T_BinaryData(std::data(bytes), bytes.size());
}

inline std::vector<unsigned char> ToVector(const T_BinaryData& data) {
    const unsigned char* bytes = data.GetData();
    return std::vector<unsigned char>(bytes, bytes + data.Length());
}

// Lets failed expectations show buffers as hex bytes.
inline void PrintTo(const T_BinaryData& data, std::ostream* os) {
    *os << "[";
    for (unsigned long i = 0; i < data.Length(); ++i) {
        char hex[4];
        std::snprintf(hex, sizeof hex, i == 0 ? "%02X" : " %02X", data[i]);
        *os << hex;
    }
    *os << "]";
}
