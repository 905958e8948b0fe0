#include "agent/CommandLine.h"

#include <algorithm>
#include <optional>

namespace {

// The value of "--name VALUE" or "--name=VALUE" at arguments[at], moving at past it; nothing
// when arguments[at] is not that option. A missing or empty value is an error, which says that
// the option needs what.
std::optional<std::string> OptionValue(const std::vector<std::string>& arguments, std::size_t& at,
                                       const std::string& name, std::string& error,
                                       const char* what = "a directory") {
    const std::string& argument = arguments[at];
    if (argument.starts_with(name + "=")) {
        ++at;
        std::string value = argument.substr(name.size() + 1);
        if (value.empty()) {
            error = name + " needs " + what;
        }
        return value;
    }
    if (argument != name) {
        return std::nullopt;
    }
    if (at + 1 >= arguments.size() || arguments[at + 1].empty()) {
        error = name + " needs " + what;
        at = arguments.size();
        return std::string();
    }
    at += 2;
    return arguments[at - 1];
}

// Whether name may label the metrics: printable ASCII without spaces, as the instance names of
// systemd's template units are.
bool IsInstanceName(const std::string& name) {
    return std::all_of(name.begin(), name.end(), [](char c) { return c > ' ' && c < 0x7f; });
}

// What the usage says after its synopsis.
constexpr const char* kDescription =
    "\n"
    "Lends the PC's network to a PIN pad on a serial port. The agent reads\n"
    "pinpad.ini (ComPort) once and agent.ini (Enabled, AllowCall, AllowListen,\n"
    "TrafficLogs, TrafficLogLimit) every 5 seconds, and writes a traffic log per\n"
    "connection. It runs until it is terminated and prints nothing but the\n"
    "problems a person must fix. Every few seconds, and soon after the link or a\n"
    "connection changes, it writes how it is doing to Status.json beside the\n"
    "traffic logs. One agent serves a settings and trace directory at a time.\n"
    "\n"
    "  --dir DIR     read pinpad.ini and agent.ini from DIR, and find a\n"
    "                relative serial device (ttyS99) there (default: the\n"
    "                directory of the agent's executable)\n"
    "  --trace DIR   write the traffic logs into DIR (default: Trace beside\n"
    "                the settings); it is created if missing\n"
    "  --capture FILE  record the serial line and the TCP connections into\n"
    "                FILE, a new pcapng file for Wireshark (- for standard\n"
    "                output: pinpad-agent --capture - | wireshark -k -i -)\n"
    "  --capture-size MiB  start a new file of the capture when one would grow\n"
    "                past MiB (0.0625 or more, such as 0.5 or 100):\n"
    "                FILE_00001.pcapng, FILE_00002.pcapng, ...\n"
    "  --capture-files N  keep the newest N files of the capture (default 2)\n"
    "  --metrics FILE\n"
    "                write Prometheus metrics into FILE (a *.prom file in the\n"
    "                node exporter's textfile directory) whenever Status.json\n"
    "                is written\n"
    "  --metrics-instance NAME\n"
    "                label every series with agent_instance=\"NAME\"\n"
    "  --status      print the Status.json of the agent of these directories\n"
    "                for a person, and end\n"
    "  --help        show this text\n"
    "  --version     show the agent's version\n"
    "\n"
    "Exit status: 0 when no serial port is configured (no pinpad.ini, or\n"
    "ComPort=0); 2 for a bad command line, a bad pinpad.ini, or directories\n"
    "another agent serves. With --status: 0 when the status was printed, 1\n"
    "when Status.json is missing or unreadable.\n";

}  // namespace

TCommandLine ParseCommandLine(const std::vector<std::string>& arguments) {
    TCommandLine line;
    for (const std::string& argument : arguments) {
        if (argument == "--help" || argument == "-h") {
            line.action = TCommandLine::Action::Help;
            return line;
        }
        if (argument == "--version") {
            line.action = TCommandLine::Action::Version;
            return line;
        }
    }
    for (std::size_t at = 0; at < arguments.size() && line.error.empty();) {
        if (auto dir = OptionValue(arguments, at, "--dir", line.error)) {
            line.settingsDirectory = *dir;
        } else if (auto trace = OptionValue(arguments, at, "--trace", line.error)) {
            line.traceDirectory = *trace;
        } else if (ParseCaptureOption(arguments, at, line.capture, line.error)) {
            continue;
        } else if (auto metrics = OptionValue(arguments, at, "--metrics", line.error, "a file")) {
            line.metricsFile = *metrics;
        } else if (auto instance =
                       OptionValue(arguments, at, "--metrics-instance", line.error, "a name")) {
            line.metricsInstance = *instance;
            if (line.error.empty() && !IsInstanceName(*instance)) {
                line.error = "--metrics-instance takes printable ASCII without spaces, not \"" +
                             *instance + "\"";
            }
        } else if (arguments[at] == "--status") {
            line.action = TCommandLine::Action::Status;
            ++at;
        } else {
            line.error = "unknown option " + arguments[at];
        }
    }
    if (line.error.empty() && !line.metricsInstance.empty() && line.metricsFile.empty()) {
        line.error = "--metrics-instance goes with --metrics FILE";
    }
    if (line.error.empty()) {
        line.error = CheckCaptureOptions(line.capture);
    }
    if (!line.error.empty()) {
        line.action = TCommandLine::Action::Fail;
    }
    return line;
}

std::string AgentUsage(const std::string& program) {
    const std::string indent(program.size() + 8, ' ');
    std::string text = "usage: " + program +
                       " [--dir DIR] [--trace DIR] [--metrics FILE [--metrics-instance NAME]]\n";
    text += indent + "[--capture FILE [--capture-size MiB [--capture-files N]]]\n";
    text += "       " + program + " --status [--dir DIR] [--trace DIR]\n";
    text += "       " + program + " --help | --version\n";
    return text + kDescription;
}
