#include "tunnel/SerialPacket.h"

#include <gtest/gtest.h>

#include "support/HexBytes.h"

namespace {

struct BuildCase {
    const char* name;
    TSerialPacket packet;
    const char* wire;
};

TEST(SerialPacketTest, BuildsEveryActionInWireLayout) {
    const BuildCase cases[] = {
        {"call", TSerialPacket(ACTION_CALL, 1, 0x0A000005, 443, 0),
         "00 0B 01 00 00 00 01 0A 00 00 05 01 BB"},
        {"listen", TSerialPacket(ACTION_LISTEN, 0x01020304, 0, 8080, 0),
         "00 07 02 01 02 03 04 1F 90"},
        {"connected", TSerialPacket(ACTION_CONNECTED, 5, 0x0500000A, 0, 0),
         "00 0B 03 00 00 00 05 05 00 00 0A 00 00"},
        {"call result", TSerialPacket(ACTION_CALL_RESULT, 3, 0, 0, 20011),
         "00 09 04 00 00 00 03 00 00 4E 2B"},
        {"closed", TSerialPacket(ACTION_CLOSED, 6, 0x7F000001, 80, 7), "00 05 05 00 00 00 06"},
        {"close", TSerialPacket(ACTION_CLOSE, 7, 0, 0, 0), "00 05 06 00 00 00 07"},
        {"data in", TSerialPacket(ACTION_DATA_IN, 4, T_BinaryData()), "00 05 07 00 00 00 04"},
        {"data out", TSerialPacket(ACTION_DATA_OUT, 2, HexBytes("61 62 63")),
         "00 08 08 00 00 00 02 61 62 63"},
        {"reset", TSerialPacket(ACTION_RESET, 0, 0, 0, 0), "00 05 09 00 00 00 00"},
        {"unknown action", TSerialPacket(0x2A, 9, 1, 2, 3), "00 05 2A 00 00 00 09"},
    };
    for (const BuildCase& c : cases) {
        EXPECT_EQ(c.packet.BuildPacket(), HexBytes(c.wire)) << c.name;
    }
}

TEST(SerialPacketTest, ParsingGivesBackWhatWasBuilt) {
    T_BinaryData bigData;
    for (int i = 0; i < 4096; ++i) {
        bigData.AddDirectBytes(static_cast<unsigned char>(i * 7), 1);
    }
    const TSerialPacket packets[] = {
        TSerialPacket(ACTION_CALL, 0xFFFFFFFF, 0x7F000001, 65535, 0),
        TSerialPacket(ACTION_LISTEN, 2, 0, 21, 0),
        TSerialPacket(ACTION_CONNECTED, 3, 0x0100007F, 0, 0),
        TSerialPacket(ACTION_CALL_RESULT, 4, 0, 0, 0xFFFFFFFF),
        TSerialPacket(ACTION_CLOSED, 5, 0, 0, 0),
        TSerialPacket(ACTION_CLOSE, 6, 0, 0, 0),
        TSerialPacket(ACTION_DATA_IN, 7, bigData),
        TSerialPacket(ACTION_DATA_OUT, 8, HexBytes("00 C0 DB FF")),
        TSerialPacket(ACTION_RESET, 0, 0, 0, 0),
    };
    T_BinaryData stream;
    for (const TSerialPacket& packet : packets) {
        stream += packet.BuildPacket();
    }
    for (const TSerialPacket& sent : packets) {
        const TSerialPacket parsed(stream);
        EXPECT_EQ(parsed.GetActionType(), sent.GetActionType());
        EXPECT_EQ(parsed.GetSocketID(), sent.GetSocketID());
        EXPECT_EQ(parsed.GetIpAddr(), sent.GetIpAddr());
        EXPECT_EQ(parsed.GetPort(), sent.GetPort());
        EXPECT_EQ(parsed.GetError(), sent.GetError());
        EXPECT_EQ(parsed.GetData(), sent.GetData());
    }
    EXPECT_EQ(stream.Length(), 0u);
}

struct ParseCase {
    const char* input;
    unsigned char action;
    unsigned long socketId;
    unsigned long ipAddr;
    unsigned short port;
    const char* data;
    const char* left;  // what stays in the input
};

TEST(SerialPacketTest, ParsesOddInputWithoutRejectingIt) {
    const ParseCase cases[] = {
        // Incomplete input waits untouched.
        {"", 0, 0, 0, 0, "", ""},
        {"00", 0, 0, 0, 0, "", "00"},
        {"00 0B 01 00 00 00 01 0A 00 00 05 01", 0, 0, 0, 0, "",
         "00 0B 01 00 00 00 01 0A 00 00 05 01"},
        {"FF FF 08", 0, 0, 0, 0, "", "FF FF 08"},
        // Too short to carry an action: consumed with action 0.
        {"00 03 01 02 03", 0, 0, 0, 0, "", ""},
        {"00 00 00 05 09 00 00 00 00", 0, 0, 0, 0, "", "00 05 09 00 00 00 00"},
        {"00 04 01 00 00 00 07 00", 0, 0, 0, 0, "", "07 00"},
        // Data packet without data.
        {"00 05 07 00 00 00 04", ACTION_DATA_IN, 4, 0, 0, "", ""},
        // Unknown actions are carried with their socket id and consumed.
        {"00 06 2A 00 00 00 09 55 00", 0x2A, 9, 0, 0, "", "00"},
        // A field beyond the packet's own length reads as 0, never as the
        // bytes of what follows it.
        {"00 05 01 00 00 00 01 0A 00 00 05 01 BB", ACTION_CALL, 1, 0, 0, "", "0A 00 00 05 01 BB"},
        {"00 09 01 00 00 00 01 0A 00 00 05 01 BB", ACTION_CALL, 1, 0x0A000005, 0, "", "01 BB"},
        {"00 05 02 00 00 00 03 00 50", ACTION_LISTEN, 3, 0, 0, "", "00 50"},
        {"00 05 04 00 00 00 03 00 00 4E 2B", ACTION_CALL_RESULT, 3, 0, 0, "", "00 00 4E 2B"},
        {"00 05 01 00 00 00 01 0A 00", ACTION_CALL, 1, 0, 0, "", "0A 00"},
        {"00 07 01 00 00 00 01 0A 00", ACTION_CALL, 1, 0, 0, "", ""},
    };
    for (const ParseCase& c : cases) {
        T_BinaryData input = HexBytes(c.input);
        const TSerialPacket packet(input);
        EXPECT_EQ(packet.GetActionType(), c.action) << c.input;
        EXPECT_EQ(packet.GetSocketID(), c.socketId) << c.input;
        EXPECT_EQ(packet.GetIpAddr(), c.ipAddr) << c.input;
        EXPECT_EQ(packet.GetPort(), c.port) << c.input;
        EXPECT_EQ(packet.GetData(), HexBytes(c.data)) << c.input;
        EXPECT_EQ(input, HexBytes(c.left)) << c.input;
    }
}

TEST(SerialPacketTest, OneAndAHalfPacketsLeaveTheHalfForLater) {
    const T_BinaryData second =
        TSerialPacket(ACTION_DATA_OUT, 2, HexBytes("61 62 63")).BuildPacket();
    T_BinaryData input = TSerialPacket(ACTION_CLOSE, 1, 0, 0, 0).BuildPacket();
    input += second.Copy(0, 6);

    const TSerialPacket first(input);
    EXPECT_EQ(first.GetActionType(), ACTION_CLOSE);
    EXPECT_EQ(first.GetSocketID(), 1u);
    EXPECT_EQ(input, second.Copy(0, 6));

    const TSerialPacket none(input);
    EXPECT_EQ(none.GetActionType(), 0);
    EXPECT_EQ(input, second.Copy(0, 6));

    input += second.Copy(6, T_BinaryData::kToEnd);
    const TSerialPacket completed(input);
    EXPECT_EQ(completed.GetActionType(), ACTION_DATA_OUT);
    EXPECT_EQ(completed.GetData(), HexBytes("61 62 63"));
    EXPECT_EQ(input.Length(), 0u);
}

}  // namespace
