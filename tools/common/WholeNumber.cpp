#include "common/WholeNumber.h"

#include <charconv>

bool ParseWholeNumber(std::string_view text, std::uint64_t& value) {
    const char* end = text.data() + text.size();
    const auto [stop, failure] = std::from_chars(text.data(), end, value);
    return !text.empty() && failure == std::errc() && stop == end;
}
