#include "common/SimLine.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <poll.h>
#include <unistd.h>

#include <algorithm>
#include <memory>
#include <string>
#include <vector>

#include "base/ErrorCodes.h"
#include "platform/Descriptor.h"
#include "platform/System.h"
#include "support/TempDir.h"
#include "tunnel/FrameLevel.h"
#include "tunnel/SerialNetworkInterface.h"
#include "tunnel/SlipDecoder.h"

namespace {

// The first frame that arrives on fd, unstuffed; empty when nothing comes within a few seconds.
std::vector<unsigned char> FirstFrame(int fd) {
    TSlipDecoder decoder;
    pollfd readable{fd, POLLIN, 0};
    while (poll(&readable, 1, 5000) == 1) {
        unsigned char byte = 0;
        if (read(fd, &byte, 1) != 1) {
            break;
        }
        if (decoder.Feed(byte)) {
            const T_BinaryData frame = decoder.TakeFrame();
            return std::vector<unsigned char>(frame.GetData(), frame.GetData() + frame.Length());
        }
    }
    return {};
}

// The tools' line builds our half of the tunnel straight on its descriptor: the process's system
// stays the one it was, and what the tunnel sends crosses the line to the agent's side.
TEST(SimLineTest, ItsTunnelRunsOnTheLineWithoutReplacingTheSystem) {
    TempDir dir;
    const std::string link = dir.Path() + "/ttyS99";
    ISystem* const system = ISystem::Instance();
    std::string error;
    const std::unique_ptr<TSimLine> line = TSimLine::MakePseudoTerminal(link, error);
    ASSERT_TRUE(line) << error;
    EXPECT_EQ(ISystem::Instance(), system);
    const TDescriptor agentSide(open(link.c_str(), O_RDWR | O_NOCTTY | O_CLOEXEC));
    ASSERT_TRUE(agentSide.IsOpen());

    // No agent answers; stopped, the tunnel gives up at once instead of waiting for one.
    line->StopWhen([] { return true; });
    EXPECT_EQ(line->Tunnel().Open().Code(), kErrorInterfaceFailed);

    // The new stack's reset, in the first data frame on the line.
    const std::vector<unsigned char> frame = FirstFrame(agentSide.Get());
    ASSERT_GE(frame.size(), 3u);
    EXPECT_EQ(frame[0], TFrameHeader::kData);
    const std::vector<unsigned char> reset{0x00, 0x05, 0x09, 0x00, 0x00, 0x00, 0x00};
    EXPECT_EQ(std::vector<unsigned char>(frame.begin() + 3,
                                         frame.begin() + 3 + std::min<long>(frame[2], 7)),
              reset);
    EXPECT_EQ(ISystem::Instance(), system);
}

}  // namespace
