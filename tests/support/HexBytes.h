#pragma once

#include <initializer_list>
#include <string_view>
#include <vector>

#include "Bytes.h"
#include "base/BinaryData.h"

// Byte strings written as text in tests, the way they show on a line
// analyser: HexBytes("C0 DB DC") is the three bytes C0, DB and DC. Spaces
// between the pairs of hexadecimal digits are ignored.
T_BinaryData HexBytes(std::string_view text);

// Several byte strings at once: HexList({"41", "42 43"}).
std::vector<T_BinaryData> HexList(std::initializer_list<std::string_view> texts);
