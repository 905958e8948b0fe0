#include "HexBytes.h"

#include <cctype>
#include <cstdio>
#include <stdexcept>
#include <vector>

T_BinaryData HexBytes(std::string_view text) {
    std::string digits;
    for (const char c : text) {
        if (c == ' ') {
            continue;
        }
        if (!std::isxdigit(static_cast<unsigned char>(c))) {
            throw std::invalid_argument("not a hexadecimal digit in byte text");
        }
        digits += c;
    }
    if (digits.size() % 2 != 0) {
        throw std::invalid_argument("odd number of digits in byte text");
    }
    std::vector<unsigned char> bytes;
    for (std::size_t i = 0; i < digits.size(); i += 2) {
        bytes.push_back(static_cast<unsigned char>(std::stoul(digits.substr(i, 2), nullptr, 16)));
    }
    return T_BinaryData(bytes.data(), bytes.size());
}

std::string HexText(const T_BinaryData& data) {
    std::string text;
    for (unsigned long i = 0; i < data.Length(); ++i) {
        char pair[4];
        std::snprintf(pair, sizeof pair, "%02X", data[i]);
        if (!text.empty()) {
            text += ' ';
        }
        text += pair;
    }
    return text;
}
