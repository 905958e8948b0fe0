#include "MemoryTransfer.h"

#include <poll.h>
#include <sys/socket.h>

#include <algorithm>
#include <cstdio>
#include <memory>
#include <random>
#include <vector>

#include "Loopback.h"
#include "MemoryConnection.h"
#include "PacketPeer.h"
#include "TestSystem.h"
#include "platform/SystemDevices.h"
#include "tunnel/SerialManager.h"
#include "tunnel/SerialOutConnection.h"

namespace {

constexpr double kLineBytesPerSecond = 11520;
// An idle round of the world lets this much time pass.
constexpr unsigned long kIdleStepMs = 20;
// Upload pieces, and how much the terminal may hold for the line before the next one.
constexpr std::size_t kUploadPiece = 1020;
constexpr std::size_t kUploadBacklog = 2048;
// A run that has neither ended nor made progress for this long is given up.
constexpr unsigned long kGiveUpMs = 60000;
// How long the application waits for its call to be answered.
constexpr unsigned long kCallWaitMs = 5000;
// How long the application of an upload waits for the data it handed over to arrive before it
// gives its connection up.
constexpr unsigned long kAnswerWaitMs = 3000;

// The test system whose Idle lets the rest of the world run: a terminal that waits for its
// link idles there while the agent works.
class TWorldSystem : public TTestSystem {
  public:
    std::function<void()> whileIdle;
    void Idle() override {
        if (whileIdle) {
            whileIdle();
        }
        TTestSystem::Idle();
    }
};

// The TCP peer of one transfer, on 127.0.0.1.
struct TTcpPeer {
    LoopbackListener listener = ListenOnLoopback();
    TDescriptor socket;
    std::string received;
    std::size_t sent = 0;
    bool eof = false;

    // Accepts the agent's call, sends what it can of toSend and takes what came; true if
    // anything moved.
    bool Pump(const std::string& toSend) {
        pollfd entry{listener.socket.Get(), POLLIN, 0};
        if (!socket.IsOpen() && ::poll(&entry, 1, 0) > 0) {
            socket = AcceptPeer(listener.socket);
        }
        if (!socket.IsOpen() || eof) {
            return false;
        }
        bool moved = false;
        if (sent < toSend.size()) {
            const ssize_t count = ::send(socket.Get(), toSend.data() + sent, toSend.size() - sent,
                                         MSG_DONTWAIT | MSG_NOSIGNAL);
            if (count > 0) {
                sent += static_cast<std::size_t>(count);
                moved = true;
            }
        }
        char block[4096];
        const ssize_t count = ::recv(socket.Get(), block, sizeof block, MSG_DONTWAIT);
        if (count > 0) {
            received.append(block, static_cast<std::size_t>(count));
            moved = true;
        } else if (count == 0) {
            eof = true;
            moved = true;
        }
        return moved;
    }
};

std::string CheckedData(std::size_t size) {
    std::string data(size, '\0');
    for (std::size_t i = 0; i < size; ++i) {
        data[i] = static_cast<char>(CheckedByte(i));
    }
    return data;
}

// One direction of a run: the terminal's connection, its TCP peer and what each has seen.
struct TTransfer {
    explicit TTransfer(bool isDownload) : download(isDownload) {}

    bool download;
    TTcpPeer peer;
    std::unique_ptr<IConnection> connection;
    // The application's next call, made as soon as its upload connection is closed.
    std::unique_ptr<IConnection> nextCall;
    std::string received;  // download: by the terminal's application
    std::size_t sent = 0;  // upload: handed to the terminal's connection
    bool terminalClosed = false;
    std::uint32_t closedAt = 0;
    bool connected = false;
    bool done = false;
    std::uint32_t lastProgress = 0;
    TTransferOutcome outcome;

