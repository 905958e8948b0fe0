#pragma once

#include <string>
#include <string_view>

#include "base/BinaryData.h"

// Byte strings written as text in tests: "C0 DB DC" <-> the three bytes.

// Pairs of hexadecimal digits; spaces between them are ignored.
T_BinaryData HexBytes(std::string_view text);
// Upper-case pairs separated by single spaces; empty for an empty buffer.
std::string HexText(const T_BinaryData& data);
