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

TEST(CommandLineTest, CaptureOptions) {
    struct Case {
        std::vector<std::string> arguments;
        std::string path;
        std::uint64_t fileBytes;
        unsigned long files;
        std::string error;
    };
    const Case cases[] = {
        {{"--capture", "line.pcapng"}, "line.pcapng", 0, 0, ""},
        {{"--capture=-"}, "-", 0, 0, ""},
        {{"--capture", "c", "--capture-size", "2", "--capture-files=5"}, "c", 2 << 20, 5, ""},
        {{"--capture", "c", "--capture-size=0.5"}, "c", 1 << 19, 0, ""},
        {{"--capture"}, "", 0, 0, "--capture needs a value"},
        {{"--capture", "c", "--capture-size", "0.01"},
         "",
         0,
         0,
         "--capture-size takes MiB from 0.0625 to 1048576, not \"0.01\""},
        {{"--capture", "c", "--capture-size", "1", "--capture-files", "0"},
         "",
         0,
         0,
         "--capture-files takes a whole number from 1 to 100000, not \"0\""},
        {{"--capture", "c", "--capture-size", "x1"},
         "",
         0,
         0,
         "--capture-size takes MiB from 0.0625 to 1048576, not \"x1\""},
        {{"--capture-size", "1"},
         "",
         0,
         0,
         "--capture-size and --capture-files need --capture FILE"},
        {{"--capture", "c", "--capture-files", "3"},
         "",
         0,
         0,
         "--capture-files needs --capture-size"},
        {{"--capture", "-", "--capture-size", "1"},
         "",
         0,
         0,
         "a capture to standard output (--capture -) takes no --capture-size"},
    };
    for (const Case& c : cases) {
        const TCommandLine line = ParseCommandLine(c.arguments);
        std::string shown;
        for (const std::string& argument : c.arguments) {
            shown += argument + " ";
        }
        EXPECT_EQ(line.error, c.error) << shown;
        if (c.error.empty()) {
            EXPECT_EQ(line.action, TCommandLine::Action::Serve) << shown;
            EXPECT_EQ(line.capture.path, c.path) << shown;
            EXPECT_EQ(line.capture.fileBytes, c.fileBytes) << shown;
            EXPECT_EQ(line.capture.files, c.files) << shown;
        } else {
            EXPECT_EQ(line.action, TCommandLine::Action::Fail) << shown;
        }
    }
}

TEST(CommandLineTest, MetricsFileAndInstance) {
    using Action = TCommandLine::Action;
    struct Case {
        std::vector<std::string> arguments;
        Action action;
        std::string file;
        std::string instance;
        std::string error;
    };
    const Case cases[] = {
        {{"--metrics", "/m/a.prom"}, Action::Serve, "/m/a.prom", "", ""},
        {{"--metrics-instance=lane1", "--metrics=a.prom"}, Action::Serve, "a.prom", "lane1", ""},
        {{"--metrics", "a.prom", "--metrics-instance", "back\\x2doffice"},
         Action::Serve,
         "a.prom",
         "back\\x2doffice",
         ""},
        {{"--metrics"}, Action::Fail, "", "", "--metrics needs a file"},
        {{"--metrics", "a.prom", "--metrics-instance="},
         Action::Fail,
         "",
         "",
         "--metrics-instance needs a name"},
        {{"--metrics-instance", "lane1"},
         Action::Fail,
         "",
         "",
         "--metrics-instance goes with --metrics FILE"},
        {{"--metrics", "a.prom", "--metrics-instance", "lane 1"},
         Action::Fail,
         "",
         "",
         "--metrics-instance takes printable ASCII without spaces, not \"lane 1\""},
        {{"--metrics", "a.prom", "--metrics-instance", "l\xc3\xa4ne"},
         Action::Fail,
         "",
         "",
         "--metrics-instance takes printable ASCII without spaces, not \"l\xc3\xa4ne\""},
    };
    for (const Case& c : cases) {
        const TCommandLine line = ParseCommandLine(c.arguments);
        EXPECT_EQ(line.action, c.action) << c.arguments[0];
        EXPECT_EQ(line.error, c.error) << c.arguments[0];
        if (c.action == Action::Serve) {
            EXPECT_EQ(line.metricsFile, c.file);
            EXPECT_EQ(line.metricsInstance, c.instance);
        }
    }
}

}  // namespace
