#include "agent/CommandLine.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace {

TEST(CommandLineTest, ArgumentsAndWhatTheyAskFor) {
    using Action = TCommandLine::Action;
    struct Case {
        std::vector<std::string> arguments;
        Action action;
        std::string settings;
        std::string trace;
        std::string error;
    };
    const Case cases[] = {
        {{}, Action::Serve, "", "", ""},
        {{"--dir", "/etc/pinpad"}, Action::Serve, "/etc/pinpad", "", ""},
        {{"--dir=conf", "--trace", "/var/log/pinpad"},
         Action::Serve,
         "conf",
         "/var/log/pinpad",
         ""},
        {{"--trace=logs", "--dir", "a", "--dir", "b"}, Action::Serve, "b", "logs", ""},
        {{"--status"}, Action::Status, "", "", ""},
        {{"--dir", "/etc/pinpad", "--status"}, Action::Status, "/etc/pinpad", "", ""},
        {{"--status", "--trace=t"}, Action::Status, "", "t", ""},
        {{"--status", "--dir"}, Action::Fail, "", "", "--dir needs a directory"},
        {{"--help"}, Action::Help, "", "", ""},
        {{"--bogus", "-h"}, Action::Help, "", "", ""},
        {{"--dir", "x", "--version"}, Action::Version, "", "", ""},
        {{"--bogus"}, Action::Fail, "", "", "unknown option --bogus"},
        {{"--dir", "x", "extra"}, Action::Fail, "x", "", "unknown option extra"},
        {{"--dir"}, Action::Fail, "", "", "--dir needs a directory"},
        {{"--trace", ""}, Action::Fail, "", "", "--trace needs a directory"},
        {{"--dir="}, Action::Fail, "", "", "--dir needs a directory"},
        {{"--directory", "x"}, Action::Fail, "", "", "unknown option --directory"},
    };
    for (const Case& c : cases) {
        const TCommandLine line = ParseCommandLine(c.arguments);
        std::string shown;
        for (const std::string& argument : c.arguments) {
            shown += argument + " ";
        }
        EXPECT_EQ(line.action, c.action) << shown;
        EXPECT_EQ(line.error, c.error) << shown;
        if (c.action == Action::Serve || c.action == Action::Status) {
            EXPECT_EQ(line.settingsDirectory, c.settings) << shown;
            EXPECT_EQ(line.traceDirectory, c.trace) << shown;
        }
    }
}

}  // namespace
