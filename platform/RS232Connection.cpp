#include "platform/RS232Connection.h"

#include <unistd.h>

#include "log/LogEvent.h"
#include "platform/DescriptorReadiness.h"

namespace {

constexpr unsigned long kWriteFailed = 20003;
constexpr int kReadWaitMs = 25;

}  // namespace

TRS232Connection::TRS232Connection(const char* logName, IFileSystem* traceFileSystem)
    : TLoggerToFile(logName, traceFileSystem, 0), lastError_(0) {
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
    return lastError_;
}

TLinRS232Connection::TLinRS232Connection(long fileDescriptor, const char* logName,
                                         IFileSystem* traceFileSystem)
    : TRS232Connection(logName, traceFileSystem), fd_(static_cast<int>(fileDescriptor)) {}

TLinRS232Connection::~TLinRS232Connection() {
    CloseConnection();
}

void TLinRS232Connection::CloseConnection() {
    if (fd_ >= 0) {
        close(fd_);
        fd_ = -1;
    }
}

long TLinRS232Connection::ReceiveData(unsigned char* buffer, unsigned long length) {
    if (IsSocketWithErrors(fd_)) {
        return -1;
    }
    if (!PollDescriptor(fd_, READINESS_READABLE, kReadWaitMs).readable) {
        return 0;
    }
    return read(fd_, buffer, length);
}

long TLinRS232Connection::SendData(const unsigned char* data, unsigned long length) {
    if (!WaitSocketReadyForWriting(fd_)) {
        SetLastError(LinError(kWriteFailed));
        return -1;
    }
    const ssize_t written = write(fd_, data, length);
    if (written < 0) {
        SetLastError(LinError(kWriteFailed));
        return -1;
    }
    return written;
}
