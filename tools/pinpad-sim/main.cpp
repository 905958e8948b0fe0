// pinpad-sim: plays a PIN pad on a serial line or a pseudo-terminal, so that
// an agent can be tried without one. It opens one tunnelled TCP connection
// through the agent and relays standard input and output over it.

#include <arpa/inet.h>
#include <unistd.h>

#include <chrono>
#include <memory>
#include <optional>
#include <string>
#include <variant>

#include "base/ErrorCodes.h"
#include "common/CommandLine.h"
#include "common/OutputFile.h"
#include "common/SimLine.h"
#include "pinpad-sim/ErrorText.h"
#include "pinpad-sim/Relay.h"
#include "pinpad-sim/SimOptions.h"
#include "pinpad-sim/TunnelHttpClient.h"
#include "platform/NetworkInterface.h"
#include "platform/linux/StopSignals.h"
#include "tunnel/SerialNetworkInterface.h"

namespace {

class TStopwatch {
  public:
    long long Milliseconds() const {
        return std::chrono::duration_cast<std::chrono::milliseconds>(
                   std::chrono::steady_clock::now() - m_start)
            .count();
    }
    void Restart() { m_start = std::chrono::steady_clock::now(); }

  private:
    std::chrono::steady_clock::time_point m_start = std::chrono::steady_clock::now();
};

// A failure that a stop signal caused (an interrupted open, a cut exchange)
// is the stop's, and says nothing.
int Fail(int status, const std::string& message) {
    if (StopRequested()) {
        return StopStatus();
    }
    return ToolFailure(kSimSyntax.program, status, message);
}

// Dotted text of an address whose first octet is its most significant byte.
std::string DottedAddress(unsigned long address) {
    in_addr networkOrder{htonl(static_cast<std::uint32_t>(address))};
    return inet_ntoa(networkOrder);
}

// The peer of an accepted connection: the agent reports the socket's address
// with its octets in network order, lowest byte first.
std::string DottedPeer(unsigned long address) {
    in_addr networkOrder{static_cast<std::uint32_t>(address)};
    return inet_ntoa(networkOrder);
}

// A dotted address as it is, any other name as the tunnel resolves it.
unsigned long ResolveHost(TSerialNetworkInterface& tunnel, const std::string& host) {
    in_addr dotted{};
    if (inet_pton(AF_INET, host.c_str(), &dotted) == 1) {
        return ntohl(dotted.s_addr);
    }
    unsigned long address = 0;
    // A name that does not resolve leaves the address 0, which the caller reports.
    static_cast<void>(tunnel.ResolveAddressUsingDNS(host.c_str(), &address));
    return address;
}

// One run of the simulator: the line, the link to the agent, one tunnelled
// connection and the relay over it. Each step returns an exit status when the
// run ends there.
class TSimulation {
  public:
    explicit TSimulation(const TSimOptions& options)
        : m_options(options),
          m_calling(options.command == TSimOptions::TCommand::Connect),
          m_lineName(options.linePath.empty() ? options.ptyLink : options.linePath) {}

    int Run() {
        std::optional<int> end;
        if (m_options.command == TSimOptions::TCommand::Get) {
            end = OpenOutput();
        }
        if (!end) {
            end = OpenLine();
        }
        if (!end) {
            end = ReachAgent();
        }
        if (!end && m_options.command == TSimOptions::TCommand::Get) {
            end = FetchDocument();
        }
        if (!end) {
            end = OpenConnection();
        }
        if (!end) {
            end = AwaitAnswer();
        }
        if (!end) {
            end = RelayData();
        }
        // A stop signal cuts every step short, whatever that step made of it.
        return StopRequested() ? StopStatus() : *end;
    }

  private:
    // get: the output is opened before the line, so that a wrong path is
    // told at once.
    std::optional<int> OpenOutput() {
        std::string error;
        m_output = TOutputFile::Open(m_options.outputPath, error);
        if (!m_output) {
            return Fail(SIM_EXIT_OUTPUT_UNUSABLE, error);
        }
        return std::nullopt;
    }

    std::optional<int> OpenLine() {
        std::string error;
        m_line = m_options.linePath.empty() ? TSimLine::MakePseudoTerminal(m_options.ptyLink, error)
                                            : TSimLine::OpenDevice(m_options.linePath, error);
        if (!m_line) {
            return Fail(SIM_EXIT_LINE_UNUSABLE, error);
        }
        m_line->StopWhen(StopRequested);
        return std::nullopt;
    }

    std::optional<int> ReachAgent() {
        Report("waiting for an agent on " + m_lineName);
        m_clock.Restart();
        if (!m_line->WaitForAgent(m_options.waitSeconds, StopRequested)) {
            return Fail(SIM_EXIT_NO_LINK, "no agent answered on " + m_lineName + " within " +
                                              std::to_string(m_options.waitSeconds) + " s");
        }
        Report("link up after " + Elapsed());
        return std::nullopt;
    }

