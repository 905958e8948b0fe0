// The tools as programs: how each answers --help and --version, and the exit
// status and first line of standard error of every kind of wrong argument or
// unusable input. Each program runs from a copy in the test's temporary
// directory, as it would be installed, so that everything a run touches
// (traffic logs are written beside the program) lies there.

#include <gtest/gtest.h>

#include <signal.h>

#include <filesystem>
#include <fstream>
#include <optional>
#include <string>
#include <vector>

#include "ProjectVersion.h"
#include "support/ChildProcess.h"
#include "support/Loopback.h"
#include "support/TempDir.h"

namespace {

struct TRun {
    int status = -1;
    std::string output;
    std::string error;
};

class ToolCommandLineTest : public testing::Test {
  protected:
    TRun Run(const std::string& tool, const std::vector<std::string>& arguments) {
        const std::string program = m_directory / ("bin/" + tool);
        if (!m_directory.Exists("bin/" + tool)) {
            std::filesystem::create_directories(m_directory / "bin");
            std::filesystem::copy_file(ToolPath(tool), program);
        }
        std::vector<std::string> argv = {program};
        argv.insert(argv.end(), arguments.begin(), arguments.end());
        m_directory.WriteFile("input", "");
        TRun run;
        {
            ChildProcess program(argv, {.directory = m_directory.Path(),
                                        .input = m_directory / "input",
                                        .output = m_directory / "output",
                                        .error = m_directory / "error"});
            run.status = program.WaitForExit(20000).value_or(-1);
        }
        run.output = m_directory.ReadFile("output");
        run.error = m_directory.ReadFile("error");
        return run;
    }