    std::size_t Delivered() const { return download ? received.size() : peer.received.size(); }
};

class TWorld {
  public:
    explicit TWorld(const TTransferPlan& plan)
        : m_plan(plan), m_data(CheckedData(plan.bytes)), m_random(plan.seed) {
        for (TMemoryLine::Side side : {TMemoryLine::A, TMemoryLine::B}) {
            m_line.Switches(side).tap = [this](std::vector<unsigned char>& chunk) { Carry(chunk); };
        }
        m_agent = std::make_unique<TSerialManager>(
            NewLineStack(m_line.NewEnd(TMemoryLine::A), plan.agentOptions), SystemEthernet());
        m_agent->SetStreamMode(plan.streamMode);
        m_line.TakePending(TMemoryLine::B);  // the agent's reset, sent before the terminal came
        if (plan.terminal == TTerminalKind::Model) {
            m_model = std::make_unique<TTerminalModel>(
                [this] { return m_line.NewEnd(TMemoryLine::B); }, plan.streamMode);
        } else {
            m_ours = std::make_unique<TSerialManager>(
                NewLineStack(m_line.NewEnd(TMemoryLine::B), plan.ourTerminalOptions),
                SystemEthernet());
            m_ours->SetStreamMode(plan.streamMode);
        }
        m_system.whileIdle = [this] { Background(); };
    }

    ~TWorld() {
        m_system.whileIdle = nullptr;
        m_transfers.clear();
    }

    TTransferRun Run() {
        if (m_plan.download) {
            m_transfers.push_back(std::make_unique<TTransfer>(true));
        }
        if (m_plan.upload) {
            m_transfers.push_back(std::make_unique<TTransfer>(false));
        }
        for (auto& transfer : m_transfers) {
            transfer->connection = Call(transfer->peer.listener.port);
            transfer->lastProgress = Now();
        }
        bool disturbed = m_plan.pauseMs == 0 && m_plan.silenceMs == 0;
        while (!AllDone()) {
            if (!disturbed && MovedAThird()) {
                disturbed = true;
                Disturb();
            }
            Round();
        }
        TTransferRun run;
        for (auto& transfer : m_transfers) {
            (transfer->download ? run.download : run.upload) = transfer->outcome;
        }
        FreshCall(run);
        if (m_model) {
            run.model = m_model->Counters();
        }
        return run;
    }

  private:
    std::uint32_t Now() { return m_system.Clock().Now(); }

    // The line: time passes with every byte it carries; bytes are damaged or lost at random,
    // and nothing gets through while it is silent.
    void Carry(std::vector<unsigned char>& chunk) {
        const double startMs = static_cast<double>(Now()) + m_lineMs;
        m_lineMs += static_cast<double>(chunk.size()) * 1000 / kLineBytesPerSecond;
        const auto whole = static_cast<unsigned long>(m_lineMs);
        m_lineMs -= static_cast<double>(whole);
        m_system.Clock().Advance(whole);
        if (m_silent || !m_noisy) {
            if (m_silent) {
                chunk.clear();
            }
            return;
        }
        Cut(chunk, startMs);
        std::bernoulli_distribution flip(std::min(1.0, m_plan.bitErrorRate * 8));
        std::bernoulli_distribution drop(m_plan.byteDropRate);
        std::uniform_int_distribution<int> bit(0, 7);
        std::vector<unsigned char> kept;
        for (unsigned char byte : chunk) {
            if (m_plan.byteDropRate > 0 && drop(m_random)) {
                continue;
            }
            kept.push_back(flip(m_random) ? static_cast<unsigned char>(byte ^ (1 << bit(m_random)))
                                          : byte);
        }
        chunk.swap(kept);
    }

