#pragma once

#include <cstdint>
#include <optional>
#include <string_view>

// A decimal number of digits only, the whole text and nothing else, that
// fits in 64 bits. The tools read their counts, ports and sizes with it.
bool ParseWholeNumber(std::string_view text, std::uint64_t& value);

// A TCP port: a whole number 1 to 65535; nothing for anything else.
std::optional<unsigned short> ParsePortNumber(std::string_view text);
