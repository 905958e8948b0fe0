#include "log/TunnelCapture.h"

#include "ProjectVersion.h"

namespace tunnelcapture {

pcapng::TBytes Header(const std::string& comment, const std::string& lineName) {
    pcapng::TBytes header =
        pcapng::SectionHeader(comment, std::string("pinpad-agent ") + kProjectVersion);
    const pcapng::TBytes line = pcapng::InterfaceDescription(
        pcapng::kLinkTypeUser0, lineName, "PIN pad tunnel: SLIP frames of the serial line");
    const pcapng::TBytes tcp = pcapng::InterfaceDescription(pcapng::kLinkTypeRawIp, "tcp",
                                                            "TCP connections held for the PIN pad");
    header.insert(header.end(), line.begin(), line.end());
    header.insert(header.end(), tcp.begin(), tcp.end());
    return header;
}

pcapng::TBytes LineBlock(std::uint64_t microseconds, TLineDirection direction, TLineKind kind,
                         const std::uint8_t* data, std::size_t length) {
    std::vector<std::uint8_t> record;
    record.reserve(length + 2);
    record.push_back(static_cast<std::uint8_t>(direction));
    record.push_back(static_cast<std::uint8_t>(kind));
    record.insert(record.end(), data, data + length);
    return pcapng::EnhancedPacket(kLineInterface, microseconds,
                                  direction == TLineDirection::FromTerminal
                                      ? pcapng::TDirection::Inbound
                                      : pcapng::TDirection::Outbound,
                                  record.data(), record.size());
}

pcapng::TBytes TcpBlock(std::uint64_t microseconds, bool outbound,
                        const std::vector<std::uint8_t>& packet) {
    return pcapng::EnhancedPacket(
        kTcpInterface, microseconds,
        outbound ? pcapng::TDirection::Outbound : pcapng::TDirection::Inbound, packet.data(),
        packet.size());
}

}  // namespace tunnelcapture
