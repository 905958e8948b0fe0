#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "agent/AgentMetrics.h"
#include "agent/AgentStatus.h"
#include "agent/StatusFile.h"

class ITimer;
class TServiceNotifier;
class TSerialNetworkInterface;

// What the keeper learns from the tunnel on a pass of the serving loop.
struct TTunnelSample {
    bool linkUp = false;
    TTunnelCounters counters;
    std::vector<TConnectionFigures> connections;
};

// Keeps how the agent is doing and tells it: to the service manager as its
// status line, in the status file of a directory, and in a metrics file. All
// are brought up to
// date every 5 seconds and soon after a change of the service's state, of the
// link or of a connection (opened, answered, closed), or a reset by the
// terminal: a change is told at once when the last write is 250 ms old, else
// once it is, so a storm of changes costs at most 4 writes a second. A pass of
// a loop writes once at most. A change of the service's state alone goes to
// the service manager at once, as READY=1 with the first.
class TStatusKeeper {
  public:
    static constexpr unsigned long kPeriodMs = 5000;
    static constexpr unsigned long kChangeGapMs = 250;

    // Hears why the status file could not be written, at every failed write.
    using TProblemListener = std::function<void(const TStatusFile::TProblem&)>;

    explicit TStatusKeeper(TServiceNotifier& notifier);
    ~TStatusKeeper();
    TStatusKeeper(const TStatusKeeper&) = delete;
    TStatusKeeper& operator=(const TStatusKeeper&) = delete;

    // From now on the status file of directory is written too.
    void WriteInto(const std::string& directory, TProblemListener listener);
    // From now on the metrics file at path is written too, at the same
    // moments; instance labels its series when not empty.
    void WriteMetricsInto(const std::string& path, const std::string& instance,
                          TProblemListener listener);

    // "pinpad.ini" is read: the agent serves the serial device of port, or
    // ends when port is 0 (which the service manager hears at once).
    void SettingsRead(unsigned short port);
    // The service cycle did not start (or ended): disabled, or the port did
    // not open.
    void NotServing(bool enabled);
    // A service cycle started: the line is open and the new tunnel has just
    // sent its reset.
    void ServingStarted();
    // The serial device went away during a service cycle.
    void LineLost();

    // From every pass of the serving loop: looks at the tunnel and writes
    // when a write is due.
    void Pass(const TSerialNetworkInterface& tunnel);
    // Pass with what the tunnel shows, in a sample.
    void Observe(const TTunnelSample& sample);
    // From a loop that is about to sleep for seconds: looks at the tunnel and
    // writes at once what changed, or what is due.
    void Settle(const TSerialNetworkInterface& tunnel);
    // How long a loop may sleep before a write is due; ~0UL when nothing is
    // written.
    unsigned long MillisecondsToNextWrite() const;

    const TAgentStatus& Status() const { return m_status; }
    // The writes so far, whether they succeeded or not.
    unsigned long Writes() const { return m_writes; }

  private:
    bool IsActive() const;
    void SetState(TServiceStatus::EState state);
    // The link was reset now, by the agent or the terminal.
    void NoteReset();
    // What the tunnel shows now, in m_sample.
    const TTunnelSample& Sample(const TSerialNetworkInterface& tunnel);
    // Takes in what the sample shows; true when the link or a connection
    // changed, or the terminal reset.
    bool Take(const TTunnelSample& sample);
    void Write();
    TServiceStatus ServiceStatus() const;

    TServiceNotifier& m_notifier;
    std::optional<TStatusFile> m_file;
    TProblemListener m_listener;
    std::optional<TAgentMetrics> m_metrics;
    TProblemListener m_metricsListener;
    // The last reset's time in Unix seconds, for the metrics.
    std::optional<std::int64_t> m_lastResetSeconds;
    TAgentStatus m_status;
    // Something changed that is not written yet.
    bool m_changed = false;
    // Since the last write; none before the first.
    std::unique_ptr<ITimer> m_sinceWrite;
    unsigned long m_writes = 0;
    // The tunnel's last sample, its buffers kept from pass to pass.
    TTunnelSample m_sample;
};
