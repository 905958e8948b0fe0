// The tunnel's Wireshark dissector on a capture made up record by record: what it says of
// each frame of the line, run by tshark with its home in the test's directory.

#include <gtest/gtest.h>

#include <algorithm>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "base/Conversions.h"
#include "log/TunnelCapture.h"
#include "support/TempDir.h"
#include "support/Tshark.h"

namespace {

using tunnelcapture::TLineDirection;
using tunnelcapture::TLineKind;
using TBytes = std::vector<std::uint8_t>;

// A frame of that type and number around data, with its check (spoilt when asked).
TBytes Frame(std::uint8_t type, std::uint8_t number, const TBytes& data, bool spoilt = false) {
    TBytes frame(3 + data.size() + 2);
    frame[0] = type;
    frame[1] = number;
    frame[2] = static_cast<std::uint8_t>(data.size());
    std::copy(data.begin(), data.end(), frame.begin() + 3);
    frame.resize(3 + data.size());
    const std::uint16_t check = CountCrc(frame.data(), frame.size()) ^ (spoilt ? 1 : 0);
    frame.push_back(static_cast<std::uint8_t>(check >> 8));
    frame.push_back(static_cast<std::uint8_t>(check));
    return frame;
}

TEST(DissectorTest, FramesPacketsAndTheirTroubles) {
    if (!HaveTshark()) {
        GTEST_SKIP() << "tshark is not installed (scripts/install-deps.sh installs it)";
    }
    const auto to = TLineDirection::ToTerminal;
    const auto from = TLineDirection::FromTerminal;
    const TBytes reset = {0x00, 0x05, 0x09, 0, 0, 0, 0};
    const TBytes result = {0x00, 0x09, 0x04, 0, 0, 0, 1, 0, 0, 0x4E, 0x2B};
    const TBytes firstHalf(result.begin(), result.begin() + 4);
    const TBytes secondHalf(result.begin() + 4, result.end());
    const TBytes dataIn = {0x00, 0x07, 0x07, 0, 0, 0, 1, 'h', 'i'};
    struct TRecord {
        TLineDirection direction;
        TLineKind kind;
        TBytes bytes;
        // What tshark shows: the expert messages, the actions of the packets completed, and
        // the frame a probe's answer answers.
        std::string expert;
        std::string actions;
        std::string probeAnswered;
    };
    const TRecord records[] = {
        {to, TLineKind::Frame, Frame(0x41, 1, reset), "", "9", ""},
        {from, TLineKind::Frame, Frame(0x06, 1, {}), "", "", ""},
        {to, TLineKind::Frame, Frame(0x41, 2, firstHalf), "", "", ""},
        {to, TLineKind::Frame, Frame(0x41, 3, secondHalf), "", "4", ""},
        {to, TLineKind::Frame, Frame(0x41, 3, secondHalf), "Repeat of frame 3", "", ""},
        {to, TLineKind::Frame, Frame(0x41, 5, dataIn), "Gap: number 4 expected", "7", ""},
        {to, TLineKind::Frame, Frame(0x41, 9, {}), "Probe 9", "", ""},
        {from, TLineKind::Frame, Frame(0x06, 9, {}), "", "", "7"},
        {from, TLineKind::Frame, Frame(0x15, 5, {}), "NAK: data frame 5 refused", "", ""},
        {from, TLineKind::Frame, Frame(0x41, 1, reset, true), "Wrong check", "", ""},
        {from, TLineKind::Garbage, {0x11, 0x22}, "Garbage on the line: 2 bytes", "", ""},
        {from, TLineKind::Frame, {0x41, 0x02, 0x00}, "Frame shorter", "", ""},
        {from, TLineKind::Frame, Frame(0x41, 2, {0x00, 0x03, 0x01, 0x02, 0x03}), "Packet too short",
         "", ""},
        {from, TLineKind::Frame, Frame(0x41, 3, {0x00, 0x05, 0x0C, 0, 0, 0, 1}),
         "Unknown action 12", "12", ""},
    };

    TempDir directory;
    std::string capture;
    const TBytes header = tunnelcapture::Header("made up", "line");
    capture.append(header.begin(), header.end());
    std::uint64_t time = 1000000;
    for (const TRecord& record : records) {
        const TBytes block = tunnelcapture::LineBlock(time++, record.direction, record.kind,
                                                      record.bytes.data(), record.bytes.size());
        capture.append(block.begin(), block.end());
    }
    directory.WriteFile("made-up.pcapng", capture);

    const TTsharkRun run =
        RunTshark(directory, {"-r", directory / "made-up.pcapng", "-T", "fields", "-E",
                              "occurrence=a", "-e", "_ws.expert.message", "-e",
                              "pinpad.packet.action", "-e", "pinpad.frame.probe_answer_to"});
    ASSERT_EQ(run.status, 0) << run.errors;
    std::istringstream lines(run.output);
    std::size_t index = 0;
    for (std::string line; std::getline(lines, line); ++index) {
        ASSERT_LT(index, std::size(records)) << line;
        const TRecord& record = records[index];
        SCOPED_TRACE("record " + std::to_string(index + 1) + ": " + line);
        const std::size_t tab = line.find('\t');
        const std::size_t tab2 = line.find('\t', tab + 1);
        const std::string expert = line.substr(0, tab);
        EXPECT_EQ(line.substr(tab + 1, tab2 - tab - 1), record.actions);
        EXPECT_EQ(line.substr(tab2 + 1), record.probeAnswered);
        if (record.expert.empty()) {
            EXPECT_EQ(expert, "");
        } else {
            EXPECT_NE(expert.find(record.expert), std::string::npos);
        }
    }
    EXPECT_EQ(index, std::size(records));
}

}  // namespace
