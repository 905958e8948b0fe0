#include "tunnel-load/LoadOptions.h"

#include <algorithm>
#include <array>
#include <limits>

#include "common/WholeNumber.h"

namespace {

// Tests of a terminal run; line-check needs no agent, the others do.
constexpr std::array<const char*, 6> kTests = {"download", "upload", "echo",
                                               "calls",    "probe",  "line-check"};

// A count with an optional K or M suffix (KiB, MiB).
bool ParseAmount(const std::string& text, std::uint64_t& amount) {
    std::string digits = text;
    std::uint64_t unit = 1;
    if (!digits.empty() && (digits.back() == 'K' || digits.back() == 'M')) {
        unit = digits.back() == 'K' ? 1024 : 1024 * 1024;
        digits.pop_back();
    }
    if (!ParseWholeNumber(digits, amount) ||
        amount > std::numeric_limits<std::uint64_t>::max() / unit) {
        return false;
    }
    amount *= unit;
    return true;
}

template <class Number>
bool ParseSmall(const std::string& text, Number& value) {
    std::uint64_t amount = 0;
    if (!ParseAmount(text, amount) || amount > std::numeric_limits<Number>::max()) {
        return false;
    }
    value = static_cast<Number>(amount);
    return true;
}

const TOptionSpec kOptions[] = {
    {"--line", "", true},  {"--port", "", true},     {"--wait", "", true},
    {"--stall", "", true}, {"--terminal", "", true}, {"--pause", "", true},
};

bool IsTest(const std::string& word) {
    return std::find(kTests.begin(), kTests.end(), word) != kTests.end();
}

// Whether the test's amount is a count of round trips, calls or seconds,
// which the tests take as unsigned, rather than of bytes.
bool IsCount(const std::string& test) {
    return test == "echo" || test == "calls" || test == "probe";
}

// Reads the operands into the mode and the tests.
bool ParseOperands(const std::vector<std::string>& operands, TLoadOptions& options,
                   std::string& error) {
    if (operands.empty()) {
        error = "nothing to do: give serve, line-echo or tests";
        return false;
    }
    const std::string& first = operands.front();
    if (first == "serve" || first == "line-echo") {
        if (operands.size() > 1) {
            error = "unexpected argument " + operands[1];
            return false;
        }
        options.mode =
            first == "serve" ? TLoadOptions::TMode::Serve : TLoadOptions::TMode::LineEcho;
        return true;
    }
    for (std::size_t i = 0; i < operands.size(); i += 2) {
        const std::string& name = operands[i];
        if (!IsTest(name)) {
            error = "unknown test " + name;
            return false;
        }
        if (i + 1 == operands.size()) {
            error = name + " needs an amount";
            return false;
        }
        TLoadOptions::TTest test{name, 0};
        if (!ParseAmount(operands[i + 1], test.amount) ||
            (IsCount(name) && test.amount > std::numeric_limits<unsigned>::max())) {
            error = "bad amount for " + name + ": " + operands[i + 1];
            return false;
        }
        options.tests.push_back(test);
    }
    options.mode = TLoadOptions::TMode::Terminal;
    return true;
}

}  // namespace

std::optional<TLoadOptions> ParseLoadOptions(const TArguments& args, std::string& error) {
    TLoadOptions options;
    if (!ParseOperands(args.operands, options, error)) {
        return std::nullopt;
    }
    for (const TGivenOption& option : args.options) {
        const std::string& value = option.value;
        bool good = true;
        if (option.name == "--line") {
            options.linePath = value;
        } else if (option.name == "--port") {
            good = ParseSmall(value, options.port);
        } else if (option.name == "--wait") {
            good = ParseSmall(value, options.waitSeconds);
        } else if (option.name == "--pause") {
            good = ParseSmall(value, options.pauseMs);
        } else if (option.name == "--terminal") {
            good = value == "model" || value == "ours";
            options.modelTerminal = value == "model";
        } else {
            good = ParseSmall(value, options.stallSeconds) && options.stallSeconds > 0;
        }
        if (!good) {
            error = "bad value for " + std::string(option.name) + ": " + value;
            return std::nullopt;
        }
    }
    if (options.mode != TLoadOptions::TMode::Serve && options.linePath.empty()) {
        error = "--line is needed";
        return std::nullopt;
    }
    const bool needsServer =
        std::any_of(options.tests.begin(), options.tests.end(),
                    [](const auto& test) { return test.name != "line-check"; });
    if (needsServer && options.port == 0) {
        error = "--port of the data server is needed";
        return std::nullopt;
    }
    return options;
}

const TToolSyntax kLoadSyntax{
    "tunnel-load",
    "usage: tunnel-load serve [--port N]\n"
    "       tunnel-load --line DEVICE --port N [--wait S] [--stall S]\n"
    "                   [--terminal ours|model] [--pause MS] TEST AMOUNT...\n"
    "       tunnel-load --line DEVICE line-echo\n"
    "\n"
    "Load tests of the tunnel with checked data. serve runs the data server on\n"
    "127.0.0.1 (it prints \"port N\" once it listens); the terminal run plays the\n"
    "terminal on DEVICE and reaches that server through the agent. Tests, run\n"
    "in order, each reported as one JSON line:\n"
    "  download BYTES   checked data from the server\n"
    "  upload BYTES     checked data to the server\n"
    "  echo COUNT       round trips of single bytes\n"
    "  calls COUNT      calls closed as soon as they connect (set-up times)\n"
    "  probe SECONDS    calls and a round trip until one works\n"
    "  line-check BYTES a raw echo through the line, no agent (the far end\n"
    "                   runs line-echo)\n"
    "Amounts take a K or M suffix (KiB, MiB). --wait: seconds for the agent to\n"
    "answer (30); --stall: seconds without progress that fail a test (20);\n"
    "--terminal: the terminal's half of the tunnel, ours (the default) or the\n"
    "model of the terminal as the field runs it, without our measures;\n"
    "--pause: once a third of each transfer has moved, the terminal makes no\n"
    "call into its tunnel for MS milliseconds; -h, --help: this text;\n"
    "--version: the version.\n"
    "Exit status 0 when every test completed (or serve and line-echo were\n"
    "stopped), 1 when a test failed or the line or port could not be used,\n"
    "2 for wrong arguments.\n",
    kOptions};