    // Drops the bytes that cross the line during a cut; the chunk's first byte starts at startMs.
    void Cut(std::vector<unsigned char>& chunk, double startMs) {
        if (m_plan.cutsPerSecond <= 0) {
            return;
        }
        std::exponential_distribution<double> gap(m_plan.cutsPerSecond / 1000);
        std::uniform_real_distribution<double> length(5, 50);
        if (m_nextCutMs < 0) {
            m_nextCutMs = startMs + gap(m_cutRandom);
            m_cutLengthMs = length(m_cutRandom);
        }
        std::vector<unsigned char> kept;
        const double byteMs = 1000.0 / kLineBytesPerSecond;
        for (std::size_t i = 0; i < chunk.size(); ++i) {
            const double at = startMs + static_cast<double>(i) * byteMs;
            while (at >= m_nextCutMs + m_cutLengthMs) {
                m_nextCutMs += m_cutLengthMs + gap(m_cutRandom);
                m_cutLengthMs = length(m_cutRandom);
            }
            if (at < m_nextCutMs) {
                kept.push_back(chunk[i]);
            }
        }
        chunk.swap(kept);
    }

    // Everything but the terminal's application: the agent and the TCP peers.
    bool Background() {
        bool moved = m_agent->ProcessContinuously();
        for (auto& transfer : m_transfers) {
            moved = transfer->peer.Pump(transfer->download ? m_data : std::string()) || moved;
            if (!transfer->download) {
                moved = CheckUpload(*transfer) || moved;
            }
        }
        return moved;
    }

    bool TerminalStep() { return m_model ? m_model->Step() : m_ours->ProcessContinuously(); }

    std::unique_ptr<IConnection> Call(std::uint16_t port) {
        IConnection* made = nullptr;
        if (m_model) {
            (void)m_model->Call(TNetworkHostParam(kLoopbackAddress, port, false, nullptr, nullptr),
                                &made);
        } else {
            made = m_ours->AddCallingConnection(++m_lastSocketId, kLoopbackAddress, port);
        }
        return std::unique_ptr<IConnection>(made);
    }

    std::size_t QueuedForLine() const {
        return m_model ? m_model->QueuedForLine() : m_ours->QueuedForLine();
    }

    bool MovedAThird() const {
        for (const auto& transfer : m_transfers) {
            if (transfer->Delivered() >= m_plan.bytes / 3) {
                return true;
            }
        }
        return false;
    }

    // The terminal's application stays away, then the line goes quiet; the rest runs on.
    void Disturb() {
        const std::uint32_t pauseEnd = Now() + static_cast<std::uint32_t>(m_plan.pauseMs);
        while (static_cast<std::int32_t>(Now() - pauseEnd) < 0) {
            if (!Background()) {
                m_system.Clock().Advance(kIdleStepMs);
            }
        }
        m_silent = true;
        const std::uint32_t silenceEnd = Now() + static_cast<std::uint32_t>(m_plan.silenceMs);
        while (static_cast<std::int32_t>(Now() - silenceEnd) < 0) {
            Round();
        }
        m_silent = false;
        // Nothing crosses a silent line, a close neither: its time counts from here.
        for (auto& transfer : m_transfers) {
            transfer->lastProgress = std::max(transfer->lastProgress, Now());
        }
    }

    // Everyone takes a turn; time passes when nobody had anything to do.
    void Round() {
        bool moved = Background();
        moved = TerminalStep() || moved;
        for (auto& transfer : m_transfers) {
            moved = Drive(*transfer) || moved;
        }
        if (!moved) {
            m_system.Clock().Advance(kIdleStepMs);
        }
    }

    // The application gives a transfer up at its first wrong byte.
    void Progress(TTransfer& transfer) {
        transfer.lastProgress = Now();
        if (transfer.Delivered() == m_plan.bytes || transfer.outcome.wrongBytes) {
            Finish(transfer);
        }
    }

    bool CheckUpload(TTransfer& transfer) {
        if (transfer.done) {
            return false;
        }
        const std::size_t before = transfer.outcome.delivered;
        const std::string& got = transfer.peer.received;
        if (got.size() == before) {
            return false;
        }
        transfer.outcome.delivered = got.size();
        if (got.size() > m_data.size() ||
            got.compare(before, std::string::npos, m_data, before, got.size() - before) != 0) {
            transfer.outcome.wrongBytes = true;
        }
        Progress(transfer);
        return true;
    }

