// The agent's live capture with either terminal on the other end of the line, our own half
// or the model of the terminal as the field runs it: read back by tshark with the tunnel's
// dissector, the line's tunnel packets carry exactly what the TCP conversations carried.

#include <gtest/gtest.h>

#include <sstream>
#include <string>
#include <vector>

#include "support/Loopback.h"
#include "support/Tshark.h"
#include "tunnel-rig/TunnelRig.h"

namespace {

// The data of the capture, each way, as hex: what the line's data packets carried and what
// the TCP segments carried, and the frames whose check was wrong or that were no frame.
struct TCarried {
    std::string dataIn;
    std::string dataOut;
    std::string fromServer;
    std::string toServer;
    int troubles = 0;
};

TCarried Carried(const TempDir& directory, const std::string& capture, std::uint16_t server) {
    const TTsharkRun run = RunTshark(directory, {"-r", capture,
                                                 "-Y", "pinpad || tcp.len > 0",
                                                 "-T", "fields",
                                                 "-E", "occurrence=a",
                                                 "-e", "pinpad.packet.action",
                                                 "-e", "pinpad.packet.data",
                                                 "-e", "tcp.srcport",
                                                 "-e", "tcp.payload",
                                                 "-e", "pinpad.frame.check_good",
                                                 "-e", "pinpad.garbage.bytes"});
    EXPECT_EQ(run.status, 0) << run.errors;
    TCarried carried;
    std::istringstream lines(run.output);
    for (std::string line; std::getline(lines, line);) {
        std::vector<std::string> field;
        std::istringstream columns(line);
        for (std::string column; std::getline(columns, column, '\t');) {
            field.push_back(column);
        }
        field.resize(6);
        // Data fields come in the order of their packets; a frame completes packets of one
        // direction only, all DATA_IN or all DATA_OUT but for notices without data.
        std::string data;
        for (const char c : field[1]) {
            data += c == ',' ? std::string() : std::string(1, c);
        }
        if (field[0].find('7') != std::string::npos) {
            carried.dataIn += data;
        } else if (field[0].find('8') != std::string::npos) {
            carried.dataOut += data;
        }
        if (!field[2].empty()) {
            (field[2] == std::to_string(server) ? carried.fromServer : carried.toServer) +=
                field[3];
        }
        carried.troubles += (field[4] == "0" ? 1 : 0) + (field[5].empty() ? 0 : 1);
    }
    return carried;
}

TEST(CaptureBothTerminalsTest, TheLineCarriesWhatTheConnectionsCarried) {
    if (!HaveTshark()) {
        GTEST_SKIP() << "tshark is not installed (scripts/install-deps.sh installs it)";
    }
    for (const TTerminalKind terminal : {TTerminalKind::Ours, TTerminalKind::Model}) {
        SCOPED_TRACE(Name(terminal));
        TTunnelRig rig(TLineSettings{.rate = 0}, {"--capture", "line.pcapng"});
        rig.UseTerminal(terminal);
        const auto reports = rig.Load({"download", "32K", "upload", "32K"});
        ASSERT_EQ(reports.size(), 2u);
        for (const TLoadReport& report : reports) {
            EXPECT_EQ(report.Text("result"), "completed") << report.Line();
        }
        // The agent puts the capture down whenever the line has been idle a moment.
        const std::string capture = rig.Directory() / "line.pcapng";
        TCarried carried;
        ASSERT_TRUE(WaitFor(
            [&] {
                carried = Carried(rig.Directory(), capture, rig.ServerPort());
                return carried.fromServer.size() >= 2 * 32 * 1024 &&
                       carried.dataIn.size() == carried.fromServer.size();
            },
            std::chrono::seconds(10)));
        EXPECT_EQ(carried.dataIn, carried.fromServer);
        EXPECT_EQ(carried.dataOut, carried.toServer);
        EXPECT_GE(carried.toServer.size(), 2 * 32 * 1024u);
        EXPECT_EQ(carried.troubles, 0);
    }
}

}  // namespace
