#include "pinpad-sim/SimOptions.h"

#include <gtest/gtest.h>

#include "CommandWords.h"

namespace {

// The command line as main reads it: split by the shared parser, then
// taken by the simulator's own rules.
std::optional<TSimOptions> ParseSimOptions(const std::string& line, std::string& error) {
    const std::optional<TArguments> args = SplitArguments(kSimSyntax, CommandWords(line), error);
    return args ? ParseSimOptions(*args, error) : std::nullopt;
}

TEST(SimOptionsTest, AcceptedCommandLines) {
    using TCommand = TSimOptions::TCommand;
    struct Case {
        std::string line;
        TCommand command;
        std::string linePath, ptyLink, host;
        unsigned short port;
        unsigned waitSeconds;
        bool verbose;
    };
    const Case cases[] = {
        {"--pty demo/ttyS99 connect 127.0.0.1:8080", TCommand::Connect, "", "demo/ttyS99",
         "127.0.0.1", 8080, 30, false},
        {"-v --line /dev/ttyUSB0 --wait 5 connect localhost:1", TCommand::Connect, "/dev/ttyUSB0",
         "", "localhost", 1, 5, true},
        {"listen 65535 --verbose --pty l", TCommand::Listen, "", "l", "", 65535, 30, true},
        {"--pty l listen 4096", TCommand::Listen, "", "l", "", 4096, 30, false},
    };
    for (const Case& c : cases) {
        std::string error;
        std::optional<TSimOptions> options = ParseSimOptions(c.line, error);
        ASSERT_TRUE(options.has_value()) << c.line << ": " << error;
        EXPECT_EQ(options->command, c.command) << c.line;
        EXPECT_EQ(options->linePath, c.linePath) << c.line;
        EXPECT_EQ(options->ptyLink, c.ptyLink) << c.line;
        EXPECT_EQ(options->host, c.host) << c.line;
        EXPECT_EQ(options->port, c.port) << c.line;
        EXPECT_EQ(options->waitSeconds, c.waitSeconds) << c.line;
        EXPECT_EQ(options->verbose, c.verbose) << c.line;
    }
}

TEST(SimOptionsTest, RejectedCommandLinesSayWhy) {
    struct Case {
        std::string line;
        std::string reason;  // a piece of the error text
    };
    const Case cases[] = {
        {"", "exactly one of --line"},
        {"connect 127.0.0.1:80", "exactly one of --line"},
        {"--line a --pty b connect 127.0.0.1:80", "exactly one of --line"},
        {"--pty l", "expected the command"},
        {"--pty l send 127.0.0.1:80", "expected the command"},
        {"--pty l connect 127.0.0.1:80 extra", "expected the command"},
        {"--pty l connect 127.0.0.1", "HOST:PORT"},
        {"--pty l connect :80", "HOST:PORT"},
        {"--pty l connect 127.0.0.1:0", "HOST:PORT"},
        {"--pty l connect 127.0.0.1:65536", "HOST:PORT"},
        {"--pty l connect 127.0.0.1:8o", "HOST:PORT"},
        {"--pty l listen 80", "4096 to 65535"},
        {"--pty l listen x", "4096 to 65535"},
        {"--pty l --wait 0 listen 5000", "--wait"},
        {"--pty l --wait soon listen 5000", "--wait"},
        {"--pty", "--pty needs a value"},
        {"--pty l -x listen 5000", "unknown option -x"},
    };
    for (const Case& c : cases) {
        std::string error;
        EXPECT_FALSE(ParseSimOptions(c.line, error).has_value()) << c.line;
        EXPECT_NE(error.find(c.reason), std::string::npos) << c.line << " gave: " << error;
    }
}

TEST(SimOptionsTest, GetTakesAUrlAndAnOptionalOutputFile) {
    struct Case {
        std::string line;
        std::string url, outputPath;
    };
    const Case accepted[] = {
        {"--pty l get http://127.0.0.1:8000/a.bin", "http://127.0.0.1:8000/a.bin", ""},
        {"--pty l get HTTP://host/x -o -", "HTTP://host/x", "-"},
        {"-o out.bin --line /dev/ttyUSB0 get http://host/x", "http://host/x", "out.bin"},
        {"--pty l get http://host/x --output /tmp/x", "http://host/x", "/tmp/x"},
    };
    for (const Case& c : accepted) {
        std::string error;
        std::optional<TSimOptions> options = ParseSimOptions(c.line, error);
        ASSERT_TRUE(options.has_value()) << c.line << ": " << error;
        EXPECT_EQ(options->command, TSimOptions::TCommand::Get) << c.line;
        EXPECT_EQ(options->url, c.url) << c.line;
        EXPECT_EQ(options->outputPath, c.outputPath) << c.line;
    }

    struct Rejected {
        std::string line;
        std::string reason;  // a piece of the error text
    };
    const Rejected rejected[] = {
        {"--pty l get", "expected the command"},
        {"--pty l get ftp://host/x", "get takes a URL http://"},
        {"--pty l get http:///x", "get takes a URL http://"},
        {"--pty l get http://host/x -o", "-o needs a value"},
        {"--pty l -o f connect 127.0.0.1:80", "-o FILE goes with get"},
    };
    for (const Rejected& c : rejected) {
        std::string error;
        EXPECT_FALSE(ParseSimOptions(c.line, error).has_value()) << c.line;
        EXPECT_NE(error.find(c.reason), std::string::npos) << c.line << " gave: " << error;
    }
}

}  // namespace
