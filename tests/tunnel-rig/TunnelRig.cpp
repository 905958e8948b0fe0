#include "tunnel-rig/TunnelRig.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <regex>
#include <sstream>

#include "support/Loopback.h"

namespace {

std::string Format(double value) {
    std::ostringstream text;
    text << value;
    return text.str();
}

}  // namespace

TLoadReport TLoadReport::Parse(const std::string& line) {
    TLoadReport report;
    report.m_line = line;
    static const std::regex field("\"(\\w+)\":(\"([^\"]*)\"|[-0-9.eE+]+)");
    for (auto it = std::sregex_iterator(line.begin(), line.end(), field); it != std::sregex_iterator();
         ++it) {
        const std::smatch& match = *it;
        report.m_fields[match[1]] = match[3].matched ? match[3].str() : match[2].str();
    }
    return report;
}

std::string TLoadReport::Text(const std::string& key) const {
    const auto found = m_fields.find(key);
    return found == m_fields.end() ? "" : found->second;
}

double TLoadReport::Number(const std::string& key) const {
    const std::string text = Text(key);
    return text.empty() ? -1 : std::stod(text);
}

TTunnelRig::TTunnelRig(const TLineSettings& line, const std::vector<std::string>& agentArguments)
    : m_agent(m_directory) {
    m_directory.WriteFile("pinpad.ini", "ComPort=9\r\n");
    m_directory.WriteFile("agent.ini", "Enabled=1\r\n");
    m_line = std::make_unique<ChildProcess>(
        std::vector<std::string>{ToolPath("line-sim"), "--agent-link", m_directory / "ttyS99",
                                 "--terminal-link", m_directory / "terminal", "--control",
                                 m_directory / "control", "--rate", Format(line.rate), "--ber",
                                 Format(line.ber), "--drop", Format(line.drop), "--seed",
                                 std::to_string(line.seed)},
        ChildProcess::TOptions{.directory = "",
                               .output = m_directory / "line-sim.out",
                               .error = m_directory / "line-sim.out"});
    EXPECT_TRUE(WaitFor([this] { return m_directory.Exists("control"); }))
        << "line-sim did not start: " << m_directory.ReadFile("line-sim.out");
    m_server = std::make_unique<ChildProcess>(std::vector<std::string>{ToolPath("tunnel-load"), "serve"});
    const std::string announced = m_server->ReadLine();
    EXPECT_TRUE(announced.starts_with("port ")) << announced;
    m_serverPort = static_cast<std::uint16_t>(std::atoi(announced.c_str() + 5));
    m_agent.Start(agentArguments);
}

void TTunnelRig::StartLoad(const std::vector<std::string>& tests, unsigned stallSeconds) {
    std::vector<std::string> argv = {ToolPath("tunnel-load"), "--line", m_directory / "terminal",
                                     "--port", std::to_string(m_serverPort), "--wait", "15",
                                     "--stall", std::to_string(stallSeconds),
                                     "--terminal", Name(m_terminal), "--pause",
                                     std::to_string(m_pauseMs)};
    argv.insert(argv.end(), tests.begin(), tests.end());
    m_load = std::make_unique<ChildProcess>(argv);
}

std::vector<TLoadReport> TTunnelRig::FinishLoad(int timeoutMs) {
    std::vector<TLoadReport> reports;
    std::string line;
    while (!(line = m_load->ReadLine(timeoutMs)).empty()) {
        reports.push_back(TLoadReport::Parse(line));
    }
    // A run still going (its caller stopped waiting) is ended here.
    m_load->WaitForExit(1000);
    m_load.reset();
    return reports;
}

std::vector<TLoadReport> TTunnelRig::Load(const std::vector<std::string>& tests,
                                          unsigned stallSeconds) {
    StartLoad(tests, stallSeconds);
    // A test reports at the latest a stall time after its last progress.
    return FinishLoad(static_cast<int>(stallSeconds + 30) * 1000);
}

void TTunnelRig::LineCommand(const std::string& command) {
    TDescriptor control(open((m_directory / "control").c_str(), O_WRONLY | O_NONBLOCK));
    const std::string line = command + "\n";
    EXPECT_EQ(write(control.Get(), line.data(), line.size()), static_cast<ssize_t>(line.size()))
        << command;
}

std::string TTunnelRig::LineStats() {
    const std::string name = "stats" + std::to_string(++m_statsTaken) + ".json";
    LineCommand("stats " + (m_directory / name));
    EXPECT_TRUE(WaitFor([&] { return m_directory.Exists(name); }));
    return m_directory.ReadFile(name);
}

std::size_t TTunnelRig::AgentDescriptors() const {
    const std::filesystem::path fds = "/proc/" + std::to_string(AgentPid()) + "/fd";
    std::error_code error;
    return static_cast<std::size_t>(std::distance(std::filesystem::directory_iterator(fds, error),
                                                  std::filesystem::directory_iterator()));
}

long TTunnelRig::AgentStatusKb(const std::string& field) const {
    std::ifstream status("/proc/" + std::to_string(AgentPid()) + "/status");
    std::string line;
    while (std::getline(status, line)) {
        if (line.starts_with(field + ":")) {
            return std::atol(line.c_str() + field.size() + 1);
        }
    }
    return -1;
}

double TTunnelRig::AgentCpuSeconds() const {
    std::ifstream stat("/proc/" + std::to_string(AgentPid()) + "/stat");
    std::string text((std::istreambuf_iterator<char>(stat)), std::istreambuf_iterator<char>());
    // The fields after the command name, which ends at the last ')'.
    std::istringstream fields(text.substr(text.rfind(')') + 2));
    std::string field;
    double ticks = 0;
    for (int index = 3; fields >> field && index <= 15; ++index) {
        if (index == 14 || index == 15) {  // utime, stime
            ticks += std::stod(field);
        }
    }
    return ticks / static_cast<double>(sysconf(_SC_CLK_TCK));
}
