#pragma once

#include <set>
#include <string>

#include "agent/AgentApplication.h"
#include "agent/StatusFile.h"

// Why traffic logs, the status file or the metrics file are not being written, told once
// each: a trace directory that cannot be written once for the whole run, each log file that is
// a symbolic link once for that file, something in the way of the status file once, and the
// metrics file's first failure. It listens to the loggers' open failures and to the status and
// metrics files' failed writes.
class TTraceProblems {
  public:
    TTraceProblems(std::string traceDirectory, TAgentApplication::TReporter report);

    // A log file of the trace directory would not open for an entry.
    void OnLogFailure(const char* fileName, int error);
    // The status file could not be written.
    void OnStatusFailure(const TStatusFile::TProblem& problem);
    // The metrics file at path could not be written.
    void OnMetricsFailure(const std::string& path, const TStatusFile::TProblem& problem);

  private:
    void ReportDirectory(int error);

    std::string m_directory;
    TAgentApplication::TReporter m_report;
    bool m_directoryReported = false;
    std::set<std::string> m_linksReported;
    bool m_statusObstacleReported = false;
    bool m_metricsReported = false;
};
