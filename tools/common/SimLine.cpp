#include "common/SimLine.h"

#include <fcntl.h>
#include <termios.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cstring>
#include <utility>

#include "base/ErrorCodes.h"
#include "common/LinkedPseudoTerminal.h"
#include "platform/DescriptorReadiness.h"
#include "platform/RS232.h"
#include "tunnel/SerialNetworkInterface.h"

namespace {

std::string Reason(const std::string& what) {
    return what + ": " + std::strerror(errno);
}

// A timer that runs out at once when told to stop.
class TStoppableTimer : public ITimer {
  public:
    TStoppableTimer(std::unique_ptr<ITimer> inner, std::function<bool()> stopped)
        : m_inner(std::move(inner)), m_stopped(std::move(stopped)) {}
    bool IsExpired() override { return m_stopped() || m_inner->IsExpired(); }
    void Restart(unsigned long milliseconds) override { m_inner->Restart(milliseconds); }
    unsigned long GetElapsedMsec() override { return m_inner->GetElapsedMsec(); }

  private:
    std::unique_ptr<ITimer> m_inner;
    std::function<bool()> m_stopped;
};

}  // namespace

std::unique_ptr<ITimer> TSimLine::TStoppableTimers::CreateTimer(unsigned long milliseconds) {
    const TReading& reading = m_reading;
    return std::make_unique<TStoppableTimer>(SystemTimers().CreateTimer(milliseconds),
                                             [&reading] { return reading.Stopped(); });
}

long TSimLine::TLineConnection::ReceiveData(unsigned char* buffer, unsigned long length) {
    if (m_reading.Stopped()) {
        return 0;
    }
    if (!m_reading.waitInSteps && !PollDescriptor(m_fd, READINESS_READABLE, 0).readable) {
        m_reading.drained = true;
        return 0;
    }
    const long received = TLinRS232Connection::ReceiveData(buffer, length);
    m_reading.drained = received == 0;
    return received;
}

std::unique_ptr<TSimLine> TSimLine::OpenDevice(const std::string& path, std::string& error) {
    TDescriptor line(open(path.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC));
    if (!line.IsOpen()) {
        error = Reason("cannot open " + path);
        return nullptr;
    }
    if (!isatty(line.Get())) {
        error = path + " is not a serial line";
        return nullptr;
    }
    if (!MakeRawLine(line.Get())) {
        error = Reason("cannot set " + path + " to 115200 8N1");
        return nullptr;
    }
    tcflush(line.Get(), TCIOFLUSH);
    return std::unique_ptr<TSimLine>(new TSimLine(std::move(line), TDescriptor(), TOwnedLink()));
}

std::unique_ptr<TSimLine> TSimLine::MakePseudoTerminal(const std::string& linkPath,
                                                       std::string& error) {
    TLinkedPseudoTerminal made;
    if (!MakeLinkedPseudoTerminal(linkPath, made, error)) {
        return nullptr;
    }
    return std::unique_ptr<TSimLine>(
        new TSimLine(std::move(made.master), std::move(made.slave), std::move(made.link)));
}

TSimLine::TSimLine(TDescriptor line, TDescriptor agentSide, TOwnedLink link)
    : m_line(std::move(line)),
      m_agentSide(std::move(agentSide)),
      m_link(std::move(link)),
      m_timers(m_reading),
      // The tunnel's stack closes its own duplicate of the line, never the line; the terminal
      // makes no TCP connections of its own, so it has no network.
      m_tunnel(std::make_unique<TSerialNetworkInterface>(
          kPort,
          [this](const TRs232Params&, IConnection** connection) {
              *connection = OpenLine();
              return *connection != nullptr ? Error(0) : Error(kErrorCannotConnect);
          },
          nullptr, m_timers)) {}

TSimLine::~TSimLine() = default;

IConnection* TSimLine::OpenLine() {
    const int fd = fcntl(m_line.Get(), F_DUPFD_CLOEXEC, 0);
    // The simulator keeps no traffic log of its own: the agent logs the line.
    return fd >= 0 ? new TLineConnection(fd, m_reading) : nullptr;
}

INetworkInterface& TSimLine::Network() {
    return m_network ? *m_network : Tunnel();
}

bool TSimLine::WaitForAgent(unsigned seconds, const std::function<bool()>& stop) {
    using Clock = std::chrono::steady_clock;
    const Clock::time_point deadline = Clock::now() + std::chrono::seconds(seconds);
    while (true) {
        // Open waits a few seconds for an answer before it gives up.
        if (Network().Open().Code() == 0) {
            return true;
        }
        DiscardUnread();
        if (stop() || Clock::now() >= deadline) {
            return false;
        }
    }
}

void TSimLine::WaitForLine(int timeoutMs) {
    if (m_reading.drained) {
        PollDescriptor(m_line.Get(), READINESS_READABLE, timeoutMs);
        m_reading.drained = false;
    }
}

void TSimLine::DiscardUnread() {
    if (m_agentSide.IsOpen()) {
        tcflush(m_agentSide.Get(), TCIFLUSH);
    }
}
