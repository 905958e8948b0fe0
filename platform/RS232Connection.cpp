#include "platform/RS232Connection.h"

#include <unistd.h>

#include "base/ErrorCodes.h"
#include "log/LogEvent.h"
#include "platform/DescriptorReadiness.h"

namespace {

constexpr int kReadWaitMs = 25;

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
    return CONNSTATE_CONNECTED;
}

Error TRS232Connection::GetLastError() {
    return m_lastError;
}

TLinRS232Connection::TLinRS232Connection(long fileDescriptor, const char* logName,
                                         IFileSystem* traceFileSystem)
    : TRS232Connection(logName, traceFileSystem), m_fd(static_cast<int>(fileDescriptor)) {}

TLinRS232Connection::~TLinRS232Connection() {
    CloseConnection();
}

void TLinRS232Connection::CloseConnection() {
    if (m_fd >= 0) {
        close(m_fd);
        m_fd = -1;
    }
}

long TLinRS232Connection::ReceiveData(unsigned char* buffer, unsigned long length) {
    if (IsSocketWithErrors(m_fd)) {
        return -1;
    }
    if (!PollDescriptor(m_fd, READINESS_READABLE, kReadWaitMs).readable) {
        return 0;
    }
    return read(m_fd, buffer, length);
}

long TLinRS232Connection::SendData(const unsigned char* data, unsigned long length) {
    if (!WaitSocketReadyForWriting(m_fd)) {
        SetLastError(LinError(kErrorConnectionBroken));
        return -1;
    }
    const ssize_t written = write(m_fd, data, length);
    if (written < 0) {
        SetLastError(LinError(kErrorConnectionBroken));
        return -1;
    }
    return written;
}