    TempDir m_directory;
};

std::string FirstLine(const std::string& text) {
    return text.substr(0, text.find('\n'));
}

TEST_F(ToolCommandLineTest, HelpAndVersionGoToStandardOutput) {
    struct TCase {
        std::string tool;
        std::string usage;  // how the help text starts
    };
    const TCase cases[] = {
        {"pinpad-sim", "Usage: pinpad-sim "},
        {"commlog-decode", "Usage: commlog-decode "},
        {"line-sim", "usage: line-sim "},
        {"tunnel-load", "usage: tunnel-load serve [--port N]\n"},
        {"terminal-file-server",
         "usage: terminal-file-server --dir DIR --port N [--bind ADDRESS]\n"},
    };
    for (const TCase& c : cases) {
        for (const char* help : {"--help", "-h"}) {
            const TRun run = Run(c.tool, {help});
            EXPECT_EQ(run.status, 0) << c.tool << " " << help;
            EXPECT_TRUE(run.output.starts_with(c.usage)) << c.tool << " " << help << run.output;
            EXPECT_EQ(run.error, "") << c.tool << " " << help;
        }
        const TRun run = Run(c.tool, {"--version"});
        EXPECT_EQ(run.status, 0) << c.tool;
        EXPECT_EQ(run.output, c.tool + " " + kProjectVersion + "\n");
        EXPECT_EQ(run.error, "") << c.tool;
    }
}

// The line simulator refuses a count out of range on its control FIFO, goes on,
// and ends within a second of SIGTERM with the most a command may queue
// waiting to go out.
TEST_F(ToolCommandLineTest, LineSimRefusesBadCountsAndEndsOnSigterm) {
    ChildProcess line(
        {ToolPath("line-sim"), "--agent-link", m_directory / "agent", "--terminal-link",
         m_directory / "terminal", "--control", m_directory / "control", "--rate", "100"},
        {.directory = m_directory.Path(),
         .input = "/dev/null",
         .output = m_directory / "output",
         .error = m_directory / "error"});
    ASSERT_TRUE(WaitFor([&] { return m_directory.Exists("control"); }));
    {
        std::ofstream control(m_directory / "control");
        control << "garbage -5\ngarbage 65536\n" << std::flush;
    }
    EXPECT_TRUE(WaitFor([&] { return !m_directory.ReadFile("error").empty(); }));
    ASSERT_EQ(kill(line.Pid(), SIGTERM), 0);
    EXPECT_EQ(line.WaitForExit(1000), 0);
    EXPECT_EQ(m_directory.ReadFile("error"),
              "line-sim: garbage needs a byte count from 1 to 65536, not -5\n");
}

TEST_F(ToolCommandLineTest, WrongArgumentsAndUnusableInputs) {
    m_directory.WriteFile("text", "root:x:0:0:root:/root:/bin/bash\n");
    m_directory.WriteFile("zeros", std::string(10000, '\0'));
    std::filesystem::create_directory(m_directory / "served");
    const std::string missing = m_directory / "missing";
    const LoopbackListener busy = ListenOnLoopback();
    const std::string busyPort = std::to_string(busy.port);
    struct TCase {
        std::string tool;
        std::vector<std::string> arguments;
        int status;
        std::string error;  // the first line of standard error
    };
    const TCase cases[] = {
        {"pinpad-sim", {}, 2, "pinpad-sim: give exactly one of --line DEVICE and --pty LINK"},
        {"pinpad-sim", {"--bogus", "--pty", "l"}, 2, "pinpad-sim: unknown option --bogus"},
        {"pinpad-sim", {"--pty"}, 2, "pinpad-sim: --pty needs a value"},
        {"pinpad-sim", {"--verbose=1"}, 2, "pinpad-sim: --verbose takes no value"},
        {"pinpad-sim",
         {"--pty", "l", "get", "ftp://127.0.0.1/x"},
         2,
         "pinpad-sim: get takes a URL http://HOST[:PORT]/DOCUMENT, not \"ftp://127.0.0.1/x\""},
        {"pinpad-sim",
         {"--pty", "l", "-o", missing + "/body", "get", "http://127.0.0.1:1/x"},
         7,
         "pinpad-sim: cannot write " + missing + "/body: no directory " + missing +
             ": No such file or directory"},
        {"pinpad-sim",
         {"--line", missing, "connect", "127.0.0.1:80"},
         1,
         "pinpad-sim: cannot open " + missing + ": No such file or directory"},
        {"pinpad-sim",
         {"--line", "text", "connect", "127.0.0.1:80"},
         1,
         "pinpad-sim: text is not a serial line"},
        {"pinpad-sim",
         {"--pty", "l", "--wait", "1", "connect", "127.0.0.1:80"},
         3,
         "pinpad-sim: no agent answered on l within 1 s"},

        {"commlog-decode", {}, 2, "commlog-decode: no log given"},
        {"commlog-decode", {"--frames", "text"}, 2, "commlog-decode: unknown option --frames"},
        {"commlog-decode", {"--json=yes", "text"}, 2, "commlog-decode: --json takes no value"},
        {"commlog-decode",
         {missing},
         1,
         "commlog-decode: " + missing + ": cannot be read: No such file or directory"},
        {"commlog-decode", {"text"}, 3, "commlog-decode: no log entry in text: not a traffic log"},
        {"commlog-decode",
         {"zeros"},
         3,
         "commlog-decode: zeros: line 1 is longer than 4096 bytes: not a traffic log"},

        {"line-sim", {"--bogus"}, 2, "line-sim: unknown option --bogus"},
        {"line-sim", {"--rate"}, 2, "line-sim: --rate needs a value"},
        {"line-sim", {"extra"}, 2, "line-sim: unexpected argument extra"},
        {"line-sim",
         {"--agent-link", "same", "--terminal-link", "./same"},
         2,
         "line-sim: --agent-link and --terminal-link must be two different paths"},
        {"line-sim",
         {"--agent-link", "a"},
         2,
         "line-sim: both --agent-link and --terminal-link are needed"},
        {"line-sim",
         {"--agent-link", "a", "--terminal-link", "b", "--rate", "fast"},
         2,
         "line-sim: bad value for --rate: fast"},
        {"line-sim",
         {"--agent-link", "a", "--terminal-link", "b", "--stats", missing + "/stats"},
         1,
         "line-sim: --stats: cannot write " + missing + "/stats: no directory " + missing +
             ": No such file or directory"},

        {"tunnel-load", {}, 2, "tunnel-load: nothing to do: give serve, line-echo or tests"},
        {"tunnel-load", {"--bogus", "serve"}, 2, "tunnel-load: unknown option --bogus"},
        {"tunnel-load", {"serve", "--port"}, 2, "tunnel-load: --port needs a value"},
        {"tunnel-load", {"serve", "extra"}, 2, "tunnel-load: unexpected argument extra"},
        {"tunnel-load",
         {"serve", "--port", "70000"},
         2,
         "tunnel-load: bad value for --port: 70000"},
        {"tunnel-load",
         {"--line", "l", "line-echo", "echo", "1"},
         2,
         "tunnel-load: unexpected argument echo"},
        {"tunnel-load",
         {"--line", "l", "--port", "1", "fly", "1"},
         2,
         "tunnel-load: unknown test fly"},
        {"tunnel-load",
         {"--line", "l", "--port", "1", "echo", "1", "download"},
         2,
         "tunnel-load: download needs an amount"},
        {"tunnel-load",
         {"--line", "l", "--port", "1", "download", "1G"},
         2,
         "tunnel-load: bad amount for download: 1G"},
        {"tunnel-load",
         {"--line", "l", "--port", "1", "echo", "4294967296"},
         2,
         "tunnel-load: bad amount for echo: 4294967296"},
        {"tunnel-load", {"--port", "1", "echo", "1"}, 2, "tunnel-load: --line is needed"},
        {"tunnel-load", {"line-echo"}, 2, "tunnel-load: --line is needed"},
        {"tunnel-load",
         {"--line", "l", "echo", "1"},
         2,
         "tunnel-load: --port of the data server is needed"},
        {"tunnel-load",
         {"--line", "l", "--port", "1", "--terminal", "theirs", "echo", "1"},
         2,
         "tunnel-load: bad value for --terminal: theirs"},
        {"tunnel-load",
         {"--line", "l", "--port", "1", "--stall", "0", "echo", "1"},
         2,
         "tunnel-load: bad value for --stall: 0"},
        {"tunnel-load",
         {"serve", "--port", busyPort},
         1,
         "tunnel-load: cannot listen on 127.0.0.1:" + busyPort + ": Address already in use"},
        {"tunnel-load",
         {"--line", missing, "--port", "1", "echo", "1"},
         1,
         "tunnel-load: cannot open " + missing + ": No such file or directory"},
        {"tunnel-load",
         {"--line", "text", "--port", "1", "echo", "1"},
         1,
         "tunnel-load: text is not a serial line"},
        {"tunnel-load",
         {"--line", "text", "line-echo"},
         1,
         "tunnel-load: cannot use text as a raw line: Inappropriate ioctl for device"},

        {"terminal-file-server", {}, 2, "terminal-file-server: both --dir and --port are needed"},
        {"terminal-file-server",
         {"--dir", "served"},
         2,
         "terminal-file-server: both --dir and --port are needed"},
        {"terminal-file-server",
         {"--port", "8080"},
         2,
         "terminal-file-server: both --dir and --port are needed"},
        {"terminal-file-server", {"--bogus"}, 2, "terminal-file-server: unknown option --bogus"},
        {"terminal-file-server", {"--dir"}, 2, "terminal-file-server: --dir needs a value"},
        {"terminal-file-server",
         {"--dir", "served", "--port"},
         2,
         "terminal-file-server: --port needs a value"},
        {"terminal-file-server",
         {"--dir", "served", "--port", "8080", "--bind"},
         2,
         "terminal-file-server: --bind needs a value"},
        {"terminal-file-server",
         {"--dir", "served", "--port", "8080", "extra"},
         2,
         "terminal-file-server: unexpected argument extra"},
        {"terminal-file-server",
         {"--dir", "served", "--port", "0"},
         2,
         "terminal-file-server: not a port number (1 to 65535): 0"},
        {"terminal-file-server",
         {"--dir", "served", "--port", "65536"},
         2,
         "terminal-file-server: not a port number (1 to 65535): 65536"},
        {"terminal-file-server",
         {"--dir", "served", "--port", "80a"},
         2,
         "terminal-file-server: not a port number (1 to 65535): 80a"},
        {"terminal-file-server",
         {"--dir", "served", "--port", "8080", "--bind", "1.2.3"},
         2,
         "terminal-file-server: not an IPv4 address: 1.2.3"},
        {"terminal-file-server",
         {"--dir", missing, "--port", "8080"},
         2,
         "terminal-file-server: cannot use --dir " + missing + ": No such file or directory"},
        {"terminal-file-server",
         {"--dir", "text", "--port", "8080"},
         2,
         "terminal-file-server: not a directory: text"},
        {"terminal-file-server",
         {"--dir", "served", "--port", busyPort},
         1,
         "terminal-file-server: cannot listen on 127.0.0.1:" + busyPort +
             ": Address already in use"},
        // An address of no interface here: nothing leaves the host.
        {"terminal-file-server",
         {"--dir", "served", "--port", "8080", "--bind", "192.0.2.1"},
         1,
         "terminal-file-server: cannot listen on 192.0.2.1:8080: Cannot assign requested address"},
    };
    for (const TCase& c : cases) {
        std::string shown = c.tool;
        for (const std::string& argument : c.arguments) {
            shown += " " + argument;
        }
        const TRun run = Run(c.tool, c.arguments);
        EXPECT_EQ(run.status, c.status) << shown << "\n" << run.error;
        EXPECT_EQ(FirstLine(run.error), c.error) << shown;
        EXPECT_EQ(run.output, "") << shown;
        // Wrong arguments are followed by the usage's synopsis.
        if (c.status == 2) {
            EXPECT_NE(run.error.find("sage: " + c.tool + " "), std::string::npos) << shown;
        }
    }
    // Nothing was left behind: no pseudo-terminal links, no directories.
    for (const char* name : {"l", "a", "b", "missing"}) {
        EXPECT_FALSE(m_directory.Exists(name)) << name;
    }
}

}  // namespace
