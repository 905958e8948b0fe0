// The traffic log decoder on logs written by the system's own logger: a
// whole tunnel conversation, every problem it flags, damaged files, and
// input cut or scrambled anywhere.

#include <gtest/gtest.h>

#include <filesystem>
#include <functional>
#include <random>
#include <sstream>
#include <string>
#include <vector>

#include "TrafficLog.h"
#include "base/ErrorCodes.h"
#include "commlog-decode/CommLogDecode.h"
#include "commlog-decode/CommLogReader.h"
#include "commlog-decode/ReportWriter.h"
#include "commlog-decode/TraceDecoder.h"
#include "support/Bytes.h"
#include "support/HexBytes.h"
#include "support/TempDir.h"

namespace {

const std::string kLine = "CommLog1.txt";

TSerialPacket Call(unsigned long id) {
    return TSerialPacket(ACTION_CALL, id, 0x0A000005, 443, 0);
}
TSerialPacket Notice(unsigned char action, unsigned long id, unsigned long error = 0) {
    return TSerialPacket(action, id, 0, 0, error);
}

std::vector<std::string> Texts(const TDecodeReport& report, TEvent::TLayer layer) {
    std::vector<std::string> texts;
    for (const TEvent& event : report.timeline) {
        if (event.layer == layer) {
            texts.push_back(event.text);
        }
    }
    return texts;
}

std::vector<std::string> Problems(const TDecodeReport& report) {
    return Texts(report, TEvent::TLayer::Problem);
}

TDecodeReport DecodeLine(const TTrafficLogs& logs) {
    return DecodeLogs({{kLine, logs.Text(kLine)}});
}

// A conversation as the agent logs it: the reset exchange, a call whose
// 517 bytes of request span three frames, a listen in the same frame as the
// end of that request, the answer, and both connections' ends.
void WriteConversation(TTrafficLogs& logs) {
    logs.At(140321);
    logs.Opened(kLine);
    logs.Sent(kLine, DataFrame(1, PacketBytes(Notice(ACTION_RESET, 0))));
    logs.Received(kLine, Ack(1));
    logs.At(140322);
    logs.Received(kLine, DataFrame(1, PacketBytes(Call(1))));
    logs.Sent(kLine, Ack(1));
    logs.Sent(kLine, DataFrame(2, PacketBytes(Notice(ACTION_CALL_RESULT, 1))));
    logs.Received(kLine, Ack(2));
    T_BinaryData request;
    for (unsigned i = 0; i < 517; ++i) {
        request.AddDirectBytes(static_cast<unsigned char>(i), 1);  // END and ESC among them
    }
    T_BinaryData stream = PacketBytes(TSerialPacket(ACTION_DATA_OUT, 1, request));
    stream += PacketBytes(TSerialPacket(ACTION_LISTEN, 2, 0, 5000, 0));
    const T_BinaryData second = DataFrame(3, T_BinaryData(stream.GetDataRef(), 255, 255));
    logs.Received(kLine, DataFrame(2, T_BinaryData(stream.GetDataRef(), 0, 255)));
    logs.Sent(kLine, Ack(2));
    // The port hands over the second frame in two reads.
    logs.Received(kLine, T_BinaryData(second.GetDataRef(), 0, 100));
    logs.Received(kLine, T_BinaryData(second.GetDataRef(), 100, 0xFFFFFFFF));
    logs.Sent(kLine, Ack(3));
    logs.Received(kLine, DataFrame(4, T_BinaryData(stream.GetDataRef(), 510, 0xFFFFFFFF)));
    logs.Sent(kLine, Ack(4));
    logs.At(140325);
    logs.Sent(kLine, DataFrame(3, PacketBytes(TSerialPacket(ACTION_DATA_IN, 1,
                                                            T_BinaryData("HTTP/1.0 200 OK")))));
    logs.Received(kLine, Ack(3));
    T_BinaryData notices = PacketBytes(Notice(ACTION_CLOSED, 1));
    notices += PacketBytes(TSerialPacket(ACTION_CONNECTED, 2, 0x0700000A, 0, 0));
    logs.Sent(kLine, DataFrame(4, notices));
    logs.Received(kLine, Ack(4));
    logs.At(140330);
    logs.Received(kLine, DataFrame(5, PacketBytes(Notice(ACTION_CLOSE, 2))));
    logs.Sent(kLine, Ack(5));
    logs.Closed(kLine);
}

TEST(CommLogDecodeTest, DecodesATunnelConversationLayerByLayer) {
    TTrafficLogs logs;
    WriteConversation(logs);
    const TDecodeReport report = DecodeLine(logs);

    EXPECT_EQ(
        Texts(report, TEvent::TLayer::Packet),
        (std::vector<std::string>{"RESET", "CALL #1 -> 10.0.0.5:443", "CALL_RESULT #1 ok",
                                  "DATA_OUT #1 517 bytes \"........................\"...",
                                  "LISTEN #2 port 5000", "DATA_IN #1 15 bytes \"HTTP/1.0 200 OK\"",
                                  "CLOSED #1", "CONNECTED #2 from 10.0.0.7", "CLOSE #2"}));
    // The reset that starts the tunnel finds nothing open: no problem.
    EXPECT_EQ(Problems(report), std::vector<std::string>{});
    EXPECT_EQ(Texts(report, TEvent::TLayer::Log)[1], "a tunnel starts: RESET with nothing open");
    EXPECT_TRUE(report.stops.empty());

    const std::vector<std::string> frames = Texts(report, TEvent::TLayer::Frame);
    EXPECT_EQ(frames[0], "DATA seq 1, 7 bytes, CRC ok");
    EXPECT_EQ(frames[1], "ACK seq 1");
    const auto call = std::find_if(report.timeline.begin(), report.timeline.end(),
                                   [](const TEvent& e) { return e.text.starts_with("CALL #1"); });
    ASSERT_NE(call, report.timeline.end());
    EXPECT_EQ(call->stamp.Text(), "05.09 14:03:22");
    EXPECT_EQ(call->direction, '<');
    EXPECT_EQ(call->source, kLine);

    ASSERT_EQ(report.connections.size(), 2u);
    const TConnectionSummary& first = report.connections[0];
    EXPECT_EQ(first.name + " " + first.target, "#1 CALL 10.0.0.5:443");
    EXPECT_EQ(first.start.Text(), "05.09 14:03:22");
    EXPECT_EQ(first.last.Text(), "05.09 14:03:25");
    EXPECT_EQ(first.bytesOut, 517u);
    EXPECT_EQ(first.bytesIn, 15u);
    EXPECT_EQ(first.ending, "closed from the network side (CLOSED)");
    const TConnectionSummary& second = report.connections[1];
    EXPECT_EQ(second.name + " " + second.target, "#2 LISTEN port 5000");
    EXPECT_EQ(second.last.Text(), "05.09 14:03:30");
    EXPECT_EQ(second.ending, "closed by the terminal (CLOSE)");
}

// The agent's own measures are counted as what they are, never as problems; the same
// frames from the terminal, or changed data under one number, still are.
TEST(CommLogDecodeTest, TheAgentsMeasuresAreNoProblems) {
    using TWrite = std::function<void(TTrafficLogs&)>;
    const T_BinaryData close3 = PacketBytes(Notice(ACTION_CLOSE, 3));
    // A packet of the agent that needs no connection: the reset a tunnel starts with.
    const T_BinaryData reset = PacketBytes(Notice(ACTION_RESET, 0));
    const T_BinaryData call = PacketBytes(Call(3));
    struct TCase {
        const char* name;
        TWrite write;
        std::vector<std::string> measures;
        std::vector<std::string> problems;
    };
    const TCase cases[] = {
        {"doubled notice and doubled ACK",
         [&](TTrafficLogs& l) {
             l.Received(kLine, DataFrame(1, call));
             l.Sent(kLine, Ack(1));
             l.Sent(kLine, Ack(1));
             l.Sent(kLine, DataFrame(1, PacketBytes(Notice(ACTION_CALL_RESULT, 3))));
             l.Sent(kLine, DataFrame(1, PacketBytes(Notice(ACTION_CALL_RESULT, 3))));
             l.Received(kLine, Ack(1));
             l.Received(kLine, Ack(1));
         },
         {"doubled ACK: ACK seq 1 goes out twice", "doubled notice: DATA seq 1 goes out twice"},
         {}},
        {"ACK refreshes",
         [&](TTrafficLogs& l) {
             l.Received(kLine, DataFrame(1, close3));
             l.Sent(kLine, Ack(1));
             l.Sent(kLine, DataFrame(1, reset));
             l.Received(kLine, Ack(1));
             l.Sent(kLine, Ack(1));
             l.Sent(kLine, DataFrame(2, reset));
             l.Received(kLine, Ack(2));
             l.Sent(kLine, Ack(1));
         },
         {"ACK refresh: ACK seq 1 once more", "ACK refresh: ACK seq 1 once more"},
         {}},
        {"polls, answered by an empty portion and by the portion itself",
         [&](TTrafficLogs& l) {
             l.Received(kLine, DataFrame(1, call));
             l.Sent(kLine, Ack(1));
             l.Sent(kLine, Nak(2));
             l.Received(kLine, DataFrame(1, T_BinaryData()));
             l.Sent(kLine, Ack(1));
             l.Sent(kLine, Nak(2));
             l.Received(kLine, DataFrame(2, close3));
             l.Sent(kLine, Ack(2));
         },
         {"poll: NAK seq 2 asks for a portion lost whole",
          "poll: NAK seq 2 asks for a portion lost whole"},
         {}},
        {"probe",
         [&](TTrafficLogs& l) {
             l.Sent(kLine, DataFrame(5, reset));
             l.Sent(kLine, DataFrame(9, T_BinaryData()));
             l.Received(kLine, Ack(5));
         },
         {"probe: DATA seq 9 without data asks for an overdue answer"},
         {}},
        // Our own half of the tunnel probes too; a field terminal's empty portion under the
        // next number shows that its link reset dropped that portion.
        {"the terminal's probe, and its empty portion under the next number",
         [&](TTrafficLogs& l) {
             l.Received(kLine, DataFrame(1, call));
             l.Sent(kLine, Ack(1));
             l.Received(kLine, DataFrame(7, T_BinaryData()));
             l.Sent(kLine, Ack(7));
             l.Received(kLine, DataFrame(2, T_BinaryData()));
             l.Sent(kLine, Ack(2));
             l.Received(kLine, DataFrame(3, close3));
             l.Sent(kLine, Ack(3));
         },
         {"probe: DATA seq 7 without data asks for an overdue answer"},
         {"DATA seq 2 without data: the terminal's link reset dropped its portion and what was "
          "queued behind it"}},
        {"a portion the terminal never read, sent again after its probe",
         [&](TTrafficLogs& l) {
             l.Sent(kLine, DataFrame(5, reset));
             l.Sent(kLine, DataFrame(9, T_BinaryData()));
             l.Received(kLine, Ack(9));
             l.Sent(kLine, DataFrame(5, reset));
             l.Received(kLine, Ack(5));
         },
         {"probe: DATA seq 9 without data asks for an overdue answer"},
         {"DATA seq 5 is sent again"}},
        {"the same frames from the terminal, and new data under an old number",
         [&](TTrafficLogs& l) {
             l.Sent(kLine, DataFrame(1, reset));
             l.Received(kLine, Nak(1));
             l.Sent(kLine, DataFrame(1, reset));
             l.Sent(kLine, DataFrame(1, call));
             l.Received(kLine, Ack(1));
         },
         {},
         {"NAK for DATA seq 1: its receiver found a bad CRC", "DATA seq 1 is sent again",
          "sequence gap: seq 1 follows seq 1"}},
    };
    for (const TCase& c : cases) {
        TTrafficLogs logs;
        logs.At(100000);
        logs.Opened(kLine);
        c.write(logs);
        logs.Closed(kLine);
        const TDecodeReport report = DecodeLine(logs);
        EXPECT_EQ(Texts(report, TEvent::TLayer::Measure), c.measures) << c.name;
        EXPECT_EQ(Problems(report), c.problems) << c.name;
    }
}

TEST(CommLogDecodeTest, FlagsWhatAPersonShouldLookAt) {
    using TWrite = std::function<void(TTrafficLogs&)>;
    const T_BinaryData close3 = PacketBytes(Notice(ACTION_CLOSE, 3));
    struct TCase {
        const char* name;
        TWrite write;
        std::vector<std::string> problems;
    };
    const TCase cases[] = {
        // The agent's refusal and the terminal's answer to it follow from the damage.
        {"bad CRC, refused and sent again",
         [&](TTrafficLogs& l) {
             l.Received(kLine, DataFrame(1, close3, true));
             l.Sent(kLine, Nak(1));
             l.Received(kLine, DataFrame(1, close3));
             l.Sent(kLine, Ack(1));
         },
         {"bad CRC on DATA seq 1: its data is dropped"}},
        {"third NAK",
         [&](TTrafficLogs& l) {
             for (int i = 0; i < 3; ++i) {
                 l.Sent(kLine, DataFrame(1, close3));
                 l.Received(kLine, Nak(1));
             }
         },
         {"NAK for DATA seq 1: its receiver found a bad CRC", "DATA seq 1 is sent again",
          "NAK for DATA seq 1: its receiver found a bad CRC", "DATA seq 1 is sent again",
          "NAK for DATA seq 1: its receiver found a bad CRC",
          "third NAK for seq 1: the sender resets the link and drops its queued data"}},
        {"unanswered frame",
         [&](TTrafficLogs& l) { l.Sent(kLine, DataFrame(1, close3)); },
         {"DATA seq 1 sent at 05.09 10:00:00 was never answered"}},
        {"sequence gap",
         [&](TTrafficLogs& l) {
             l.Received(kLine, DataFrame(1, close3));
             l.Sent(kLine, Ack(1));
             l.Received(kLine, DataFrame(3, close3));
             l.Sent(kLine, Ack(3));
         },
         {"sequence gap: seq 3 follows seq 1"}},
        {"refused call",
         [&](TTrafficLogs& l) {
             l.Received(kLine, DataFrame(1, PacketBytes(Call(1))));
             l.Sent(kLine, Ack(1));
             l.Sent(kLine,
                    DataFrame(1, PacketBytes(Notice(ACTION_CALL_RESULT, 1, kErrorCannotConnect))));
             l.Received(kLine, Ack(1));
         },
         {"#1 failed: cannot connect: refused or unreachable (20001)"}},
        {"connect failing after the call",
         [&](TTrafficLogs& l) {
             l.Received(kLine, DataFrame(1, PacketBytes(Call(1))));
             l.Sent(kLine, Ack(1));
             l.Sent(kLine, DataFrame(1, PacketBytes(Notice(ACTION_CLOSED, 1))));
             l.Received(kLine, Ack(1));
         },
         {"#1 failed: closed before it was connected"}},
        {"CLOSED for an unknown socket id",
         [&](TTrafficLogs& l) {
             l.Sent(kLine, DataFrame(1, PacketBytes(Notice(ACTION_CLOSED, 7))));
             l.Received(kLine, Ack(1));
         },
         {"CLOSED for #7, which is not open"}},
        {"bytes between frames",
         [&](TTrafficLogs& l) {
             T_BinaryData bytes = HexBytes("41 42");
             bytes += DataFrame(1, close3);
             l.Received(kLine, bytes);
             l.Sent(kLine, Ack(1));
         },
         {"2 received bytes outside any frame are ignored"}},
        {"unknown frame type",
         [&](TTrafficLogs& l) { l.Received(kLine, WireFrame(0x33, 1, {})); },
         {"a frame of unknown type 0x33 is ignored"}},
        {"short frame",
         [&](TTrafficLogs& l) { l.Received(kLine, HexBytes("C0 41 01 02 C0")); },
         {"a frame too short for its header and CRC is dropped"}},
        {"frame never completed",
         [&](TTrafficLogs& l) { l.Received(kLine, HexBytes("C0 41 01")); },
         {"a received frame was never completed"}},
        {"packet too short for an action",
         [&](TTrafficLogs& l) {
             l.Received(kLine, DataFrame(1, HexBytes("00 03 01 02 03")));
             l.Sent(kLine, Ack(1));
         },
         {"a packet of length 3, too short for an action, is dropped"}},
        {"unknown action",
         [&](TTrafficLogs& l) {
             l.Received(kLine, DataFrame(1, PacketBytes(Notice(12, 4))));
             l.Sent(kLine, Ack(1));
         },
         {"a packet with unknown action 12 for #4 is ignored"}},
        {"incomplete packet",
         [&](TTrafficLogs& l) {
             l.Received(kLine, DataFrame(1, T_BinaryData(PacketBytes(Call(1)).GetDataRef(), 0, 5)));
             l.Sent(kLine, Ack(1));
         },
         {"5 received bytes of an incomplete packet are left"}},
        {"serial port error",
         [&](TTrafficLogs& l) { l.Failed(kLine, 20003); },
         {"the serial port reported an error"}},
        {"port opened twice",
         [&](TTrafficLogs& l) {
             l.Received(kLine, DataFrame(1, PacketBytes(Call(1))));
             l.Sent(kLine, Ack(1));
             l.Opened(kLine);
         },
         {"the port is opened again without being closed: the program before ended abruptly"}},
        {"resets: a terminal's new tunnel, then one that drops open connections",
         [&](TTrafficLogs& l) {
             l.Received(kLine, DataFrame(1, PacketBytes(Notice(ACTION_RESET, 0))));
             l.Sent(kLine, Ack(1));
             T_BinaryData calls = PacketBytes(Call(1));
             calls += PacketBytes(Call(2));
             l.Received(kLine, DataFrame(2, calls));
             l.Sent(kLine, Ack(2));
             l.Received(kLine, DataFrame(3, PacketBytes(Notice(ACTION_RESET, 0))));
             l.Sent(kLine, Ack(3));
         },
         {"RESET drops #1, #2 while still open"}},
    };
    for (const TCase& c : cases) {
        TTrafficLogs logs;
        logs.At(100000);
        logs.Opened(kLine);
        c.write(logs);
        logs.Closed(kLine);
        const TDecodeReport report = DecodeLine(logs);
        EXPECT_EQ(Problems(report), c.problems) << c.name;
        EXPECT_TRUE(report.stops.empty()) << c.name;
    }
}

TEST(CommLogDecodeTest, ARetransmittedPacketIsDecodedOnceInEitherDirection) {
    TTrafficLogs logs;
    logs.At(100000);
    logs.Opened(kLine);
    // The terminal's frame arrives damaged first; the agent's own frame is
    // NAKed by the terminal and sent again unchanged.
    logs.Received(kLine, DataFrame(1, PacketBytes(Call(1)), true));
    logs.Sent(kLine, Nak(1));
    logs.Received(kLine, DataFrame(1, PacketBytes(Call(1))));
    logs.Sent(kLine, Ack(1));
    logs.Sent(kLine, DataFrame(1, PacketBytes(Notice(ACTION_CALL_RESULT, 1))));
    logs.Received(kLine, Nak(1));
    logs.Sent(kLine, DataFrame(1, PacketBytes(Notice(ACTION_CALL_RESULT, 1))));
    logs.Received(kLine, Ack(1));
    const TDecodeReport report = DecodeLine(logs);
    EXPECT_EQ(Texts(report, TEvent::TLayer::Packet),
              (std::vector<std::string>{"CALL #1 -> 10.0.0.5:443", "CALL_RESULT #1 ok"}));
    ASSERT_EQ(report.connections.size(), 1u);
    EXPECT_EQ(report.connections[0].ending, "never closed");
}

TEST(CommLogDecodeTest, DamagedFilesAreReadUpToWhereTheyBreak) {
    TTrafficLogs logs;
    logs.At(100000);
    logs.Opened(kLine);
    T_BinaryData twenty;
    for (unsigned char i = 0; i < 20; ++i) {
        twenty.AddDirectBytes(static_cast<unsigned char>(0x10 + i), 1);
    }
    logs.Received(kLine, twenty);
    logs.Sent(kLine, HexBytes("41 42"));
    const std::string good = logs.Text(kLine);
    // Line 3 is the second row of the receive: "               <20 21 22 23 ...".
    const std::size_t row = good.find("               <");
    ASSERT_NE(row, std::string::npos);
    auto replaced = [&](std::size_t at, std::size_t count, const std::string& with) {
        return std::string(good).replace(at, count, with);
    };

    struct TCase {
        const char* name;
        std::string text;
        std::size_t entries;
        unsigned long lastBytes;  // bytes of the last entry read
        std::size_t stopLine;     // 0: read to the end
        std::string reason;
    };
    const TCase cases[] = {
        {"intact", good, 3, 2, 0, ""},
        {"LF line ends",
         [&] {
             std::string text;
             for (char c : good) {
                 if (c != '\r')
                     text += c;
             }
             return text;
         }(),
         3, 2, 0, ""},
        {"cut in a hex row at the end", good.substr(0, row + 16 + 7), 2, 18, 3,
         "the hex dump row is cut short"},
        {"hex row cut in the middle", replaced(row + 16 + 6, 58, ""), 2, 18, 3,
         "the hex dump row is cut short"},
        {"bad hex digits", replaced(row + 16 + 3, 2, "2G"), 2, 17, 3, "\"2G\" is not a hex byte"},
        {"garbage line", replaced(good.find("\r\n") + 2, 0, "garbage here\r\n"), 1, 0, 2,
         "not a log entry"},
        {"row of another direction", replaced(row + 15, 1, ">"), 2, 16, 3,
         "a hex dump row that belongs to no entry"},
        {"no line end at the end", good.substr(0, good.size() - 2), 3, 2, 4,
         "the file ends in the middle of an entry"},
        {"empty", "", 0, 0, 0, ""},
        {"no entry at all", "some text\r\nmore text\r\n", 0, 0, 1, "no log entry in the file"},
    };
    for (const TCase& c : cases) {
        const TCommLog log = ReadCommLog(c.text);
        ASSERT_EQ(log.entries.size(), c.entries) << c.name;
        if (c.entries != 0) {
            EXPECT_EQ(log.entries.back().bytes.Length(), c.lastBytes) << c.name;
        }
        EXPECT_EQ(log.stop.has_value(), c.stopLine != 0) << c.name;
        if (log.stop) {
            EXPECT_EQ(log.stop->line, c.stopLine) << c.name;
            EXPECT_EQ(log.stop->reason, c.reason) << c.name;
        }
    }

    const TDecodeReport report = DecodeLogs({{kLine, good.substr(0, row + 16 + 7)}});
    EXPECT_EQ(report.stops, std::vector<std::string>{
                                "CommLog1.txt: decoding stopped at line 3: the hex dump row is cut "
                                "short; the rest of the file is not decoded"});
    EXPECT_NE(RenderText(report).find(report.stops[0]), std::string::npos);
}

TEST(CommLogDecodeTest, LinesBeforeTheFirstEntryAreSkippedAndSaidSo) {
    TTrafficLogs logs;
    logs.At(100000);
    logs.Opened(kLine);
    logs.Closed(kLine);
    const TDecodeReport report =
        DecodeLogs({{kLine, "               <41 42|AB\r\n" + logs.Text(kLine)}});
    EXPECT_EQ(Problems(report),
              std::vector<std::string>{"1 lines before the first entry are skipped"});
    EXPECT_TRUE(report.stops.empty());
}

TEST(CommLogDecodeTest, CutOrScrambledInputNeverBreaksTheDecoder) {
    TTrafficLogs logs;
    WriteConversation(logs);
    const std::string log = logs.Text(kLine);
    for (std::size_t length = 0; length <= log.size(); ++length) {
        const TDecodeReport report = DecodeLogs({{kLine, log.substr(0, length)}});
        EXPECT_LE(report.stops.size(), 1u);
        RenderText(report);
        RenderJson(report);
    }
    std::mt19937 random(13);
    for (int round = 0; round < 300; ++round) {
        std::string text = log;
        for (int change = 0; change < 8; ++change) {
            text[random() % text.size()] = static_cast<char>(random());
        }
        std::string noise(random() % 400, '\0');
        for (char& c : noise) {
            c = static_cast<char>(random());
        }
        RenderJson(DecodeLogs({{kLine, text}, {"sock0000000001.txt", text}, {kLine, noise}}));
    }
}

TEST(CommLogDecodeTest, SocketLogsAreSummarisedAndMergedIntoTheTimeline) {
    const std::string sock = "sock0000000004.txt";
    TTrafficLogs logs;
    logs.At(100000);
    logs.Opened(kLine);
    logs.Opened(sock);
    logs.At(100001);
    logs.Sent(sock, T_BinaryData("GET /"));
    logs.Received(kLine, Ack(1));
    logs.Received(sock, T_BinaryData("200"));
    logs.Closed(sock);
    logs.At(100005);
    logs.Opened(sock, "10.0.0.7");  // the descriptor is used again, for an accepted peer
    logs.Failed(sock, 0);
    logs.Closed(sock);
    logs.At(100009);
    logs.Opened(sock);
    logs.Closed(kLine);

    const TDecodeReport report = DecodeLogs({{kLine, logs.Text(kLine)}, {sock, logs.Text(sock)}});
    std::vector<std::string> timeline;
    for (const TEvent& event : report.timeline) {
        timeline.push_back(event.stamp.Text().substr(6) + " " + event.source.substr(0, 4) + " " +
                           event.direction + " " + event.text);
    }
    EXPECT_EQ(timeline, (std::vector<std::string>{
                            "10:00:00 Comm   port opened",
                            "10:00:00 sock   Connected",
                            "10:00:01 Comm < ACK seq 1",
                            "10:00:01 sock > sent 5 bytes \"GET /\"",
                            "10:00:01 sock < received 3 bytes \"200\"",
                            "10:00:01 sock   Disconnected",
                            "10:00:05 sock   Connected 10.0.0.7",
                            "10:00:05 sock   Error 0",
                            "10:00:05 sock   connection 2: the socket failed or broke",
                            "10:00:05 sock   Disconnected",
                            "10:00:09 Comm   port closed",
                            "10:00:09 sock   Connected",
                            "10:00:09 sock   connection 3 never closed (still open where the log "
                            "ends)",
                        }));
    std::vector<std::string> connections;
    for (const TConnectionSummary& c : report.connections) {
        connections.push_back(c.name + " " + c.target + " " + std::to_string(c.bytesOut) + "/" +
                              std::to_string(c.bytesIn) + " " + c.ending);
    }
    EXPECT_EQ(connections,
              (std::vector<std::string>{"connection 1 outgoing 5/3 closed",
                                        "connection 2 peer 10.0.0.7 0/0 failed, then closed",
                                        "connection 3 outgoing 0/0 never closed"}));
}

TEST(CommLogDecodeTest, TheJsonReportListsTheProblems) {
    TTrafficLogs logs;
    logs.At(100000);
    logs.Opened(kLine);
    logs.Sent(kLine, DataFrame(1, PacketBytes(Notice(ACTION_CLOSE, 3))));
    const std::string json = RenderJson(DecodeLine(logs));
    EXPECT_NE(json.find("\"problems\": [\n    {\"time\": \"05.09 10:00:00\", \"source\": "
                        "\"CommLog1.txt\", \"text\": \"DATA seq 1 sent at 05.09 10:00:00 was "
                        "never answered\"}\n  ]"),
              std::string::npos)
        << json;
}

struct TRun {
    int status;
    std::string out;
    std::string err;
};

TRun RunDecoder(const std::vector<std::string>& paths, bool json = false) {
    std::ostringstream out;
    std::ostringstream err;
    const int status = RunCommLogDecode(TDecodeOptions{json, paths, {}}, out, err);
    return TRun{status, out.str(), err.str()};
}

TEST(CommLogDecodeTest, ARunOnFilesAndDirectories) {
    TempDir empty;
    TempDir trace;
    TTrafficLogs logs;
    WriteConversation(logs);
    trace.WriteFile("CommLog1.txt", logs.Text(kLine));
    trace.WriteFile("notes.txt", "not a log");
    // A loop of symbolic links among the logs is told and passed over.
    TempDir looped;
    looped.WriteFile("CommLog1.txt", logs.Text(kLine));
    std::filesystem::create_symlink("sock5.txt", looped / "sock5.txt");
    TempDir other;
    other.WriteFile("passwd", "root:x:0:0:root:/root:/bin/bash\n");
    other.WriteFile("CommLog2.txt", logs.Text(kLine) + std::string(5000, 'x') + "\n");

    struct TCase {
        std::vector<std::string> paths;
        int status;
        std::string out;  // a piece of the output
        std::string err;  // a piece of the complaint
    };
    const TCase cases[] = {
        {{empty / "CommLog1.txt"},
         DECODE_EXIT_UNREADABLE,
         "",
         "commlog-decode: " + (empty / "CommLog1.txt") +
             ": cannot be read: No such file or directory\n"},
        {{other / "passwd"},
         DECODE_EXIT_NOT_A_LOG,
         "",
         "commlog-decode: no log entry in passwd: not a traffic log\n"},
        {{other / "CommLog2.txt"}, DECODE_EXIT_NOT_A_LOG, "", "is longer than 4096 bytes"},
        {{empty.Path()}, DECODE_EXIT_UNREADABLE, "", "no CommLog*.txt or sock*.txt files"},
        {{trace.Path()},
         DECODE_EXIT_OK,
         "CommLog1.txt #1 CALL 10.0.0.5:443: 05.09 14:03:22 for 3 s, 517 bytes out, 15 bytes in, "
         "closed from the network side (CLOSED)",
         ""},
        {{looped.Path()},
         DECODE_EXIT_OK,
         "CommLog1.txt #1 CALL 10.0.0.5:443",
         "commlog-decode: " + (looped / "sock5.txt") +
             ": cannot be read: Too many levels of symbolic links; skipped\n"},
        {{trace / "CommLog1.txt"},
         DECODE_EXIT_OK,
         "05.09 14:03:22 CommLog1.txt < frame DATA seq 1, 13 bytes, CRC ok\n"
         "05.09 14:03:22 CommLog1.txt <   CALL #1 -> 10.0.0.5:443\n",
         ""},
        {{trace.Path()},
         DECODE_EXIT_OK,
         "{\"time\": \"05.09 14:03:25\", \"source\": \"CommLog1.txt\", \"direction\": \"sent\", "
         "\"layer\": \"packet\", \"text\": \"DATA_IN #1 15 bytes \\\"HTTP/1.0 200 OK\\\"\"}",
         ""},
    };
    for (const TCase& c : cases) {
        const bool json = c.out.starts_with("{");
        const TRun run = RunDecoder(c.paths, json);
        const std::string name = c.paths[0];
        EXPECT_EQ(run.status, c.status) << name;
        EXPECT_NE(run.out.find(c.out), std::string::npos) << name << "\n" << run.out;
        EXPECT_NE(run.err.find(c.err), std::string::npos) << name << "\n" << run.err;
    }
}

}  // namespace
