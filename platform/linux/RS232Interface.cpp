#include "platform/linux/RS232Interface.h"

#include <fcntl.h>
#include <sys/file.h>
#include <sys/ioctl.h>
#include <termios.h>
#include <unistd.h>

#include <cerrno>

#include <cstdio>
#include <string>

#include "base/ErrorCodes.h"
#include "platform/Descriptor.h"
#include "platform/linux/RS232Connection.h"

namespace {

constexpr unsigned short kLocalFilePort = 9;

speed_t LineSpeed(unsigned long baudRate) {
    switch (baudRate) {
        case 1200:
            return B1200;
        case 2400:
            return B2400;
        case 9600:
            return B9600;
        case 19200:
            return B19200;
        case 38400:
            return B38400;
        case 57600:
            return B57600;
        case 115200:
            return B115200;
        default:
            return B9600;
    }
}

tcflag_t CharacterSize(unsigned dataBits) {
    switch (dataBits) {
        case 5:
            return CS5;
        case 6:
            return CS6;
        case 7:
            return CS7;
        default:
            return CS8;
    }
}

}  // namespace

std::string SerialDeviceName(unsigned short port) {
    if (port == kLocalFilePort) {
        return "ttyS99";
    }
    return "/dev/ttyS" + std::to_string(static_cast<int>(port) - 1);
}

termios RawLineSettings(const TRs232Params& params) {
    termios settings{};
    const speed_t speed = LineSpeed(params.baudRate);
    cfsetispeed(&settings, speed);
    cfsetospeed(&settings, speed);
    settings.c_cflag |= CREAD | CLOCAL | CharacterSize(params.dataBits);
    if (params.parity != PARITY_NONE) {
        settings.c_cflag |= PARENB;
        if (params.parity == PARITY_ODD) {
            settings.c_cflag |= PARODD;
        }
    }
    if (params.stopBits == STOPBITS_TWO) {
        settings.c_cflag |= CSTOPB;
    }
    settings.c_iflag |= INPCK;
    return settings;
}

TRS232Interface::TRS232Interface(IFileSystem* traceFileSystem)
    : m_traceFileSystem(traceFileSystem), m_logName{} {}

Error TRS232Interface::Open() {
    return Error(0);
}

void TRS232Interface::Close() {}

const char* TRS232Interface::GetConnLogName(long port) {
    std::snprintf(m_logName, sizeof m_logName, "CommLog%ld.txt", port);
    return m_logName;
}

TLinRS232Interface::TLinRS232Interface(IFileSystem* traceFileSystem)
    : TRS232Interface(traceFileSystem) {}

Error TLinRS232Interface::Connect(const TRs232Params& params, IConnection** connection) {
    *connection = nullptr;
    TDescriptor line(
        open(SerialDeviceName(params.port).c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC));
    if (!line) {
        return LinError(kErrorCannotConnect);
    }
    // One user of a line at a time: the lock keeps out another process of ours (root
    // included), exclusive mode any other opener that lacks the privilege to override it.
    // A port in use is left exactly as it is.
    if (flock(line.Get(), LOCK_EX | LOCK_NB) != 0) {
        const int cause = errno == EWOULDBLOCK ? EBUSY : errno;
        line.Reset();
        errno = cause;
        return LinError(kErrorCannotConnect);
    }
    ioctl(line.Get(), TIOCEXCL);  // not a terminal (a plain file): the lock is all there is
    // A name that is not a terminal (a plain file) still gives a connection.
    termios settings = RawLineSettings(params);
    tcsetattr(line.Get(), TCSANOW, &settings);
    tcgetattr(line.Get(), &settings);
    *connection =
        new TLinRS232Connection(line.Release(), GetConnLogName(params.port), TraceFileSystem());
    return Error(0);
}
