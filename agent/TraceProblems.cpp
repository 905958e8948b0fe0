#include "agent/TraceProblems.h"

#include <cerrno>
#include <cstring>
#include <utility>

TTraceProblems::TTraceProblems(std::string traceDirectory, TAgentApplication::TReporter report)
    : m_directory(std::move(traceDirectory)), m_report(std::move(report)) {}

void TTraceProblems::OnLogFailure(const char* fileName, int error) {
    if (error == ELOOP) {
        if (m_linksReported.insert(fileName).second) {
            m_report(m_directory + "/" + fileName +
                     " is a symbolic link; traffic is not logged into it");
        }
        return;
    }
    ReportDirectory(error);
}

void TTraceProblems::OnStatusFailure(const TStatusFile::TProblem& problem) {
    if (problem.obstacle.empty()) {
        ReportDirectory(problem.error);
    } else if (!m_statusObstacleReported) {
        m_statusObstacleReported = true;
        m_report(m_directory + "/" + TStatusFile::kName + " is " + problem.obstacle +
                 "; the status is not written into it");
    }
}

void TTraceProblems::OnMetricsFailure(const std::string& path,
                                      const TStatusFile::TProblem& problem) {
    if (m_metricsReported) {
        return;
    }
    m_metricsReported = true;
    if (problem.obstacle.empty()) {
        m_report("cannot write the metrics file " + path + ": " + std::strerror(problem.error));
    } else {
        m_report(path + " is " + problem.obstacle + "; the metrics are not written into it");
    }
}

void TTraceProblems::ReportDirectory(int error) {
    if (!m_directoryReported) {
        m_directoryReported = true;
        m_report("cannot write traffic logs in " + m_directory + ": " + std::strerror(error));
    }
}
