#include "line-sim/LineSimulator.h"

#include <fcntl.h>
#include <poll.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <array>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <memory>
#include <sstream>

#include "common/OutputFile.h"

namespace {

// What a sender may have written ahead of the line, like a UART driver's
// transmit buffer: beyond it the sender waits.
constexpr std::size_t kTransmitBuffer = 4096;
// Bytes that may wait for a receiver that does not read before the sender
// is held back too.
constexpr std::size_t kReceiveBacklog = 65536;
constexpr std::size_t kChunk = 4096;

// The seeds of the two directions differ, so that their faults do.
constexpr std::uint64_t kToAgentSeedOffset = 0x9E3779B97F4A7C15ull;

void AddCounts(std::ostringstream& out, const char* name, const TLineDirection& direction) {
    const TDirectionCounts& c = direction.Counts();
    const TFrameCounts& f = direction.Frames();
    out << '"' << name << "\":{\"sent\":" << c.sent << ",\"delivered\":" << c.delivered
        << ",\"flipped_bits\":" << c.flippedBits << ",\"dropped\":" << c.droppedBytes
        << ",\"garbage\":" << c.garbageBytes << ",\"silenced\":" << c.silencedBytes
        << ",\"data_frames\":" << f.dataFrames << ",\"data_wire_bytes\":" << f.dataWireBytes
        << ",\"data_payload_bytes\":" << f.dataPayloadBytes
        << ",\"empty_data_frames\":" << f.emptyDataFrames << ",\"ack_frames\":" << f.ackFrames
        << ",\"ack_wire_bytes\":" << f.ackWireBytes << ",\"nak_frames\":" << f.nakFrames
        << ",\"nak_wire_bytes\":" << f.nakWireBytes << ",\"other_frames\":" << f.otherFrames << '}';
}

}  // namespace

std::unique_ptr<TLineSimulator> TLineSimulator::Create(const TLineSimOptions& options,
                                                       std::string& error) {
    TEnd agent;
    agent.link = options.agentLink;
    TEnd terminal;
    terminal.link = options.terminalLink;
    if (!MakeLinkedPseudoTerminal(agent.link, agent.pty, error)) {
        return nullptr;
    }
    if (!MakeLinkedPseudoTerminal(terminal.link, terminal.pty, error)) {
        unlink(agent.link.c_str());
        return nullptr;
    }
    TDescriptor control;
    if (!options.controlPath.empty()) {
        unlink(options.controlPath.c_str());
        // Opened for writing too, so that the FIFO never reports its end
        // when a writer goes.
        if (mkfifo(options.controlPath.c_str(), 0600) != 0 ||
            !(control = TDescriptor(open(options.controlPath.c_str(), O_RDWR | O_NONBLOCK)))
                 .IsOpen()) {
            error =
                "cannot make the control FIFO " + options.controlPath + ": " + std::strerror(errno);
            unlink(agent.link.c_str());
            unlink(terminal.link.c_str());
            return nullptr;
        }
    }
    return std::unique_ptr<TLineSimulator>(
        new TLineSimulator(options, std::move(agent), std::move(terminal), std::move(control)));
}

TLineSimulator::TLineSimulator(const TLineSimOptions& options, TEnd agent, TEnd terminal,
                               TDescriptor control)
    : m_agent(std::move(agent)),
      m_terminal(std::move(terminal)),
      m_control(std::move(control)),
      m_controlPath(m_control.IsOpen() ? options.controlPath : ""),
      m_toAgent(options.rate, options.seed + kToAgentSeedOffset),
      m_toTerminal(options.rate, options.seed) {
    m_toAgent.SetFaults(options.ber, options.drop);
    m_toTerminal.SetFaults(options.ber, options.drop);
}

TLineSimulator::~TLineSimulator() {
    unlink(m_agent.link.c_str());
    unlink(m_terminal.link.c_str());
    if (!m_controlPath.empty()) {
        unlink(m_controlPath.c_str());
    }
}

bool TLineSimulator::TakesInput(const TLineDirection& leaving, TLineClock::time_point now) const {
    return leaving.InFlight(now) < kTransmitBuffer && leaving.Backlog() < kReceiveBacklog;
}

void TLineSimulator::Step(std::chrono::milliseconds maxWait) {
    TLineClock::time_point now = TLineClock::now();
    // Whatever has arrived by now goes out before the wait, which lasts
    // only until the next byte arrives.
    DeliverTo(m_agent, m_toAgent, now);
    DeliverTo(m_terminal, m_toTerminal, now);
    TLineClock::time_point wakeUp = now + maxWait;
    for (const TLineDirection* direction : {&m_toAgent, &m_toTerminal}) {
        if (const auto arrival = direction->NextArrival(now)) {
            wakeUp = std::min(wakeUp, *arrival);
        }
    }
    const auto events = [](const TEnd& end, bool takesInput) {
        return static_cast<short>((takesInput ? POLLIN : 0) | (end.blocked ? POLLOUT : 0));
    };
    std::array<pollfd, 3> fds{{
        {m_agent.pty.master.Get(), events(m_agent, TakesInput(m_toTerminal, now)), 0},
        {m_terminal.pty.master.Get(), events(m_terminal, TakesInput(m_toAgent, now)), 0},
        {m_control.Get(), POLLIN, 0},
    }};
    const auto wait = std::chrono::duration_cast<std::chrono::nanoseconds>(wakeUp - now);
    const timespec timeout{
        .tv_sec = static_cast<time_t>(std::max<long long>(wait.count(), 0) / 1000000000),
        .tv_nsec = static_cast<long>(std::max<long long>(wait.count(), 0) % 1000000000)};
    const nfds_t count = m_control.IsOpen() ? 3 : 2;
    if (ppoll(fds.data(), count, &timeout, nullptr) < 0 && errno != EINTR) {
        return;
    }
    now = TLineClock::now();
    if (fds[0].revents & POLLIN) {
        ReadFrom(m_agent, m_toTerminal, now);
    }
    if (fds[1].revents & POLLIN) {
        ReadFrom(m_terminal, m_toAgent, now);
    }
    DeliverTo(m_agent, m_toAgent, now);
    DeliverTo(m_terminal, m_toTerminal, now);
    if (count == 3 && (fds[2].revents & POLLIN)) {
        ReadCommands();
    }
}

