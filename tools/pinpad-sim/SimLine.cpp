#include "pinpad-sim/SimLine.h"

#include <fcntl.h>
#include <pty.h>
#include <sys/stat.h>
#include <termios.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cstring>
#include <utility>

#include "base/ErrorCodes.h"
#include "platform/RS232Connection.h"
#include "tunnel/SerialNetworkInterface.h"

namespace {

std::string Reason(const std::string& what) {
    return what + ": " + std::strerror(errno);
}

// Raw 8-bit bytes at 115200 baud, no parity, one stop bit, no flow control.
bool MakeRaw(int fd) {
    termios settings{};
    if (tcgetattr(fd, &settings) != 0) {
        return false;
    }
    cfmakeraw(&settings);
    cfsetispeed(&settings, B115200);
    cfsetospeed(&settings, B115200);
    settings.c_cflag |= CLOCAL | CREAD;
    settings.c_cflag &= ~(CSTOPB | PARENB | CRTSCTS);
    settings.c_cc[VMIN] = 0;
    settings.c_cc[VTIME] = 0;
    return tcsetattr(fd, TCSANOW, &settings) == 0;
}

}  // namespace

TDescriptor::~TDescriptor() {
    if (m_fd >= 0) {
        close(m_fd);
    }
}

TDescriptor& TDescriptor::operator=(TDescriptor&& other) noexcept {
    if (this != &other) {
        TDescriptor old(m_fd);
        m_fd = other.Release();
    }
    return *this;
}

int TDescriptor::Release() {
    return std::exchange(m_fd, -1);
}

Error TSimLine::TLineInterface::Connect(const TRs232Params&, IConnection** connection) {
    *connection = nullptr;
    int fd = dup(m_fd);
    if (fd < 0) {
        return LinError(kErrorCannotConnect);
    }
    // The simulator keeps no traffic log of its own: the agent logs the line.
    *connection = new TLinRS232Connection(fd, "", nullptr);
    return Error(0);
}

IDevice* TSimLine::TLineDeviceLayer::CreateDevice(DEVICE kind, unsigned int index) {
    if (kind == DEVICE_RS232 && index == cPort) {
        return new TLineInterface(m_fd);
    }
    return TLinDeviceDebugLayer::CreateDevice(kind, index);
}

void TSimLine::TLineSystem::CreateDeviceLayer() {
    AdoptDeviceLayer(std::make_unique<TLineDeviceLayer>(m_fd), nullptr);
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
    if (!MakeRaw(line.Get())) {
        error = Reason("cannot set " + path + " to 115200 8N1");
        return nullptr;
    }
    tcflush(line.Get(), TCIOFLUSH);
    return std::unique_ptr<TSimLine>(new TSimLine(std::move(line), TDescriptor(), ""));
}

std::unique_ptr<TSimLine> TSimLine::MakePseudoTerminal(const std::string& linkPath,
                                                       std::string& error) {
    int master = -1;
    int slave = -1;
    if (openpty(&master, &slave, nullptr, nullptr, nullptr) != 0) {
        error = Reason("cannot make a pseudo-terminal");
        return nullptr;
    }
    TDescriptor line(master);
    TDescriptor agentSide(slave);
    // Raw from the start: a pseudo-terminal echoes by default, which would
    // send every frame back before the agent has set the line up.
    if (!MakeRaw(agentSide.Get()) || fcntl(line.Get(), F_SETFL, O_NONBLOCK) != 0) {
        error = Reason("cannot set up the pseudo-terminal");
        return nullptr;
    }
    struct stat existing {};
    if (lstat(linkPath.c_str(), &existing) == 0) {
        if (!S_ISLNK(existing.st_mode)) {
            error = linkPath + " exists and is not a symbolic link; not replacing it";
            return nullptr;
        }
        unlink(linkPath.c_str());  // left behind by an earlier run
    }
    if (symlink(ptsname(line.Get()), linkPath.c_str()) != 0) {
        error = Reason("cannot create the link " + linkPath);
        return nullptr;
    }
    return std::unique_ptr<TSimLine>(new TSimLine(std::move(line), std::move(agentSide), linkPath));
}

TSimLine::TSimLine(TDescriptor line, TDescriptor agentSide, std::string link)
    : m_line(std::move(line)),
      m_agentSide(std::move(agentSide)),
      m_link(std::move(link)),
      m_system(m_line.Get()),
      m_replaced(ISystem::Install(&m_system)) {}

TSimLine::~TSimLine() {
    if (!m_link.empty()) {
        unlink(m_link.c_str());
    }
    ISystem::Install(m_replaced);
}

TSerialNetworkInterface& TSimLine::Tunnel() {
    return dynamic_cast<TSerialNetworkInterface&>(
        *m_system.GetDeviceLayer()->GetDevice(DEVICE_COM, cPort));
}

bool TSimLine::WaitForAgent(unsigned seconds, const std::function<bool()>& stop) {
    using Clock = std::chrono::steady_clock;
    const Clock::time_point deadline = Clock::now() + std::chrono::seconds(seconds);
    while (true) {
        // Open waits a few seconds for an answer before it gives up.
        if (Tunnel().Open().Code() == 0) {
            return true;
        }
        DiscardUnread();
        if (stop() || Clock::now() >= deadline) {
            return false;
        }
    }
}

void TSimLine::DiscardUnread() {
    if (m_agentSide.IsOpen()) {
        tcflush(m_agentSide.Get(), TCIFLUSH);
    }
}
