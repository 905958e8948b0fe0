// The status file's text: what the agent writes reads back the same, odd
// bytes cannot break it, and a reader refuses what the agent does not write
// with a reason, without crashing or hanging on any input.

#include "agent/AgentStatus.h"

#include <gtest/gtest.h>

#include <string>

namespace {

using EState = TServiceStatus::EState;

// A serving agent with a call, an answered listen and a listen still waiting.
TAgentStatus BusyAgent() {
    TAgentStatus status;
    status.state = EState::Serving;
    status.port = "ttyS0";
    status.linkUp = true;
    status.lastReset = "2026-12-10 10:03:12";
    status.lastHeard = "2026-12-10 10:04:58";
    status.written = "2026-12-10 10:05:00";
    status.pid = 4242;
    status.counters = {.framesSent = 120,
                       .framesReceived = 118,
                       .naksSent = 1,
                       .naksReceived = 14,
                       .repeatsSent = 15,
                       .repeatsReceived = 2,
                       .linkResets = 3,
                       .streamBreaks = 4,
                       .closesAfterLoss = 5,
                       .callsRefused = 6,
                       .peerResets = 7};
    status.connections = {
        {.socketId = 1,
         .calling = true,
         .state = CONNSTATE_CONNECTED,
         .address = 0x7F000001,
         .port = 8080,
         .bytesToPeer = 12,
         .bytesFromPeer = 0xFFFFFFFFFFull},
        // The peer 10.0.0.5 as an accepted socket reports it: octets in network order.
        {.socketId = 0xFFFFFFFF,
         .calling = false,
         .state = CONNSTATE_CONNECTED,
         .closing = true,
         .peerAddress = 0x0500000A,
         .port = 5000},
        {.socketId = 3, .calling = false, .state = CONNSTATE_LISTENING, .port = 65535},
    };
    return status;
}

TEST(AgentStatusTest, WhatIsWrittenReadsBackTheSame) {
    for (const TAgentStatus& status : {BusyAgent(), TAgentStatus()}) {
        const std::string text = StatusToJson(status);
        std::string error;
        const auto read = StatusFromJson(text, error);
        ASSERT_TRUE(read) << error << "\n" << text;
        EXPECT_EQ(*read, status) << text;
    }
}

TEST(AgentStatusTest, FieldsHaveTheirDocumentedNamesAndForms) {
    const std::string text = StatusToJson(BusyAgent());
    for (const char* piece : {
             "\"state\": \"serving\"",
             "\"link\": \"up\"",
             "\"lastReset\": \"2026-12-10 10:03:12\"",
             "\"lastHeard\": \"2026-12-10 10:04:58\"",
             "\"naksReceived\": 14",
             "\"terminalResets\": 7",
             "\"kind\": \"call\"",
             "\"peer\": \"127.0.0.1\"",
             "\"peer\": \"10.0.0.5\"",
             "\"state\": \"closing\"",
             "\"peer\": null",
             "\"bytesFromPeer\": 1099511627775",
         }) {
        EXPECT_NE(text.find(piece), std::string::npos) << piece << "\n" << text;
    }
    TAgentStatus fresh;
    EXPECT_NE(StatusToJson(fresh).find("\"lastReset\": null"), std::string::npos);
    EXPECT_NE(StatusToJson(fresh).find("\"lastHeard\": null"), std::string::npos);
    fresh.state = EState::PortBusy;
    EXPECT_NE(StatusToJson(fresh).find("\"state\": \"port-busy\""), std::string::npos);

    // A file of an agent that did not yet tell when the terminal was heard reads as never.
    std::string older = StatusToJson(BusyAgent());
    const std::size_t heard = older.find("  \"lastHeard\"");
    older.erase(heard, older.find("  \"counters\"") - heard);
    std::string error;
    const auto read = StatusFromJson(older, error);
    ASSERT_TRUE(read) << error << "\n" << older;
    EXPECT_EQ(read->lastHeard, "");
}

// Control characters, quotes and bytes that are not UTF-8 in a string leave
// the file valid JSON; what is UTF-8 comes back as it was.
TEST(AgentStatusTest, OddBytesInStringsAreEscaped) {
    struct Case {
        std::string port;
        std::string readBack;
    } cases[] = {
        {"tty\"S0\\", "tty\"S0\\"},
        {std::string("a\0b\n\x1f", 5), std::string("a\0b\n\x1f", 5)},
        {"caf\xC3\xA9", "caf\xC3\xA9"},
        {"bad\xFF\xC3", "bad\xEF\xBF\xBD\xEF\xBF\xBD"},
    };
    for (const Case& c : cases) {
        TAgentStatus status;
        status.port = c.port;
        const std::string text = StatusToJson(status);
        for (char byte : text) {
            EXPECT_FALSE(static_cast<unsigned char>(byte) < 0x20 && byte != '\n') << text;
        }
        std::string error;
        const auto read = StatusFromJson(text, error);
        ASSERT_TRUE(read) << error << "\n" << text;
        EXPECT_EQ(read->port, c.readBack);
    }
}

TEST(AgentStatusTest, WhatTheAgentDoesNotWriteIsRefusedWithAReason) {
    const std::string good = StatusToJson(BusyAgent());
    // The good text with one piece replaced.
    auto with = [&good](const std::string& piece, const std::string& replacement) {
        std::string text = good;
        const auto at = text.find(piece);
        EXPECT_NE(at, std::string::npos) << piece;
        return at == std::string::npos ? text : text.replace(at, piece.size(), replacement);
    };
    struct Case {
        std::string text;
        std::string error;  // what the reason begins with
    } cases[] = {
        {"", "not JSON: "},
        {good.substr(0, good.size() / 2), "not JSON: "},
        {"\x7F" "ELF\x02\x01\x01", "not JSON: "},
        {"2E000001455424444", "not JSON: "},
        {with("\"pid\": 4242", "\"pid\": 1e999"), "not JSON: "},
        {"[1, 2]", "the text is not an object"},
        {"{}", "format is missing"},
        {with("\"format\": 1", "\"format\": 2"), "format 2 is not 1"},
        {with("\"format\": 1", "\"format\": \"1\""), "format is not a whole number"},
        {with("\"state\": \"serving\"", "\"state\": \"dancing\""),
         "state has the unknown value \"dancing\""},
        {with("\"link\": \"up\"", "\"link\": true"), "link is not text"},
        {with("\"pid\": 4242", "\"pid\": -1"), "pid is not a whole number"},
        {with("\"naksSent\": 1", "\"naksSent\": 1.5"), "counters.naksSent is not a whole number"},
        {with("\"naksSent\": 1,", ""), "counters.naksSent is missing"},
        {with("\"id\": 1,", "\"id\": 4294967296,"),
         "connections[0].id is not a whole number from 0 to 4294967295"},
        {with("\"port\": 5000", "\"port\": 65536"), "connections[1].port is not a whole number"},
        {with("\"peer\": \"10.0.0.5\"", "\"peer\": \"10.0.0\""),
         "connections[1].peer is not an IPv4 address"},
        {with("\"kind\": \"call\"", "\"kind\": \"dial\""), "connections[0].kind has the unknown"},
        {with("\"connections\": [", "\"connections\": 5, \"x\": ["), "connections is not a list"},
        {with("\"lastReset\": \"2026-12-10 10:03:12\"", "\"lastReset\": 0"),
         "lastReset is neither text nor null"},
    };
    for (const Case& c : cases) {
        std::string error;
        EXPECT_FALSE(StatusFromJson(c.text, error)) << c.text;
        EXPECT_TRUE(error.starts_with(c.error)) << "\"" << error << "\" for\n" << c.text;
    }
}

// Nesting as deep as a file may be long neither overflows the stack nor
// takes long.
TEST(AgentStatusTest, DeeplyNestedInputIsRefusedWithoutCrashing) {
    for (const char* open : {"[", "{\"a\":"}) {
        std::string text;
        for (int i = 0; i < 200000; ++i) {
            text += open;
        }
        std::string error;
        EXPECT_FALSE(StatusFromJson(text, error));
        EXPECT_TRUE(error.starts_with("not JSON: ")) << error;
    }
    const std::string closed = std::string(100000, '[') + std::string(100000, ']');
    std::string error;
    EXPECT_FALSE(StatusFromJson(closed, error));
    EXPECT_EQ(error, "the text is not an object");
}

TEST(AgentStatusTest, DescribedForAPersonInAlignedLines) {
    TAgentStatus status = BusyAgent();
    status.port = "tty\x1b[2JS0";  // no control character reaches the screen
    EXPECT_EQ(DescribeStatus(status, true),
              "state            serving tty?[2JS0, link up\n"
              "last reset       2026-12-10 10:03:12\n"
              "last heard       2026-12-10 10:04:58\n"
              "written          2026-12-10 10:05:00 by process 4242, which has ended\n"
              "frames           120 sent, 118 received\n"
              "NAKs             1 sent, 14 received\n"
              "repeats          15 sent, 2 received\n"
              "resyncs          4 breaks in the terminal's stream, 3 link resets\n"
              "losses           5 connections closed after a loss\n"
              "refused calls    6\n"
              "terminal resets  7\n"
              "connections      3\n"
              "  #1       call to 127.0.0.1:8080             connected  12 bytes out, "
              "1099511627775 in\n"
              "  #4294967295 listen on 5000 from 10.0.0.5       closing    0 bytes out, 0 in\n"
              "  #3       listen on 65535                    listening  0 bytes out, 0 in\n");

    TAgentStatus idle;
    idle.state = EState::Disabled;
    idle.port = "ttyS1";
    idle.written = "2026-12-10 10:05:00";
    idle.pid = 7;
    const std::string text = DescribeStatus(idle, false);
    EXPECT_TRUE(text.starts_with("state            idle on ttyS1, link down: disabled in "
                                 "agent.ini\n"
                                 "last reset       none yet\n"
                                 "last heard       never\n"
                                 "written          2026-12-10 10:05:00 by process 7\n"))
        << text;
    EXPECT_TRUE(text.ends_with("connections      0\n")) << text;
}

}  // namespace
