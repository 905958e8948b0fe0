#pragma once

#include <chrono>
#include <memory>
#include <string>

#include "common/LinkedPseudoTerminal.h"
#include "line-sim/LineDirection.h"
#include "line-sim/LineSimOptions.h"

// A serial line between two pseudo-terminals: the agent's side and the
// terminal's side, each reachable through a symbolic link. Each direction is
// paced and damaged by its own TLineDirection. The owner drives it with Step
// and scripts events with Command; nothing runs in the background.
class TLineSimulator {
  public:
    // Null, with the reason in error, when a pseudo-terminal, a link or the
    // control FIFO cannot be made.
    static std::unique_ptr<TLineSimulator> Create(const TLineSimOptions& options,
                                                  std::string& error);
    ~TLineSimulator();
    TLineSimulator(const TLineSimulator&) = delete;
    TLineSimulator& operator=(const TLineSimulator&) = delete;

    // Waits at most maxWait for bytes to read, to deliver or to arrive, or
    // for a command, and handles what is there.
    void Step(std::chrono::milliseconds maxWait);
    // Carries out one command line (see kLineSimSyntax); false, with the
    // reason in error, when it is not understood or fails.
    bool Command(const std::string& line, std::string& error);
    // Every count of both directions, as one JSON object.
    std::string StatsJson() const;
    // Writes StatsJson to path; false, with the reason in error, when it
    // cannot.
    bool WriteStats(const std::string& path, std::string& error) const;

    const TLineDirection& ToAgent() const { return m_toAgent; }
    const TLineDirection& ToTerminal() const { return m_toTerminal; }

  private:
    struct TEnd {
        std::string link;
        TLinkedPseudoTerminal pty;
        bool blocked = false;  // the last delivery was refused: wait until writable
    };

    TLineSimulator(const TLineSimOptions& options, TEnd agent, TEnd terminal, TDescriptor control);

    // Reads what the side wrote into the direction that leaves it.
    void ReadFrom(TEnd& end, TLineDirection& leaving, TLineClock::time_point now);
    // Writes the visible bytes of the direction that reaches the side.
    void DeliverTo(TEnd& end, TLineDirection& arriving, TLineClock::time_point now);
    void ReadCommands();
    bool ReplaceAgentDevice(std::string& error);
    bool TakesInput(const TLineDirection& leaving, TLineClock::time_point now) const;

    TEnd m_agent;
    TEnd m_terminal;
    TDescriptor m_control;
    std::string m_controlPath;
    std::string m_pendingCommand;
    TLineDirection m_toAgent;
    TLineDirection m_toTerminal;
};
