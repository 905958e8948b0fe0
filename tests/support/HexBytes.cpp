#include "HexBytes.h"

#include <cctype>
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

std::vector<T_BinaryData> HexList(std::initializer_list<std::string_view> texts) {
    std::vector<T_BinaryData> list;
    for (const std::string_view text : texts) {
        list.push_back(HexBytes(text));
    }
    return list;
}
