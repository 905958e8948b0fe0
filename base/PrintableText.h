#pragma once

#include <cstddef>
#include <string>
#include <string_view>

// Text that came from outside, made safe for one line of a log or a reply: control bytes
// (below 0x20, and 0x7F) are written "\xNN", other bytes stay as they are. Text longer than
// `most` bytes is cut there and "..." follows.
std::string PrintableText(std::string_view text, std::size_t most = std::string_view::npos);
