#include "pinpad-sim/SimOptions.h"

#include <algorithm>
#include <cctype>
#include <cstdint>
#include <vector>

#include "common/WholeNumber.h"
#include "http/Url.h"

namespace {

// Whole decimal number in [minimum, maximum], or nothing.
std::optional<unsigned long> ParseNumber(const std::string& text, unsigned long minimum,
                                         unsigned long maximum) {
    std::uint64_t value = 0;
    if (!ParseWholeNumber(text, value) || value < minimum || value > maximum) {
        return std::nullopt;
    }
    return static_cast<unsigned long>(value);
}

bool IsHttp(const std::string& protocol) {
    return protocol.size() == 4 &&
           std::equal(protocol.begin(), protocol.end(), "http", [](char given, char wanted) {
               return std::tolower(static_cast<unsigned char>(given)) == wanted;
           });
}

const TOptionSpec kOptions[] = {
    {"--line", "", true},     {"--pty", "", true},        {"--wait", "", true},
    {"--output", "-o", true}, {"--verbose", "-v", false},
};

}  // namespace

std::optional<TSimOptions> ParseSimOptions(const TArguments& args, std::string& error) {
    TSimOptions options;
    for (const TGivenOption& option : args.options) {
        if (option.name == "--verbose") {
            options.verbose = true;
        } else if (option.name == "--line") {
            options.linePath = option.value;
        } else if (option.name == "--pty") {
            options.ptyLink = option.value;
        } else if (option.name == "--output") {
            options.outputPath = option.value;
        } else if (auto seconds = ParseNumber(option.value, 1, 3600)) {
            options.waitSeconds = static_cast<unsigned>(*seconds);
        } else {
            error = "--wait takes a number of seconds from 1 to 3600, not \"" + option.value + "\"";
            return std::nullopt;
        }
    }

    const std::vector<std::string>& words = args.operands;
    if (options.linePath.empty() == options.ptyLink.empty()) {
        error = "give exactly one of --line DEVICE and --pty LINK";
        return std::nullopt;
    }
    if (words.size() != 2 || (words[0] != "connect" && words[0] != "listen" && words[0] != "get")) {
        error = "expected the command connect HOST:PORT, listen PORT or get URL";
        return std::nullopt;
    }
    if (!options.outputPath.empty() && words[0] != "get") {
        error = "-o FILE goes with get URL only";
        return std::nullopt;
    }

    if (words[0] == "get") {
        options.command = TSimOptions::TCommand::Get;
        options.url = words[1];
        // Only http travels through the tunnel: anything else is refused
        // before the line is opened.
        const TUrl url(options.url, 80);
        if (!IsHttp(url.GetProtocol()) || !url.IsValidSymbolicAddress()) {
            error = "get takes a URL http://HOST[:PORT]/DOCUMENT, not \"" + options.url + "\"";
            return std::nullopt;
        }
    } else if (words[0] == "connect") {
        options.command = TSimOptions::TCommand::Connect;
        std::size_t colon = words[1].rfind(':');
        std::optional<unsigned short> port;
        if (colon != std::string::npos && colon > 0) {
            port = ParsePortNumber(words[1].substr(colon + 1));
        }
        if (!port) {
            error = "connect needs HOST:PORT with a port from 1 to 65535, not \"" + words[1] + "\"";
            return std::nullopt;
        }
        options.host = words[1].substr(0, colon);
        options.port = *port;
    } else {
        options.command = TSimOptions::TCommand::Listen;
        std::optional<unsigned short> port = ParsePortNumber(words[1]);
        // Lower ports are the terminal's own: the tunnel answers them locally and
        // never asks the agent.
        if (!port || *port < 4096) {
            error = "listen needs a port from 4096 to 65535, not \"" + words[1] + "\"";
            return std::nullopt;
        }
        options.port = *port;
    }
    return options;
}

const TToolSyntax kSimSyntax{
    "pinpad-sim", R"(Usage: pinpad-sim (--line DEVICE | --pty LINK) [-v] [--wait SECONDS] COMMAND

Plays the terminal's half of the serial tunnel, so that an agent can be tried
without a PIN pad.

Line (exactly one):
  --line DEVICE      the serial device the agent's line is plugged into,
                     e.g. /dev/ttyUSB0 (set to 115200 baud, 8N1)
  --pty LINK         make a pseudo-terminal pair and create the symbolic link
                     LINK to the agent's side; an agent configured for port 9
                     opens the file "ttyS99" in its working directory

Commands:
  connect HOST:PORT  open a TCP connection from the agent's machine to
                     HOST:PORT and relay standard input and output over it;
                     a HOST that is not a dotted address means the agent's
                     machine itself (127.0.0.1)
  listen PORT        have the agent accept one TCP connection on PORT (4096
                     or above) and relay standard input and output over it
  get URL [-o FILE]  fetch URL (http://HOST[:PORT]/DOCUMENT, port 80 when
                     none is given) with HTTP GET from the agent's machine and
                     write the body into FILE, or onto standard output

Options:
  -o, --output FILE  get: where the body goes ("-": standard output)
  --wait SECONDS     how long to wait for the agent to answer on the line,
                     and for a call to be answered (default 30)
  -v, --verbose      report the link, the connection and the bytes relayed
                     on standard error
  -h, --help         show this text
  --version          show the version

get writes FILE itself when it is not a regular file (a device, a FIFO, or
standard output as "-"), and the target of a symbolic link. A regular file
is replaced only by a whole document: the body goes into a temporary file
beside it first. The directory of FILE must exist.

Exit status: 0 relayed and closed, 1 line unusable, 2 bad arguments,
3 no agent answered on the line, 4 call or listen refused by the agent,
5 connection closed by the agent before any data arrived, 6 the HTTP
exchange of get failed, 7 the output of get cannot be written, 130 or 143
ended by SIGINT or SIGTERM. Errors say what happened, with the error code
after it.
)",
    kOptions};
