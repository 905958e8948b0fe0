#include "common/WholeNumber.h"

#include <charconv>

bool ParseWholeNumber(std::string_view text, std::uint64_t& value) {
    const char* end = text.data() + text.size();
    const auto [stop, failure] = std::from_chars(text.data(), end, value);
    return !text.empty() && failure == std::errc() && stop == end;
}

std::optional<unsigned short> ParsePortNumber(std::string_view text) {
    std::uint64_t port = 0;
    if (!ParseWholeNumber(text, port) || port == 0 || port > 65535) {
        return std::nullopt;
    }
    return static_cast<unsigned short>(port);
}
