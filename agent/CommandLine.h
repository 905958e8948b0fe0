#pragma once

#include <string>
#include <vector>

#include "agent/CaptureOptions.h"

// What the agent's command line asks for. Without arguments the agent serves with its
// settings and traffic logs beside its executable.
struct TCommandLine {
    // Status: print the status file of the agent of these directories.
    enum class Action { Serve, Status, Help, Version, Fail };

    Action action = Action::Serve;
    // "--dir DIR": where "pinpad.ini" and "agent.ini" are; empty: beside the executable.
    std::string settingsDirectory;
    // "--trace DIR": where the traffic logs go; empty: "Trace" beside the settings.
    std::string traceDirectory;
    // "--capture FILE" and its bounds; no path: no capture.
    TCaptureOptions capture;
    // "--metrics FILE": the Prometheus metrics go into FILE; empty: none are written.
    std::string metricsFile;
    // "--metrics-instance NAME": the label agent_instance of every series; empty: none.
    std::string metricsInstance;
    // Why the command line was refused (Action::Fail), such as "unknown option -x".
    std::string error;
};

// Reads the arguments after the program's name. Each option may be given as "--dir DIR" or
// "--dir=DIR"; "--help" and "--version" win over anything else.
TCommandLine ParseCommandLine(const std::vector<std::string>& arguments);

// The text of "--help", for the program of that name.
std::string AgentUsage(const std::string& program);