    // The terminal's application: reads a download, feeds an upload, watches the connection.
    bool Drive(TTransfer& transfer) {
        if (transfer.done) {
            return false;
        }
        if (!transfer.connection) {
            return GiveUpIfStalled(transfer);  // the terminal could not even call
        }
        bool moved = false;
        IConnection& connection = *transfer.connection;
        if (!transfer.connected) {
            const CONNSTATE state = connection.GetState();
            transfer.connected = state == CONNSTATE_CONNECTED;
            transfer.terminalClosed = state == CONNSTATE_DISCONNECTED;
            if (transfer.connected) {
                transfer.lastProgress = Now();  // the call is answered
            } else if (!transfer.terminalClosed && Now() - transfer.lastProgress > kCallWaitMs) {
                // The application gives the call up: its request or the answer was lost.
                transfer.connection.reset();
                transfer.outcome.callUnanswered = true;
                Finish(transfer);
                return true;
            }
        }
        if (transfer.download) {
            unsigned char buffer[4096];
            const long got = connection.Receive(buffer, sizeof buffer);
            if (got > 0) {
                const std::size_t before = transfer.received.size();
                transfer.received.append(reinterpret_cast<char*>(buffer),
                                         static_cast<std::size_t>(got));
                transfer.outcome.delivered = transfer.received.size();
                if (transfer.received.size() > m_data.size() ||
                    transfer.received.compare(before, std::string::npos, m_data, before,
                                              static_cast<std::size_t>(got)) != 0) {
                    transfer.outcome.wrongBytes = true;
                }
                Progress(transfer);
                moved = true;
            } else if (got < 0) {
                transfer.terminalClosed = true;
            }
        } else if (!transfer.terminalClosed) {
            if (transfer.connected && transfer.sent < m_data.size() &&
                QueuedForLine() < kUploadBacklog) {
                const std::size_t piece = std::min(kUploadPiece, m_data.size() - transfer.sent);
                const long sent = connection.Send(
                    reinterpret_cast<const unsigned char*>(m_data.data()) + transfer.sent, piece);
                if (sent < 0) {
                    transfer.terminalClosed = true;
                } else {
                    transfer.sent += piece;
                }
                moved = true;
            } else if (connection.GetState() == CONNSTATE_DISCONNECTED) {
                transfer.terminalClosed = true;
            } else if (transfer.sent == m_data.size() &&
                       Now() - transfer.lastProgress > kAnswerWaitMs) {
                // No answer to data handed over long ago: the application gives the connection
                // up, which asks the agent to close it.
                transfer.connection.reset();
                transfer.terminalClosed = true;
            }
        }
        if (!transfer.download && transfer.terminalClosed && !transfer.nextCall) {
            transfer.nextCall = Call(transfer.peer.listener.port);
        }
        if (transfer.terminalClosed && !transfer.outcome.closed) {
            transfer.outcome.closed = true;
            transfer.outcome.closeAfterMs = Now() - transfer.lastProgress;
            transfer.closedAt = Now();
        }
        if (transfer.outcome.closed) {
            // An upload's TCP peer must be let go too.
            const bool peerGone =
                transfer.download || transfer.peer.eof || !transfer.peer.socket.IsOpen();
            transfer.outcome.tcpLeftOpen =
                !peerGone && Now() - transfer.closedAt > CloseLimitMs(m_plan.terminal);
            if (peerGone || transfer.outcome.tcpLeftOpen) {
                Finish(transfer);
            }
        }
        return GiveUpIfStalled(transfer) || moved;
    }

    // A transfer that has neither ended nor moved for long is over: a silent failure.
    bool GiveUpIfStalled(TTransfer& transfer) {
        if (!transfer.done && Now() - transfer.lastProgress > kGiveUpMs) {
            transfer.outcome.callUnanswered = !transfer.connected;
            Finish(transfer);
        }
        return false;
    }

    void Finish(TTransfer& transfer) {
        transfer.done = true;
        transfer.outcome.completed = transfer.Delivered() == m_plan.bytes &&
                                     !transfer.outcome.closed && !transfer.outcome.wrongBytes;
    }

