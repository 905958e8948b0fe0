#include <gtest/gtest.h>

#include <poll.h>
#include <sys/socket.h>

#include <cstdio>
#include <memory>
#include <random>
#include <string>
#include <vector>

#include "support/Loopback.h"
#include "support/MemoryConnection.h"
#include "support/PacketPeer.h"
#include "support/TestSystem.h"
#include "tunnel/SerialManager.h"
#include "tunnel/SerialOutConnection.h"

namespace {

// Both halves of our tunnel over an in-memory line that damages what it carries: each byte
// has its own chance of one flipped bit and of vanishing, drawn from a fixed seed. A download
// and an upload of checked data run at once through the agent's real TCP connections.
struct NoiseCase {
    const char* name;
    double bitErrorRate;  // per bit of every byte sent, either way
    double byteDropRate;
};

void PrintTo(const NoiseCase& c, std::ostream* os) {
    *os << c.name;
}

constexpr std::size_t kTransferSize = 24 * 1024;
constexpr int kSeeds = 4;

unsigned char PatternByte(std::size_t i) {
    return static_cast<unsigned char>(i * 31 + i / 251);
}

std::string Pattern(std::size_t size) {
    std::string bytes(size, '\0');
    for (std::size_t i = 0; i < size; ++i) {
        bytes[i] = static_cast<char>(PatternByte(i));
    }
    return bytes;
}

class NoisyLine {
  public:
    NoisyLine(TMemoryLine& line, const NoiseCase& noise, unsigned seed) : m_random(seed) {
        for (TMemoryLine::Side side : {TMemoryLine::A, TMemoryLine::B}) {
            line.Switches(side).tap = [this, noise](std::vector<unsigned char>& chunk) {
                Damage(chunk, noise);
            };
        }
    }
    void Silence(TMemoryLine& line) {
        line.Switches(TMemoryLine::A).tap = nullptr;
        line.Switches(TMemoryLine::B).tap = nullptr;
    }

  private:
    void Damage(std::vector<unsigned char>& chunk, const NoiseCase& noise) {
        std::bernoulli_distribution flip(noise.bitErrorRate * 8);
        std::bernoulli_distribution drop(noise.byteDropRate);
        std::uniform_int_distribution<int> bit(0, 7);
        std::vector<unsigned char> kept;
        for (unsigned char byte : chunk) {
            if (drop(m_random)) {
                continue;
            }
            kept.push_back(flip(m_random) ? static_cast<unsigned char>(byte ^ (1 << bit(m_random)))
                                          : byte);
        }
        chunk.swap(kept);
    }

