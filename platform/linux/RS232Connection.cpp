#include "platform/linux/RS232Connection.h"

#include <poll.h>
#include <sys/ioctl.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <climits>

#include "base/ErrorCodes.h"
#include "base/LogEvent.h"
#include "platform/DescriptorReadiness.h"

namespace {

// Errors after which the device will not come back on this descriptor: it
// was unplugged or removed, or the descriptor no longer refers to it.
bool MeansDeviceGone(int error) {
    return error == EIO || error == ENODEV || error == ENXIO || error == EBADF;
}

}  // namespace

TRS232Connection::TRS232Connection(const char* logName, IFileSystem* traceFileSystem)
    : TLoggerToFile(logName, traceFileSystem, 0), m_lastError(0) {
    LogData(T_LE_Connected(nullptr));
}

TRS232Connection::~TRS232Connection() {
    LogData(T_LE_Disconnected());
}

long TRS232Connection::Send(const unsigned char* data, unsigned long length) {
    const long sent = SendData(data, length);
    if (sent > 0) {
        LogData(T_LE_Sent(data, static_cast<int>(sent)));
    }
    return sent;
}

long TRS232Connection::Receive(unsigned char* buffer, unsigned long length) {
    const long received = ReceiveData(buffer, length);
    if (received > 0) {
        LogData(T_LE_Received(buffer, static_cast<int>(received)));
    }
    return received;
}

unsigned long TRS232Connection::GetPeerAddress() {
    return 0;
}

CONNSTATE TRS232Connection::GetState() {
    return m_lost ? CONNSTATE_DISCONNECTED : CONNSTATE_CONNECTED;
}

Error TRS232Connection::GetLastError() {
    return m_lastError;
}

void TRS232Connection::NoteFailure(const Error& reason, bool definite) {
    ++m_failuresInRow;
    if (!m_lost && (definite || m_failuresInRow >= kFailuresUntilLost)) {
        m_lost = true;
        m_lastError = reason;
    }
}

TLinRS232Connection::TLinRS232Connection(long fileDescriptor, const char* logName,
                                         IFileSystem* traceFileSystem)
    : TRS232Connection(logName, traceFileSystem),
      m_fd(static_cast<int>(fileDescriptor)),
      m_isTerminal(isatty(m_fd.Get()) == 1) {}

TLinRS232Connection::~TLinRS232Connection() {
    CloseConnection();
}

void TLinRS232Connection::CloseConnection() {
    if (m_fd.IsOpen()) {
        // A terminal that stays (a pseudo-terminal whose other end is open)
        // would otherwise keep refusing this program's next open of it.
        if (m_isTerminal) {
            ioctl(m_fd.Get(), TIOCNXCL);
        }
        m_fd.Reset();
    }
}

int TLinRS232Connection::GetDescriptor() const {
    return m_isTerminal && !IsLost() ? m_fd.Get() : -1;
}

void TLinRS232Connection::SetReceiveWait(unsigned long milliseconds) {
    m_receiveWaitMs = static_cast<int>(std::min<unsigned long>(milliseconds, INT_MAX));
}

long TLinRS232Connection::ReceiveData(unsigned char* buffer, unsigned long length) {
    if (IsLost()) {
        return -1;
    }
    pollfd line{m_fd.Get(), POLLIN | POLLPRI, 0};
    if (poll(&line, 1, m_receiveWaitMs) <= 0) {
        return 0;
    }
    if ((line.revents & (POLLPRI | POLLNVAL)) != 0) {
        NoteFailure(Error(kErrorConnectionBroken), (line.revents & POLLNVAL) != 0);
        return -1;
    }
    // Input that arrived before a hang-up is still read; the hang-up shows
    // once it is used up.
    const ssize_t count = read(m_fd.Get(), buffer, length);
    if (count > 0) {
        NoteSuccess();
        return count;
    }
    const bool hungUp = (line.revents & (POLLHUP | POLLERR)) != 0;
    if (count < 0) {
        if (errno == EAGAIN || errno == EINTR) {
            return 0;
        }
        NoteFailure(LinError(kErrorConnectionBroken), hungUp || MeansDeviceGone(errno));
        return -1;
    }
    if (hungUp) {
        NoteFailure(Error(kErrorConnectionBroken), true);
        return -1;
    }
    return 0;  // the end of a plain file: nothing more for now
}

long TLinRS232Connection::SendData(const unsigned char* data, unsigned long length) {
    if (IsLost()) {
        return -1;
    }
    if (!WaitSocketReadyForWriting(m_fd.Get())) {
        SetLastError(LinError(kErrorConnectionBroken));
        NoteFailure(GetLastError(), false);
        return -1;
    }
    const ssize_t written = write(m_fd.Get(), data, length);
    if (written < 0) {
        const bool gone = MeansDeviceGone(errno);
        SetLastError(LinError(kErrorConnectionBroken));
        NoteFailure(GetLastError(), gone);
        return -1;
    }
    if (written > 0) {
        NoteSuccess();
    }
    return written;
}
