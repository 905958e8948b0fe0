#pragma once

#include <cstdint>
#include <string>

#include "base/BinaryData.h"
#include "tunnel/SerialPacket.h"

// Short human-readable texts for what the decoder finds.

// "10.0.0.5" for the address whose first octet is the most significant byte.
std::string DottedAddress(std::uint32_t address);

// What an error code reported by the agent means: "cannot connect (20001)".
std::string ErrorMeaning(unsigned long code);

// "CALL #1 -> 10.0.0.5:443", "CALL_RESULT #1 ok", "DATA_OUT #1 517 bytes "GET /"", "CLOSED #1".
std::string DescribePacket(const TSerialPacket& packet);

// The first bytes of data as text in quotes, bytes outside printable ASCII
// as '.', and "..." after the quotes when there is more.
std::string Preview(const T_BinaryData& data);
