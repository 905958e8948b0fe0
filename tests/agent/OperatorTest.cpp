// The agent as an operator meets it: one agent per directory, a device that cannot be opened
// told on standard error with its path, devices named relative to --dir found there, the
// program named as it was invoked, and traffic logs without payloads when asked.

#include <gtest/gtest.h>
#include <sys/file.h>
#include <unistd.h>

#include <chrono>
#include <filesystem>
#include <memory>
#include <string>

#include "AgentProgram.h"
#include "common/SimLine.h"
#include "platform/Descriptor.h"
#include "support/ChildProcess.h"
#include "support/Loopback.h"
#include "support/TempDir.h"

namespace {

using std::chrono::seconds;

// Waits until the file in directory holds text.
bool WaitForText(const TempDir& directory, const std::string& name, const std::string& text) {
    return WaitFor(
        [&] {
            return directory.Exists(name) &&
                   directory.ReadFile(name).find(text) != std::string::npos;
        },
        seconds(10));
}

TEST(OperatorTest, ASecondAgentOnTheSameDirectoryEndsAndTouchesNothing) {
    TempDir directory;
    directory.WriteFile("pinpad.ini", "ComPort=9\r\n");
    directory.WriteFile("agent.ini", "Enabled=1\r\n");
    TAgentProgram first(directory);
    first.Start();
    ASSERT_TRUE(
        WaitForText(directory, "Trace/Status.json", "\"pid\": " + std::to_string(first.Pid())));

    ChildProcess second({directory / "agent"},
                        ChildProcess::TOptions{.directory = directory.Path(),
                                               .output = directory / "second.out",
                                               .error = directory / "second.out"});
    EXPECT_EQ(second.WaitForExit(10000), 2);
    EXPECT_EQ(directory.ReadFile("second.out"), "agent: another agent (process " +
                                                    std::to_string(first.Pid()) + ") serves " +
                                                    directory.Path() + "; this one ends\n");
    EXPECT_EQ(
        directory.ReadFile("Trace/Status.json").find("\"pid\": " + std::to_string(second.Pid())),
        std::string::npos);
    EXPECT_FALSE(first.WaitForExit(std::chrono::milliseconds(0)).has_value()) << "still serving";

    // A second agent with other settings but the same trace directory ends the same way.
    TempDir other;
    other.WriteFile("pinpad.ini", "ComPort=9\r\n");
    ChildProcess third({directory / "agent", "--dir", other.Path(), "--trace", directory / "Trace"},
                       ChildProcess::TOptions{.directory = other.Path(),
                                              .output = other / "third.out",
                                              .error = other / "third.out"});
    EXPECT_EQ(third.WaitForExit(10000), 2);
    EXPECT_NE(other.ReadFile("third.out").find("serves " + directory / "Trace"), std::string::npos)
        << other.ReadFile("third.out");

    // Once the first has gone, for whatever reason, the directory is free again.
    first.Stop();
    TAgentProgram again(directory);
    again.Start();
    EXPECT_TRUE(
        WaitForText(directory, "Trace/Status.json", "\"pid\": " + std::to_string(again.Pid())));
}

// Run from another working directory, --dir D finds ttyS99 in D; while it is missing, and
// while another program holds it, one line on standard error says so with its full path.
TEST(OperatorTest, DevicesAreFoundInTheSettingsDirectoryAndTheirTroubleIsTold) {
    TempDir directory;
    TempDir elsewhere;
    directory.WriteFile("pinpad.ini", "ComPort=9\r\n");
    directory.WriteFile("agent.ini", "Enabled=1\r\n");
    const TAgentProgram program(directory);  // the binary, copied beside the settings
    ChildProcess agent({directory / "agent", "--dir", directory.Path()},
                       ChildProcess::TOptions{.directory = elsewhere.Path(),
                                              .output = elsewhere / "agent.out",
                                              .error = elsewhere / "agent.out"});
    const std::string device = directory / "ttyS99";
    ASSERT_TRUE(WaitForText(elsewhere, "agent.out",
                            "agent: serial port " + device +
                                " cannot be opened: No such file or directory; trying again "
                                "every 5 s\n"));
    ASSERT_TRUE(WaitForText(directory, "Trace/Status.json", "\"state\": \"port-unavailable\""));

    // Another program takes the device: a new reason, told once, and a state of its own.
    // The device is held before the agent can see it.
    std::string error;
    std::unique_ptr<TSimLine> line = TSimLine::MakePseudoTerminal(directory / "held", error);
    ASSERT_TRUE(line) << error;
    TDescriptor holder(open((directory / "held").c_str(), O_RDWR | O_NOCTTY | O_CLOEXEC));
    ASSERT_EQ(flock(holder.Get(), LOCK_EX | LOCK_NB), 0);
    ASSERT_EQ(symlink(std::filesystem::read_symlink(directory / "held").c_str(), device.c_str()),
              0);
    ASSERT_TRUE(WaitForText(elsewhere, "agent.out",
                            "agent: serial port " + device +
                                " is in use by another program; trying again every 5 s\n"));
    ASSERT_TRUE(WaitForText(directory, "Trace/Status.json", "\"state\": \"port-busy\""));

    // Freed, it is served.
    holder.Reset();
    EXPECT_TRUE(line->WaitForAgent(20, [] { return false; }));
    const std::string output = elsewhere.ReadFile("agent.out");
    EXPECT_EQ(output.find("cannot be opened"), output.rfind("cannot be opened")) << output;
    EXPECT_EQ(output.find("in use"), output.rfind("in use")) << output;
}

TEST(OperatorTest, TheProgramNamesItselfAsInvokedAndRefusesUnknownOptions) {
    TempDir directory;
    std::filesystem::copy_file(ToolPath("agent"), directory / "pinpad-agent");
    ChildProcess run({directory / "pinpad-agent", "--bogus"},
                     ChildProcess::TOptions{.directory = directory.Path(),
                                            .output = directory / "out",
                                            .error = directory / "out"});
    EXPECT_EQ(run.WaitForExit(10000), 2);
    const std::string output = directory.ReadFile("out");
    EXPECT_TRUE(
        output.starts_with("pinpad-agent: unknown option --bogus\n"
                           "usage: pinpad-agent [--dir DIR] [--trace DIR] "))
        << output;
}

}  // namespace