void TLineSimulator::ReadFrom(TEnd& end, TLineDirection& leaving, TLineClock::time_point now) {
    std::array<std::uint8_t, kChunk> buffer;
    const ssize_t count = read(end.pty.master.Get(), buffer.data(), buffer.size());
    if (count > 0) {
        leaving.Accept(buffer.data(), static_cast<std::size_t>(count), now);
    }
}

void TLineSimulator::DeliverTo(TEnd& end, TLineDirection& arriving, TLineClock::time_point now) {
    std::array<std::uint8_t, kChunk> buffer;
    std::size_t visible = 0;
    end.blocked = false;
    while ((visible = arriving.PeekVisible(buffer.data(), buffer.size(), now)) > 0) {
        const ssize_t written = write(end.pty.master.Get(), buffer.data(), visible);
        if (written <= 0) {
            end.blocked = written < 0 && (errno == EAGAIN || errno == EWOULDBLOCK);
            return;
        }
        arriving.Consume(static_cast<std::size_t>(written));
    }
}

void TLineSimulator::ReadCommands() {
    char buffer[512];
    ssize_t count = 0;
    while ((count = read(m_control.Get(), buffer, sizeof buffer)) > 0) {
        m_pendingCommand.append(buffer, static_cast<std::size_t>(count));
    }
    std::size_t lineEnd = 0;
    while ((lineEnd = m_pendingCommand.find('\n')) != std::string::npos) {
        const std::string line = m_pendingCommand.substr(0, lineEnd);
        m_pendingCommand.erase(0, lineEnd + 1);
        std::string error;
        if (!line.empty() && !Command(line, error)) {
            std::fprintf(stderr, "line-sim: %s\n", error.c_str());
        }
    }
}

bool TLineSimulator::Command(const std::string& line, std::string& error) {
    std::istringstream words(line);
    std::string verb;
    words >> verb;
    const TLineClock::time_point now = TLineClock::now();
    if (verb == "garbage") {
        std::size_t length = 0;
        std::string side = "both";
        if (!(words >> length)) {
            error = "garbage needs a byte count";
            return false;
        }
        words >> side;
        if (side != "agent" && side != "terminal" && side != "both") {
            error = "garbage goes toward agent, terminal or both, not " + side;
            return false;
        }
        if (side != "terminal") {
            m_toAgent.InjectGarbage(length, now);
        }
        if (side != "agent") {
            m_toTerminal.InjectGarbage(length, now);
        }
        return true;
    }
    if (verb == "silence") {
        long milliseconds = 0;
        if (!(words >> milliseconds) || milliseconds < 0) {
            error = "silence needs a duration in milliseconds";
            return false;
        }
        m_toAgent.SilenceUntil(now + std::chrono::milliseconds(milliseconds));
        m_toTerminal.SilenceUntil(now + std::chrono::milliseconds(milliseconds));
        return true;
    }
    if (verb == "replace") {
        return ReplaceAgentDevice(error);
    }
    if (verb == "faults") {
        double ber = -1;
        double drop = -1;
        if (!(words >> ber >> drop) || ber < 0 || ber > 1 || drop < 0 || drop > 1) {
            error = "faults needs a bit-error rate and a drop rate between 0 and 1";
            return false;
        }
        m_toAgent.SetFaults(ber, drop);
        m_toTerminal.SetFaults(ber, drop);
        return true;
    }
    if (verb == "stats") {
        std::string path;
        if (!(words >> path)) {
            error = "stats needs a path";
            return false;
        }
        return WriteStats(path, error);
    }
    error = "unknown command: " + line;
    return false;
}

bool TLineSimulator::ReplaceAgentDevice(std::string& error) {
    // Closing the master hangs up whoever has the old device open, as an
    // unplugged adapter does; the new device is another pseudo-terminal.
    m_agent.pty = TLinkedPseudoTerminal();
    m_agent.blocked = false;
    return MakeLinkedPseudoTerminal(m_agent.link, m_agent.pty, error);
}

std::string TLineSimulator::StatsJson() const {
    std::ostringstream out;
    out << '{';
    AddCounts(out, "to_agent", m_toAgent);
    out << ',';
    AddCounts(out, "to_terminal", m_toTerminal);
    out << '}';
    return out.str();
}

bool TLineSimulator::WriteStats(const std::string& path, std::string& error) const {
    // A regular file is written aside and renamed, so that a reader never
    // sees half of it.
    const std::unique_ptr<TOutputFile> file = TOutputFile::Open(path, error);
    return file && file->Write(StatsJson() + "\n", error) && file->Finish(error);
}
