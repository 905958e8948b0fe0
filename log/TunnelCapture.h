#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "log/PcapngBlocks.h"

// The layout of a tunnel capture, shared by the agent's live capture and the traffic log
// converter. A section has two interfaces:
// - 0, "serial line", link type USER0: one record per piece of the line, two bytes of record
//   header (direction: 0 from the terminal, 1 to the terminal; kind: 0 a SLIP frame as the
//   decoder cut it, unstuffed; 1 raw bytes that were no frame), then the bytes;
// - 1, "tcp", link type RAW: the IPv4 packets of the TCP conversations held for the terminal.
// Packets the PC received are inbound, packets it sent outbound.
namespace tunnelcapture {

constexpr std::uint32_t kLineInterface = 0;
constexpr std::uint32_t kTcpInterface = 1;

enum class TLineDirection : std::uint8_t { FromTerminal = 0, ToTerminal = 1 };
enum class TLineKind : std::uint8_t { Frame = 0, Garbage = 1 };

// The section header with its comment and both interfaces.
pcapng::TBytes Header(const std::string& comment, const std::string& lineName);
// A record of the serial line.
pcapng::TBytes LineBlock(std::uint64_t microseconds, TLineDirection direction, TLineKind kind,
                         const std::uint8_t* data, std::size_t length);
// An IPv4 packet of a TCP conversation; outbound when the PC sent it.
pcapng::TBytes TcpBlock(std::uint64_t microseconds, bool outbound,
                        const std::vector<std::uint8_t>& packet);

}  // namespace tunnelcapture