    bool AllDone() const {
        return std::all_of(m_transfers.begin(), m_transfers.end(),
                           [](const auto& transfer) { return transfer->done; });
    }

    // The line is clean now; the application lets its connections go and calls anew, again
    // after a call that went unanswered or was refused, until one is served.
    void FreshCall(TTransferRun& run) {
        m_noisy = false;
        for (auto& transfer : m_transfers) {
            transfer->connection.reset();
            transfer->nextCall.reset();
        }
        TTcpPeer peer;
        const std::uint32_t start = Now();
        const auto elapsed = [&] { return Now() - start; };
        while (!run.serviceBack && elapsed() < kServiceLimitMs * 4) {
            std::unique_ptr<IConnection> connection = Call(peer.listener.port);
            const std::uint32_t attempt = Now();
            CONNSTATE state = CONNSTATE_CONNECTING;
            while (connection && state == CONNSTATE_CONNECTING &&
                   Now() - attempt < kServiceLimitMs) {
                state = connection->GetState();
                const bool moved = peer.Pump("");
                if (!Background() && !TerminalStep() && !moved) {
                    m_system.Clock().Advance(kIdleStepMs);
                }
            }
            if (state == CONNSTATE_CONNECTED) {
                run.serviceBack = true;
                run.serviceMs = elapsed();
            } else if (!connection) {
                m_system.Clock().Advance(kIdleStepMs);
            }
        }
        run.serviceBack = run.serviceBack && run.serviceMs <= kServiceLimitMs;
    }

    TTransferPlan m_plan;
    std::string m_data;
    TWorldSystem m_system;
    TMemoryLine m_line;
    std::mt19937 m_random;
    // The cuts have their own sequence, so that runs without them stay as they were.
    std::mt19937 m_cutRandom{m_plan.seed * 7919u + 1};
    double m_nextCutMs = -1;
    double m_cutLengthMs = 0;
    double m_lineMs = 0;
    bool m_silent = false;
    bool m_noisy = true;
    std::unique_ptr<TSerialManager> m_agent;
    std::unique_ptr<TSerialManager> m_ours;
    std::unique_ptr<TTerminalModel> m_model;
    unsigned long m_lastSocketId = 0;
    std::vector<std::unique_ptr<TTransfer>> m_transfers;
};

}  // namespace

unsigned char CheckedByte(std::size_t offset) {
    const std::uint32_t mixed = static_cast<std::uint32_t>(offset + 1) * 0x9E3779B1u;
    return static_cast<unsigned char>((mixed >> 24) ^ (mixed >> 11));
}

unsigned long CloseLimitMs(TTerminalKind terminal) {
    return terminal == TTerminalKind::Model ? 5000 : 20000;
}

bool IsSilentFailure(const TTransferOutcome& outcome, TTerminalKind terminal) {
    return !outcome.completed && !outcome.wrongBytes && !outcome.callUnanswered &&
           !(outcome.closed && outcome.closeAfterMs <= CloseLimitMs(terminal));
}

TTransferRun RunMemoryTransfer(const TTransferPlan& plan) {
    TWorld world(plan);
    return world.Run();
}

void TTransferTally::Add(const TTransferOutcome& outcome, TTerminalKind terminal) {
    ++runs;
    completed += outcome.completed;
    closed += outcome.closed && !outcome.completed;
    wrong += outcome.wrongBytes;
    silent += IsSilentFailure(outcome, terminal);
    unanswered += outcome.callUnanswered;
    tcpLeftOpen += outcome.tcpLeftOpen;
}

std::string TTransferTally::Header() {
    return "  runs  completed  closed  wrong  silent  unanswered  tcp-left-open";
}

std::string TTransferTally::Row() const {
    char text[96];
    std::snprintf(text, sizeof text, "%6u %10u %7u %6u %7u %11u %14u", runs, completed, closed,
                  wrong, silent, unanswered, tcpLeftOpen);
    return text;
}