    std::mt19937 m_random;
};

// One end of a transfer as the TCP peer of the agent sees it.
struct TcpEnd {
    UniqueFd socket;
    std::string received;
    std::size_t sent = 0;
    bool closed = false;
};

void AcceptIfCalling(const LoopbackListener& listener, TcpEnd& end) {
    pollfd entry{listener.socket.Get(), POLLIN, 0};
    if (!end.socket.Valid() && ::poll(&entry, 1, 0) > 0) {
        end.socket = AcceptPeer(listener.socket);
    }
}

// Moves what the socket has and can take now; true if anything moved.
bool PumpTcp(TcpEnd& end, const std::string& toSend) {
    if (!end.socket.Valid() || end.closed) {
        return false;
    }
    bool moved = false;
    if (end.sent < toSend.size()) {
        const ssize_t count = ::send(end.socket.Get(), toSend.data() + end.sent,
                                     toSend.size() - end.sent, MSG_DONTWAIT | MSG_NOSIGNAL);
        if (count > 0) {
            end.sent += static_cast<std::size_t>(count);
            moved = true;
        }
    }
    char block[4096];
    const ssize_t count = ::recv(end.socket.Get(), block, sizeof block, MSG_DONTWAIT);
    if (count > 0) {
        end.received.append(block, static_cast<std::size_t>(count));
        moved = true;
    } else if (count == 0) {
        end.closed = true;
        moved = true;
    }
    return moved;
}

class NoisyLineTest : public ::testing::TestWithParam<NoiseCase> {};

TEST_P(NoisyLineTest, EveryByteArrivesIntactAndEveryTransferCompletesOrIsClosed) {
    const std::string data = Pattern(kTransferSize);
    int completed = 0;
    int closed = 0;
    for (int seed = 1; seed <= kSeeds; ++seed) {
        SCOPED_TRACE("seed " + std::to_string(seed));
        TTestSystem system;
        TMemoryLine line;
        NoisyLine noise(line, GetParam(), static_cast<unsigned>(seed));
        TSerialManager agent(NewLineStack(line.NewEnd(TMemoryLine::A)));
        line.TakePending(TMemoryLine::B);  // the agent's reset, sent before the terminal came
        TSerialManager terminal(NewLineStack(line.NewEnd(TMemoryLine::B)));
        const LoopbackListener downServer = ListenOnLoopback();
        const LoopbackListener upServer = ListenOnLoopback();
        TcpEnd downPeer;
        TcpEnd upPeer;
        std::unique_ptr<IConnection> down(
            terminal.AddCallingConnection(1, kLoopbackAddress, downServer.port));
        std::unique_ptr<IConnection> up(
            terminal.AddCallingConnection(2, kLoopbackAddress, upServer.port));
        std::string downloaded;
        std::size_t uploaded = 0;
        bool downClosed = false;
        bool upClosed = false;

        auto finished = [&] {
            const bool downDone = downloaded.size() == data.size() || downClosed;
            const bool upDone = upPeer.received.size() == data.size() || upClosed;
            return downDone && upDone;
        };
        for (int round = 0; round < 400000 && !finished(); ++round) {
            // Connections given up no longer step the terminal's manager: the test does.
            bool moved = agent.ProcessContinuously();
            moved = terminal.ProcessContinuously() || moved;
            AcceptIfCalling(downServer, downPeer);
            AcceptIfCalling(upServer, upPeer);
            moved = PumpTcp(downPeer, data) || moved;
            moved = PumpTcp(upPeer, "") || moved;

            unsigned char buffer[1024];
            const long got = down->Receive(buffer, sizeof buffer);
            if (got > 0) {
                downloaded.append(reinterpret_cast<char*>(buffer), static_cast<std::size_t>(got));
                moved = true;
            }
            downClosed = got < 0;
            if (!upClosed && uploaded < data.size() && up->GetState() == CONNSTATE_CONNECTED &&
                terminal.QueuedForLine() < 2048) {
                const std::size_t piece = std::min<std::size_t>(600, data.size() - uploaded);
                const long sent = up->Send(
                    reinterpret_cast<const unsigned char*>(data.data()) + uploaded, piece);
                uploaded += sent > 0 ? piece : 0;
                moved = true;
            }
            // A closed upload counts once the agent has let its TCP peer go too.
            upClosed = up->GetState() == CONNSTATE_DISCONNECTED && (upPeer.closed ||
                                                                     !upPeer.socket.Valid());
            if (!moved) {
                system.Clock().Advance(20);
            }
        }
        ASSERT_TRUE(finished()) << "stalled: downloaded " << downloaded.size() << ", uploaded "
                                << upPeer.received.size() << " states " << down->GetState()
                                << up->GetState() << " server sent " << downPeer.sent
                                << " queued " << agent.QueuedForLine() << "/"
                                << terminal.QueuedForLine() << " up closed " << upPeer.closed
                                << " clock " << system.Clock().Now();
        EXPECT_EQ(downloaded, data.substr(0, downloaded.size()));
        EXPECT_EQ(upPeer.received, data.substr(0, upPeer.received.size()));
        completed += (downloaded.size() == data.size()) + (upPeer.received.size() == data.size());
        closed += (downloaded.size() != data.size()) + (upPeer.received.size() != data.size());

        // The agent still serves: a new call over the now quiet line is answered.
        noise.Silence(line);
        down.reset();
        up.reset();
        const std::unique_ptr<IConnection> again(
            terminal.AddCallingConnection(3, kLoopbackAddress, downServer.port));
        for (int round = 0; round < 20000 && again->GetState() == CONNSTATE_CONNECTING; ++round) {
            if (!agent.ProcessContinuously() && !terminal.ProcessContinuously()) {
                system.Clock().Advance(20);
            }
        }
        EXPECT_EQ(again->GetState(), CONNSTATE_CONNECTED);
    }
    std::printf("[ noise %s ] transfers completed %d, closed %d\n", GetParam().name, completed,
                closed);
    if (GetParam().bitErrorRate == 0 && GetParam().byteDropRate == 0) {
        EXPECT_EQ(closed, 0);
    }
}

INSTANTIATE_TEST_SUITE_P(Rates, NoisyLineTest,
                         ::testing::Values(NoiseCase{"clean", 0, 0},
                                           NoiseCase{"ber_1e5", 1e-5, 0},
                                           NoiseCase{"ber_1e4", 1e-4, 0},
                                           NoiseCase{"ber_1e3", 1e-3, 0},
                                           NoiseCase{"drops_1e3", 0, 1e-3}),
                         [](const auto& info) { return std::string(info.param.name); });

}  // namespace