    std::optional<int> OpenConnection() {
        TSerialNetworkInterface& tunnel = m_line->Tunnel();
        IConnection* opened = nullptr;
        Error result;
        if (m_calling) {
            unsigned long address = ResolveHost(tunnel, m_options.host);
            m_target = DottedAddress(address) + ":" + std::to_string(m_options.port);
            result = tunnel.Call(
                TNetworkHostParam(address, m_options.port, false, nullptr, nullptr), &opened);
        } else {
            m_target = "port " + std::to_string(m_options.port) + " of the agent's machine";
            result = tunnel.Listen(m_options.port, &opened);
            Report("listening on " + m_target);
        }
        m_connection.reset(opened);
        if (result.Code() != 0 || !m_connection) {
            return Fail(SIM_EXIT_NO_LINK, "the link to the agent broke: " + ErrorText(result));
        }
        return std::nullopt;
    }

    // Waits for the agent's answer: a call is bounded by --wait, a listen
    // waits for its peer as long as it takes.
    std::optional<int> AwaitAnswer() {
        m_clock.Restart();
        CONNSTATE state = m_connection->GetState();
        while (state == CONNSTATE_CONNECTING && !StopRequested() &&
               (!m_calling || m_clock.Milliseconds() < m_options.waitSeconds * 1000LL)) {
            state = m_connection->GetState();
        }
        if (state == CONNSTATE_CONNECTING) {
            return Fail(SIM_EXIT_NO_LINK, "the agent did not answer the call to " + m_target +
                                              " within " + std::to_string(m_options.waitSeconds) +
                                              " s");
        }
        if (state != CONNSTATE_CONNECTED) {
            unsigned long code = m_connection->GetLastError().Code();
            // A refused call carries its error code. A connect that failed on the
            // agent's machine is reported by a close alone, which leaves
            // kErrorNotConnected; a call result 0 followed by the close leaves 0.
            if (code != 0 && code != kErrorNotConnected) {
                return Fail(SIM_EXIT_REFUSED, "the agent refused the connection to " + m_target +
                                                  ": " + ErrorText(m_connection->GetLastError()));
            }
            // The call result and the close may come in one step, or in two
            // with the relay seeing the close: both are told alike.
            if (code == 0) {
                return ClosedBeforeAnyData();
            }
            return Fail(SIM_EXIT_CLOSED_BY_AGENT,
                        "the agent closed the connection to " + m_target + " before it was made");
        }
        Report(m_calling ? "connected to " + m_target + " after " + Elapsed()
                         : "peer " + DottedPeer(m_connection->GetPeerAddress()) + " connected on " +
                               m_target);
        return std::nullopt;
    }

    // get: one HTTP GET through the agent with our own client.
    int FetchDocument() {
        m_clock.Restart();
        std::string statusLine;
        std::string error;
        const Error result = FetchThroughTunnel(m_line->Tunnel(), m_options.url, StopRequested,
                                                *m_output, statusLine, error);
        if (StopRequested()) {
            return StopStatus();
        }
        if (!error.empty()) {
            return Fail(SIM_EXIT_OUTPUT_UNUSABLE, error);
        }
        if (result) {
            return Fail(SIM_EXIT_HTTP_FAILED,
                        "get " + m_options.url + " failed: " + ErrorText(result, statusLine));
        }
        if (!m_output->Finish(error)) {
            return Fail(SIM_EXIT_OUTPUT_UNUSABLE, error);
        }
        Report("fetched " + m_options.url + " in " + Elapsed());
        return SIM_EXIT_OK;
    }

    int RelayData() {
        m_clock.Restart();
        TRelayResult relay = Relay(*m_connection, STDIN_FILENO, STDOUT_FILENO, StopRequested);
        const char* how = relay.end == TRelayEnd::ClosedByPeer   ? "closed by the agent"
                          : relay.end == TRelayEnd::OutputClosed ? "output closed"
                                                                 : "stopped";
        Report(std::string(how) + " after " + Elapsed() + ": " + std::to_string(relay.sent) +
               " bytes sent, " + std::to_string(relay.received) + " bytes received");
        if (relay.end == TRelayEnd::ClosedByPeer && relay.received == 0) {
            return ClosedBeforeAnyData();
        }
        return SIM_EXIT_OK;
    }

    // The peer took the connection and closed it without sending anything.
    int ClosedBeforeAnyData() const {
        return Fail(SIM_EXIT_CLOSED_BY_AGENT,
                    "the agent closed the connection to " + m_target + " before any data arrived");
    }

    void Report(const std::string& message) const {
        if (m_options.verbose) {
            ToolMessage(kSimSyntax.program, message);
        }
    }

    std::string Elapsed() const { return std::to_string(m_clock.Milliseconds()) + " ms"; }

    const TSimOptions& m_options;
    const bool m_calling;
    const std::string m_lineName;
    std::string m_target;
    TStopwatch m_clock;
    std::unique_ptr<TOutputFile> m_output;
    // Declared after the line, so that it closes while the tunnel is still there.
    std::unique_ptr<TSimLine> m_line;
    std::unique_ptr<IConnection> m_connection;
};

}  // namespace

int main(int argc, char** argv) {
    const auto read = ReadCommandLine<TSimOptions>(kSimSyntax, argc, argv, ParseSimOptions);
    if (const int* status = std::get_if<int>(&read)) {
        return *status;
    }
    CatchStopSignals();
    return TSimulation(std::get<TSimOptions>(read)).Run();
}
