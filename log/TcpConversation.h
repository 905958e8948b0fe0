#pragma once

#include <cstdint>
#include <functional>
#include <vector>

// One TCP connection told again as the IPv4 packets that carried it, for a capture: what a
// program saw of its socket (connected, bytes each way, closed, reset) becomes segments with
// consistent sequence and acknowledgement numbers and correct checksums, so that a capture
// reader follows the stream as if it had been recorded on the wire. Pure acknowledgements
// without data are left out but for the handshakes.
class TTcpConversation {
  public:
    // An IPv4 address (first octet most significant) and a port.
    struct TEndpoint {
        std::uint32_t address = 0;
        std::uint16_t port = 0;
    };
    enum class TSide { Client, Server };
    // Hears each packet as the side that sent it and its bytes, IPv4 header first.
    using TSink = std::function<void(TSide from, const std::vector<std::uint8_t>& packet)>;

    // The client opened (or tried to open) the connection to the server. The initial sequence
    // numbers only make conversations on the same ports tell apart.
    TTcpConversation(TEndpoint client, TEndpoint server, std::uint32_t initialSequence, TSink sink);

    // The three-way handshake.
    void Open();
    // A connect that was turned down: SYN, then the server's reset.
    void Refuse();
    // Bytes the side sent, in segments of at most kMaxSegmentData bytes.
    void Data(TSide from, const std::uint8_t* data, std::size_t length);
    // The side closed its half: FIN, and the other side's acknowledgement. A half already
    // closed sends nothing more.
    void Close(TSide from);
    // The side aborted the connection; nothing follows.
    void Reset(TSide from);

    // Each segment's data fits in one IPv4 packet.
    static constexpr std::size_t kMaxSegmentData = 65495;

  private:
    struct THalf {
        TEndpoint endpoint;
        std::uint32_t next = 0;  // sequence number of the next byte this side sends
        bool closed = false;
    };

    void Send(TSide from, std::uint8_t flags, const std::uint8_t* data, std::size_t length);
    THalf& HalfOf(TSide side) { return side == TSide::Client ? m_client : m_server; }

    THalf m_client;
    THalf m_server;
    bool m_reset = false;
    std::uint16_t m_ipIdentification = 0;
    TSink m_sink;
};
