#pragma once

#include <set>
#include <string>

#include "agent/AgentApplication.h"

// Why traffic logs are not being written, told once each: a trace directory that cannot be
// written once for the whole run, and each log file that is a symbolic link once for that
// file. It listens to the loggers' open failures.
class TTraceProblems {
  public:
    TTraceProblems(std::string traceDirectory, TAgentApplication::TReporter report);

    // A log file of the trace directory would not open for an entry.
    void OnLogFailure(const char* fileName, int error);

  private:
    std::string m_directory;
    TAgentApplication::TReporter m_report;
    bool m_directoryReported = false;
    std::set<std::string> m_linksReported;
};
