#pragma once

#include <cstdint>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "agent/AgentProgram.h"
#include "support/ChildProcess.h"
#include "support/TempDir.h"
#include "support/TerminalKind.h"

// One report line of tunnel-load: its fields as text.
class TLoadReport {
  public:
    static TLoadReport Parse(const std::string& line);
    std::string Text(const std::string& key) const;
    double Number(const std::string& key) const;
    const std::string& Line() const { return m_line; }

  private:
    std::string m_line;
    std::map<std::string, std::string> m_fields;
};

// How the line of a rig runs.
struct TLineSettings {
    double rate = 0;  // bytes per second each way; 0 unpaced
    double ber = 0;
    double drop = 0;
    unsigned seed = 1;
};

// The whole tunnel as it runs in the field, every piece a real program of
// the build: the agent in a directory of its own with its serial port on
// the agent's side of line-sim, tunnel-load's data server on 127.0.0.1, and
// tunnel-load runs as the terminal on the other side of the line.
class TTunnelRig {
  public:
    // The agent runs in Directory() with agentArguments, relative paths in them meaning files
    // of that directory.
    explicit TTunnelRig(const TLineSettings& line,
                        const std::vector<std::string>& agentArguments = {});

    // The terminal of the runs that start from now on (ours at first).
    void UseTerminal(TTerminalKind terminal) { m_terminal = terminal; }
    // The terminal's pause in each transfer of the runs that start from now on (none at first).
    void PauseInTransfers(unsigned milliseconds) { m_pauseMs = milliseconds; }

    // Runs tunnel-load as the terminal with the tests in arguments (for
    // example {"download", "64K"}) and returns its reports; stall is the
    // seconds without progress that fail a test. Each test must report
    // within half a minute of its stall time.
    std::vector<TLoadReport> Load(const std::vector<std::string>& tests,
                                  unsigned stallSeconds = 20);
    // Starts the same run without waiting for it; FinishLoad collects its
    // reports, waiting at most timeoutMs for each, and ends it.
    void StartLoad(const std::vector<std::string>& tests, unsigned stallSeconds = 20);
    std::vector<TLoadReport> FinishLoad(int timeoutMs);

    // A command line for line-sim (garbage, silence, replace, faults).
    void LineCommand(const std::string& command);
    // line-sim's counts now, as JSON text.
    std::string LineStats();

    // From the agent's /proc entry.
    pid_t AgentPid() const { return m_agent.Pid(); }
    std::size_t AgentDescriptors() const;
    // A field of /proc/PID/status in kB (VmHWM, VmRSS).
    long AgentStatusKb(const std::string& field) const;
    // User plus system CPU time of the agent so far, in seconds.
    double AgentCpuSeconds() const;

    const TempDir& Directory() const { return m_directory; }
    std::uint16_t ServerPort() const { return m_serverPort; }

  private:
    TempDir m_directory;
    std::unique_ptr<ChildProcess> m_line;
    std::unique_ptr<ChildProcess> m_server;
    std::uint16_t m_serverPort = 0;
    TAgentProgram m_agent;
    std::unique_ptr<ChildProcess> m_load;
    unsigned m_statsTaken = 0;
    TTerminalKind m_terminal = TTerminalKind::Ours;
    unsigned m_pauseMs = 0;
};
