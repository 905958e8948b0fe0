#pragma once

#include "base/Error.h"
#include "platform/Connection.h"
#include "platform/Descriptor.h"
#include "platform/RS232.h"
#include "platform/linux/LoggerToFile.h"

class IFileSystem;

// A serial line as a connection, with every block sent and received logged.
// Passing trouble on the line shows as negative results and in GetLastError;
// a line that is lost for good (a hang-up, a device that vanished, or
// failures that keep coming) reports itself disconnected, so its user can
// give it up and open the port anew.
class TRS232Connection : public IConnection, public TLoggerToFile {
  public:
    TRS232Connection(const char* logName, IFileSystem* traceFileSystem);
    ~TRS232Connection() override;

    long Send(const unsigned char* data, unsigned long length) override;
    long Receive(unsigned char* buffer, unsigned long length) override;
    unsigned long GetPeerAddress() override;
    // Connected until the line is lost, disconnected from then on.
    CONNSTATE GetState() override;
    Error GetLastError() override;

    virtual long SendData(const unsigned char* data, unsigned long length) = 0;
    virtual long ReceiveData(unsigned char* buffer, unsigned long length) = 0;

    // Failures in a row after which the line counts as lost.
    static constexpr unsigned kFailuresUntilLost = 3;

  protected:
    void SetLastError(const Error& error) { m_lastError = error; }
    // A transfer failed for `reason`. A definite failure (the device has
    // gone) loses the line at once, any other after kFailuresUntilLost in a
    // row; the reason of the loss becomes the last error.
    void NoteFailure(const Error& reason, bool definite);
    // Bytes moved: the failures before were passing trouble.
    void NoteSuccess() { m_failuresInRow = 0; }
    bool IsLost() const { return m_lost; }

  private:
    Error m_lastError;
    unsigned m_failuresInRow = 0;
    bool m_lost = false;
};

// A serial line on an open terminal descriptor, which it owns.
class TLinRS232Connection : public TRS232Connection, public ISerialLine {
  public:
    TLinRS232Connection(long fileDescriptor, const char* logName, IFileSystem* traceFileSystem);
    // Closes the port before the disconnected entry is logged.
    ~TLinRS232Connection() override;
    TLinRS232Connection(const TLinRS232Connection&) = delete;
    TLinRS232Connection& operator=(const TLinRS232Connection&) = delete;

    // Waits at most 3 seconds for the line to take output, then writes once;
    // the caller offers what was not taken again.
    long SendData(const unsigned char* data, unsigned long length) override;
    // Waits for input at most the receive wait (25 ms unless set otherwise),
    // then reads once; 0 when none came.
    long ReceiveData(unsigned char* buffer, unsigned long length) override;

    // The descriptor while the line is usable and a terminal; -1 otherwise
    // (a plain file is always ready, so waiting on it would never sleep).
    int GetDescriptor() const override;
    void SetReceiveWait(unsigned long milliseconds) override;

    void CloseConnection();

    static constexpr int kDefaultReceiveWaitMs = 25;

  private:
    TDescriptor m_fd;
    int m_receiveWaitMs = kDefaultReceiveWaitMs;
    bool m_isTerminal;
};
