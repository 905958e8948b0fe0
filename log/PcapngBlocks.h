#pragma once

#include <cstdint>
#include <string>
#include <vector>

// The blocks of a pcapng capture file, each built whole as little-endian bytes so that a
// writer can put it down with one write: a file that ends inside a block still reads up to
// its last whole block.
namespace pcapng {

using TBytes = std::vector<std::uint8_t>;

// Link types of the interfaces our captures describe.
constexpr std::uint16_t kLinkTypeRawIp = 101;  // IPv4 packets without a link header
constexpr std::uint16_t kLinkTypeUser0 = 147;  // private: the serial line's records

// The direction bits of a packet's flags.
enum class TDirection : std::uint8_t { Unknown = 0, Inbound = 1, Outbound = 2 };

// A Section Header Block; comment and application become its options when not empty.
TBytes SectionHeader(const std::string& comment, const std::string& application);
// An Interface Description Block whose timestamps count microseconds.
TBytes InterfaceDescription(std::uint16_t linkType, const std::string& name,
                            const std::string& description);
// An Enhanced Packet Block of the interface'th interface described in the section, with the
// time in microseconds since 1970 and the comment (none when empty).
TBytes EnhancedPacket(std::uint32_t interface, std::uint64_t microseconds, TDirection direction,
                      const std::uint8_t* data, std::size_t length,
                      const std::string& comment = std::string());

}  // namespace pcapng
