#include "log/TcpConversation.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace {

using TSide = TTcpConversation::TSide;

// One packet as a capture reader sees it.
struct TSegment {
    std::string from;  // "client" or "server"
    std::string flags;
    std::uint32_t sequence;
    std::uint32_t acknowledged;
    std::size_t dataLength;

    bool operator==(const TSegment&) const = default;
};

std::uint16_t Word(const std::vector<std::uint8_t>& packet, std::size_t at) {
    return static_cast<std::uint16_t>(packet[at] << 8 | packet[at + 1]);
}

std::uint32_t Long(const std::vector<std::uint8_t>& packet, std::size_t at) {
    return static_cast<std::uint32_t>(Word(packet, at)) << 16 | Word(packet, at + 2);
}

// The ones' complement sum over the bytes, folded; 0xFFFF for a correct checksum.
std::uint16_t Sum(const std::vector<std::uint8_t>& bytes, std::size_t from, std::size_t to,
                  std::uint32_t sum = 0) {
    for (std::size_t i = from; i < to; i += 2) {
        sum += static_cast<std::uint32_t>(bytes[i] << 8 | (i + 1 < to ? bytes[i + 1] : 0));
    }
    while (sum >> 16 != 0) {
        sum = (sum & 0xFFFF) + (sum >> 16);
    }
    return static_cast<std::uint16_t>(sum);
}

class TRecorded {
  public:
    TTcpConversation::TSink Sink() {
        return [this](TSide from, const std::vector<std::uint8_t>& packet) {
            // IPv4 header: version, length, protocol, addresses, checksum.
            EXPECT_EQ(packet[0], 0x45);
            EXPECT_EQ(Word(packet, 2), packet.size());
            EXPECT_EQ(packet[9], 6);
            EXPECT_EQ(Sum(packet, 0, 20), 0xFFFF) << "IPv4 header checksum";
            const bool client = from == TSide::Client;
            EXPECT_EQ(Long(packet, client ? 12 : 16), 0x7F000001u);
            EXPECT_EQ(Long(packet, client ? 16 : 12), 0x0A000005u);
            EXPECT_EQ(Word(packet, client ? 20 : 22), 40000);
            EXPECT_EQ(Word(packet, client ? 22 : 20), 443);
            // TCP checksum over the pseudo-header and the segment.
            const std::uint32_t pseudo = Sum(packet, 12, 20) + 6u + (packet.size() - 20);
            EXPECT_EQ(Sum(packet, 20, packet.size(), pseudo), 0xFFFF) << "TCP checksum";
            std::string flags;
            const std::uint8_t bits = packet[33];
            for (const auto& [bit, name] :
                 {std::pair{0x02, "S"}, std::pair{0x01, "F"}, std::pair{0x04, "R"},
                  std::pair{0x08, "P"}, std::pair{0x10, "A"}}) {
                flags += (bits & bit) != 0 ? name : "";
            }
            segments.push_back({client ? "client" : "server", flags, Long(packet, 24),
                                Long(packet, 28), packet.size() - 40});
        };
    }
    std::vector<TSegment> segments;
};

const TTcpConversation::TEndpoint kClient{0x7F000001, 40000};
const TTcpConversation::TEndpoint kServer{0x0A000005, 443};

TEST(TcpConversationTest, SequenceNumbersFollowTheBytesEachWay) {
    TRecorded recorded;
    TTcpConversation conversation(kClient, kServer, 1000, recorded.Sink());
    const std::uint32_t server = ~1000u;
    constexpr auto kMax = static_cast<std::uint32_t>(TTcpConversation::kMaxSegmentData);
    conversation.Open();
    const std::uint8_t request[5] = {'h', 'e', 'l', 'l', 'o'};
    conversation.Data(TSide::Client, request, sizeof request);
    const std::vector<std::uint8_t> answer(70000, 'x');
    conversation.Data(TSide::Server, answer.data(), answer.size());
    conversation.Close(TSide::Server);
    conversation.Close(TSide::Client);
    conversation.Data(TSide::Client, request, sizeof request);  // after its close: nothing
    const std::vector<TSegment> expected = {
        {"client", "S", 1000, 0, 0},
        {"server", "SA", server, 1001, 0},
        {"client", "A", 1001, server + 1, 0},
        {"client", "PA", 1001, server + 1, 5},
        {"server", "PA", server + 1, 1006, kMax},
        {"server", "PA", server + 1 + kMax, 1006, 70000 - kMax},
        {"server", "FA", server + 70001, 1006, 0},
        {"client", "A", 1006, server + 70002, 0},
        {"client", "FA", 1006, server + 70002, 0},
        {"server", "A", server + 70002, 1007, 0},
    };
    EXPECT_EQ(recorded.segments, expected);
}

TEST(TcpConversationTest, ARefusalOrAResetEndsEverything) {
    TRecorded refused;
    TTcpConversation call(kClient, kServer, 7, refused.Sink());
    call.Refuse();
    call.Close(TSide::Client);
    EXPECT_EQ(refused.segments,
              (std::vector<TSegment>{{"client", "S", 7, 0, 0}, {"server", "RA", ~7u, 8, 0}}));

    TRecorded reset;
    TTcpConversation broken(kClient, kServer, 7, reset.Sink());
    broken.Open();
    broken.Reset(TSide::Server);
    const std::uint8_t late = 1;
    broken.Data(TSide::Server, &late, 1);
    broken.Close(TSide::Client);
    ASSERT_EQ(reset.segments.size(), 4u);
    EXPECT_EQ(reset.segments.back().flags, "RA");
}

}  // namespace
