#include "log/TcpConversation.h"

#include <algorithm>

namespace {

constexpr std::uint8_t kFin = 0x01;
constexpr std::uint8_t kSyn = 0x02;
constexpr std::uint8_t kRst = 0x04;
constexpr std::uint8_t kPsh = 0x08;
constexpr std::uint8_t kAck = 0x10;

constexpr std::size_t kIpHeaderLength = 20;
constexpr std::size_t kTcpHeaderLength = 20;
constexpr std::uint8_t kProtocolTcp = 6;
constexpr std::uint8_t kTimeToLive = 64;
constexpr std::uint16_t kWindow = 65535;

void Put16At(std::vector<std::uint8_t>& out, std::size_t at, std::uint16_t value) {
    out[at] = static_cast<std::uint8_t>(value >> 8);
    out[at + 1] = static_cast<std::uint8_t>(value);
}

void Put32At(std::vector<std::uint8_t>& out, std::size_t at, std::uint32_t value) {
    Put16At(out, at, static_cast<std::uint16_t>(value >> 16));
    Put16At(out, at + 2, static_cast<std::uint16_t>(value));
}

// The ones' complement sum of big-endian 16-bit words, not yet folded or inverted.
std::uint32_t SumWords(const std::uint8_t* data, std::size_t length, std::uint32_t sum = 0) {
    for (std::size_t i = 0; i + 1 < length; i += 2) {
        sum += static_cast<std::uint32_t>(data[i] << 8 | data[i + 1]);
    }
    if (length % 2 != 0) {
        sum += static_cast<std::uint32_t>(data[length - 1] << 8);
    }
    return sum;
}

std::uint16_t FoldChecksum(std::uint32_t sum) {
    while (sum >> 16 != 0) {
        sum = (sum & 0xFFFF) + (sum >> 16);
    }
    return static_cast<std::uint16_t>(~sum);
}

}  // namespace

TTcpConversation::TTcpConversation(TEndpoint client, TEndpoint server,
                                   std::uint32_t initialSequence, TSink sink)
    : m_client{client, initialSequence},
      m_server{server, ~initialSequence},
      m_sink(std::move(sink)) {}

void TTcpConversation::Open() {
    Send(TSide::Client, kSyn, nullptr, 0);
    Send(TSide::Server, kSyn | kAck, nullptr, 0);
    Send(TSide::Client, kAck, nullptr, 0);
}

void TTcpConversation::Refuse() {
    Send(TSide::Client, kSyn, nullptr, 0);
    Send(TSide::Server, kRst | kAck, nullptr, 0);
    m_reset = true;
}

void TTcpConversation::Data(TSide from, const std::uint8_t* data, std::size_t length) {
    if (m_reset || HalfOf(from).closed) {
        return;
    }
    for (std::size_t at = 0; at < length; at += kMaxSegmentData) {
        Send(from, kPsh | kAck, data + at, std::min(kMaxSegmentData, length - at));
    }
}

void TTcpConversation::Close(TSide from) {
    if (m_reset || HalfOf(from).closed) {
        return;
    }
    Send(from, kFin | kAck, nullptr, 0);
    HalfOf(from).closed = true;
    Send(from == TSide::Client ? TSide::Server : TSide::Client, kAck, nullptr, 0);
}

void TTcpConversation::Reset(TSide from) {
    if (m_reset) {
        return;
    }
    Send(from, kRst | kAck, nullptr, 0);
    m_reset = true;
}

void TTcpConversation::Send(TSide from, std::uint8_t flags, const std::uint8_t* data,
                            std::size_t length) {
    THalf& sender = HalfOf(from);
    const THalf& receiver = HalfOf(from == TSide::Client ? TSide::Server : TSide::Client);
    const std::size_t total = kIpHeaderLength + kTcpHeaderLength + length;
    std::vector<std::uint8_t> packet(total);

    packet[0] = 0x45;  // version 4, five 32-bit words of header
    Put16At(packet, 2, static_cast<std::uint16_t>(total));
    Put16At(packet, 4, ++m_ipIdentification);
    Put16At(packet, 6, 0x4000);  // don't fragment
    packet[8] = kTimeToLive;
    packet[9] = kProtocolTcp;
    Put32At(packet, 12, sender.endpoint.address);
    Put32At(packet, 16, receiver.endpoint.address);
    Put16At(packet, 10, FoldChecksum(SumWords(packet.data(), kIpHeaderLength)));

    const std::size_t tcp = kIpHeaderLength;
    Put16At(packet, tcp, sender.endpoint.port);
    Put16At(packet, tcp + 2, receiver.endpoint.port);
    Put32At(packet, tcp + 4, sender.next);
    // A first SYN acknowledges nothing; everything else acknowledges all the other side sent.
    const bool acknowledges = (flags & kAck) != 0;
    Put32At(packet, tcp + 8, acknowledges ? receiver.next : 0);
    packet[tcp + 12] = (kTcpHeaderLength / 4) << 4;
    packet[tcp + 13] = flags;
    Put16At(packet, tcp + 14, kWindow);
    std::copy(data, data + length,
              packet.begin() + static_cast<std::ptrdiff_t>(tcp + kTcpHeaderLength));

    // The checksum covers a pseudo-header of the addresses, the protocol and the TCP length.
    const std::size_t tcpLength = kTcpHeaderLength + length;
    std::uint32_t sum = SumWords(packet.data() + 12, 8);
    sum += kProtocolTcp + static_cast<std::uint32_t>(tcpLength);
    Put16At(packet, tcp + 16, FoldChecksum(SumWords(packet.data() + tcp, tcpLength, sum)));

    sender.next += static_cast<std::uint32_t>(length) + ((flags & (kSyn | kFin)) != 0 ? 1 : 0);
    m_sink(from, packet);
}
