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
#include "platform/linux/LinDeviceLayer.h"
#include "platform/linux/RS232Connection.h"
#include "tunnel/SerialNetworkInterface.h"

namespace {

std::string Reason(const std::string& what) {
    return what + ": " + std::strerror(errno);
}

}  // namespace

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

Error TSimLine::TLineInterface::Connect(const TRs232Params&, IConnection** connection) {
    *connection = nullptr;
    int fd = dup(m_fd);
    if (fd < 0) {
        return LinError(kErrorCannotConnect);
    }
    // The simulator keeps no traffic log of its own: the agent logs the line.
    *connection = new TLineConnection(fd, m_reading);
    return Error(0);
}

IDevice* TSimLine::TLineDeviceLayer::CreateDevice(DEVICE kind, unsigned int index) {
    if (kind == DEVICE_RS232 && index == kPort) {
        return new TLineInterface(m_fd, m_reading);
    }
    if (kind == DEVICE_COM) {
        return TSerialNetworkInterface::MakeDevice(index);
    }
    return TLinDeviceDebugLayer::CreateDevice(kind, index);
}

void TSimLine::TLineSystem::CreateDeviceLayer() {
    AdoptDeviceLayer(std::make_unique<TLineDeviceLayer>(m_fd, m_reading), nullptr);
}

std::unique_ptr<TSimLine> TSimLine::OpenDevice(const std::string& path, std::string& error) {
    TDescriptor line(open(path.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK));
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
    return std::unique_ptr<TSimLine>(new TSimLine(std::move(line), TDescriptor(), ""));
}

std::unique_ptr<TSimLine> TSimLine::MakePseudoTerminal(const std::string& linkPath,
                                                       std::string& error) {
    TLinkedPseudoTerminal made;
    if (!MakeLinkedPseudoTerminal(linkPath, made, error)) {
        return nullptr;
    }
    return std::unique_ptr<TSimLine>(
        new TSimLine(std::move(made.master), std::move(made.slave), linkPath));
}

TSimLine::TSimLine(TDescriptor line, TDescriptor agentSide, std::string link)
    : m_line(std::move(line)),
      m_agentSide(std::move(agentSide)),
      m_link(std::move(link)),
      m_system(m_line.Get(), m_reading),
      m_replaced(ISystem::Install(&m_system)) {}

TSimLine::~TSimLine() {
    if (!m_link.empty()) {
        unlink(m_link.c_str());
    }
    ISystem::Install(m_replaced);
}

TSerialNetworkInterface& TSimLine::Tunnel() {
    return dynamic_cast<TSerialNetworkInterface&>(
        *m_system.GetDeviceLayer()->GetDevice(DEVICE_COM, kPort));
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
