#include "base/PrintableText.h"

#include <cstdio>

std::string PrintableText(std::string_view text, std::size_t most) {
    std::string shown;
    for (const char c : text.substr(0, most)) {
        const auto byte = static_cast<unsigned char>(c);
        if (byte < 0x20 || byte == 0x7F) {
            char escaped[8];
            std::snprintf(escaped, sizeof escaped, "\\x%02X", byte);
            shown += escaped;
        } else {
            shown += c;
        }
    }
    if (text.size() > most) {
        shown += "...";
    }
    return shown;
}
