// pinpad-sim: plays a PIN pad on a serial line or a pseudo-terminal, so that
// an agent can be tried without one. It opens one tunnelled TCP connection
// through the agent and relays standard input and output over it.

#include <arpa/inet.h>
#include <unistd.h>

#include <chrono>
#include <csignal>
#include <cstdio>
#include <memory>
#include <string>
#include <vector>

#include "pinpad-sim/Relay.h"
#include "pinpad-sim/SimLine.h"
#include "pinpad-sim/SimOptions.h"
#include "pinpad-sim/TunnelHttpClient.h"
#include "platform/NetworkInterface.h"
#include "tunnel/SerialNetworkInterface.h"

namespace {

// The code a tunnelled connection reports while no call result has failed it.
constexpr unsigned long cNoCallResult = 20027;

volatile std::sig_atomic_t stopRequested = 0;

void RequestStop(int) {
    stopRequested = 1;
}

bool StopRequested() {
    return stopRequested != 0;
}

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

int Fail(int status, const std::string& message) {
    std::fprintf(stderr, "pinpad-sim: %s\n", message.c_str());
    return status;
}

void Report(const TSimOptions& options, const std::string& message) {
    if (options.verbose) {
        std::fprintf(stderr, "pinpad-sim: %s\n", message.c_str());
    }
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
    tunnel.ResolveAddressUsingDNS(host.c_str(), &address);
    return address;
}

// get: one HTTP GET through the agent with our own client.
int Fetch(const TSimOptions& options, TSerialNetworkInterface& tunnel) {
    TStopwatch clock;
    const Error result = FetchThroughTunnel(tunnel, options.url, options.outputPath, STDOUT_FILENO);
    if (result) {
        return Fail(SIM_EXIT_HTTP_FAILED,
                    "get " + options.url + " failed: error " + std::to_string(result.Code()));
    }
    Report(options,
           "fetched " + options.url + " in " + std::to_string(clock.Milliseconds()) + " ms");
    return SIM_EXIT_OK;
}

int Simulate(const TSimOptions& options) {
    std::string error;
    std::unique_ptr<TSimLine> line = options.linePath.empty()
                                         ? TSimLine::MakePseudoTerminal(options.ptyLink, error)
                                         : TSimLine::OpenDevice(options.linePath, error);
    if (!line) {
        return Fail(SIM_EXIT_LINE_UNUSABLE, error);
    }
    const std::string lineName = options.linePath.empty() ? options.ptyLink : options.linePath;
    Report(options, "waiting for an agent on " + lineName);

    TStopwatch clock;
    if (!line->WaitForAgent(options.waitSeconds, StopRequested)) {
        return Fail(SIM_EXIT_NO_LINK, "no agent answered on " + lineName + " within " +
                                          std::to_string(options.waitSeconds) + " s");
    }
    Report(options, "link up after " + std::to_string(clock.Milliseconds()) + " ms");

    TSerialNetworkInterface& tunnel = line->Tunnel();
    if (options.command == TSimOptions::TCommand::Get) {
        return Fetch(options, tunnel);
    }
    const bool calling = options.command == TSimOptions::TCommand::Connect;
    std::string target;
    IConnection* opened = nullptr;
    Error result;
    if (calling) {
        unsigned long address = ResolveHost(tunnel, options.host);
        target = DottedAddress(address) + ":" + std::to_string(options.port);
        result =
            tunnel.Call(TNetworkHostParam(address, options.port, false, nullptr, nullptr), &opened);
    } else {
        target = "port " + std::to_string(options.port) + " of the agent's machine";
        result = tunnel.Listen(options.port, &opened);
        Report(options, "listening on " + target);
    }
    std::unique_ptr<IConnection> connection(opened);
    if (result.Code() != 0 || !connection) {
        return Fail(SIM_EXIT_NO_LINK,
                    "the link to the agent broke (error " + std::to_string(result.Code()) + ")");
    }

    clock.Restart();
    CONNSTATE state = connection->GetState();
    while (state == CONNSTATE_CONNECTING && !StopRequested() &&
           (!calling || clock.Milliseconds() < options.waitSeconds * 1000LL)) {
        state = connection->GetState();
    }
    if (state == CONNSTATE_CONNECTING) {
        return StopRequested() ? SIM_EXIT_OK
                               : Fail(SIM_EXIT_NO_LINK,
                                      "the agent did not answer the call to " + target +
                                          " within " + std::to_string(options.waitSeconds) + " s");
    }
    if (state != CONNSTATE_CONNECTED) {
        unsigned long code = connection->GetLastError().Code();
        // A call that succeeded and closed at once (a refused connect on the
        // agent's machine) leaves code 0; no call result at all leaves cNoCallResult.
        if (code != 0 && code != cNoCallResult) {
            return Fail(SIM_EXIT_REFUSED, "the agent refused the connection to " + target +
                                              ": error " + std::to_string(code));
        }
        return Fail(SIM_EXIT_CLOSED_BY_AGENT,
                    "the agent closed the connection to " + target + " before it was made");
    }
    Report(options,
           calling
               ? "connected to " + target + " after " + std::to_string(clock.Milliseconds()) + " ms"
               : "peer " + DottedPeer(connection->GetPeerAddress()) + " connected on " + target);

    clock.Restart();
    TRelayResult relay = Relay(*connection, STDIN_FILENO, STDOUT_FILENO, StopRequested);
    const char* how = relay.end == TRelayEnd::ClosedByPeer   ? "closed by the agent"
                      : relay.end == TRelayEnd::OutputClosed ? "output closed"
                                                             : "stopped";
    Report(options, std::string(how) + " after " + std::to_string(clock.Milliseconds()) +
                        " ms: " + std::to_string(relay.sent) + " bytes sent, " +
                        std::to_string(relay.received) + " bytes received");
    if (relay.end == TRelayEnd::ClosedByPeer && relay.received == 0) {
        // What the agent shows when a connect is refused on its machine.
        return Fail(SIM_EXIT_CLOSED_BY_AGENT,
                    "the agent closed the connection to " + target + " before any data arrived");
    }
    return SIM_EXIT_OK;
}

}  // namespace

int main(int argc, char** argv) {
    std::string error;
    std::optional<TSimOptions> options =
        ParseSimOptions(std::vector<std::string>(argv + 1, argv + argc), error);
    if (!options) {
        return Fail(SIM_EXIT_BAD_ARGUMENTS, error + " (see pinpad-sim --help)");
    }
    if (options->command == TSimOptions::TCommand::Help) {
        std::fputs(SimUsage(), stdout);
        return SIM_EXIT_OK;
    }

    struct sigaction stop {};
    stop.sa_handler = RequestStop;
    sigaction(SIGINT, &stop, nullptr);
    sigaction(SIGTERM, &stop, nullptr);
    std::signal(SIGPIPE, SIG_IGN);
    return Simulate(*options);
}
