// The simulators' links never take what is not theirs: a path that is already in use is
// refused (an operator's link to a serial device above all), a link left by an earlier run is
// replaced, and a link is removed at the end only while it still points where it was made to.

#include "common/LinkedPseudoTerminal.h"

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <climits>
#include <functional>
#include <string>
#include <vector>

#include "support/ChildProcess.h"
#include "support/TempDir.h"

namespace {

std::string LinkTarget(const std::string& path) {
    char target[PATH_MAX] = {};
    const ssize_t length = readlink(path.c_str(), target, sizeof target - 1);
    return length > 0 ? std::string(target, static_cast<std::size_t>(length)) : "";
}

// What may already be at the link's path, and whether the simulator may replace it.
struct TPlanted {
    const char* what;
    std::function<void(const std::string& path, const TempDir& directory)> plant;
    bool replaced;
};

const std::vector<TPlanted>& PlantedCases() {
    static const std::vector<TPlanted> cases = {
        {"an operator's link to an existing device",
         [](const std::string& path, const TempDir& directory) {
             directory.WriteFile("device", "");
             ASSERT_EQ(symlink((directory / "device").c_str(), path.c_str()), 0);
         },
         false},
        {"an operator's link to an unplugged adapter",
         [](const std::string& path, const TempDir&) {
             ASSERT_EQ(symlink("/dev/ttyUSB-unplugged", path.c_str()), 0);
         },
         false},
        {"a regular file",
         [](const std::string&, const TempDir& directory) {
             directory.WriteFile("ttyS99", "settings");
         },
         false},
        {"a link to a pseudo-terminal that is still there",
         [](const std::string& path, const TempDir&) {
             ASSERT_EQ(symlink("/dev/ptmx", path.c_str()), 0);
         },
         false},
        {"a link left by an earlier run",
         [](const std::string& path, const TempDir&) {
             ASSERT_EQ(symlink("/dev/pts/999999", path.c_str()), 0);
         },
         true},
    };
    return cases;
}

TEST(LinkedPseudoTerminalTest, TakesOnlyAPathNobodyElseUses) {
    for (const TPlanted& c : PlantedCases()) {
        SCOPED_TRACE(c.what);
        TempDir directory;
        const std::string path = directory / "ttyS99";
        ASSERT_NO_FATAL_FAILURE(c.plant(path, directory));
        const std::string before = LinkTarget(path);
        TLinkedPseudoTerminal made;
        std::string error;
        EXPECT_EQ(MakeLinkedPseudoTerminal(path, made, error), c.replaced) << error;
        if (c.replaced) {
            EXPECT_TRUE(LinkTarget(path).starts_with("/dev/pts/"));
            EXPECT_NE(LinkTarget(path), before);
        } else {
            EXPECT_NE(error.find(path + " exists"), std::string::npos) << error;
            struct stat left {};
            EXPECT_EQ(lstat(path.c_str(), &left), 0);
            EXPECT_EQ(LinkTarget(path), before);
        }
    }
}

TEST(LinkedPseudoTerminalTest, RemovesItsLinkOnlyWhileItPointsAtItsPseudoTerminal) {
    TempDir directory;
    const std::string path = directory / "ttyS99";
    {
        TLinkedPseudoTerminal made;
        std::string error;
        ASSERT_TRUE(MakeLinkedPseudoTerminal(path, made, error)) << error;
    }
    EXPECT_FALSE(directory.Exists("ttyS99")) << "its own link goes with it";

    {
        TLinkedPseudoTerminal made;
        std::string error;
        ASSERT_TRUE(MakeLinkedPseudoTerminal(path, made, error)) << error;
        // An operator puts the production link back while the simulator runs.
        ASSERT_EQ(unlink(path.c_str()), 0);
        ASSERT_EQ(symlink("/dev/ttyUSB0", path.c_str()), 0);
    }
    EXPECT_EQ(LinkTarget(path), "/dev/ttyUSB0") << "a link someone else made stays";
}

// Both simulators, as programs, refuse a planted operator link, leave it as it was and end
// with an error.
TEST(LinkedPseudoTerminalTest, SimulatorsLeaveAnOperatorsLinkAlone) {
    struct TProgram {
        const char* name;
        std::vector<std::string> arguments;  // "LINK" stands for the link's path
    } programs[] = {
        {"pinpad-sim", {"--wait", "1", "--pty", "LINK", "connect", "127.0.0.1:9"}},
        {"line-sim", {"--terminal-link", "term", "--agent-link", "LINK"}},
    };
    for (const TProgram& program : programs) {
        SCOPED_TRACE(program.name);
        TempDir directory;
        const std::string path = directory / "ttyS99";
        ASSERT_EQ(symlink("/dev/ttyUSB0", path.c_str()), 0);
        std::vector<std::string> argv{ToolPath(program.name)};
        for (const std::string& argument : program.arguments) {
            argv.push_back(argument == "LINK" ? path : argument);
        }
        ChildProcess::TOptions options;
        options.directory = directory.Path();
        options.output = directory / "out";
        options.error = directory / "out";
        ChildProcess run(argv, options);
        const std::optional<int> status = run.WaitForExit(10000);
        ASSERT_TRUE(status.has_value());
        EXPECT_NE(*status, 0);
        EXPECT_NE(directory.ReadFile("out").find(path + " exists"), std::string::npos)
            << directory.ReadFile("out");
        EXPECT_EQ(LinkTarget(path), "/dev/ttyUSB0");
        EXPECT_FALSE(directory.Exists("term"));
    }
}

}  // namespace
