#pragma once

#include "base/Error.h"
#include "log/LoggerToFile.h"
#include "platform/Connection.h"

class IFileSystem;

// A serial line as a connection: always connected, with every block sent
// and received logged. Trouble on the line shows as negative results and
// in GetLastError, never as a state change.
class TRS232Connection : public IConnection, public TLoggerToFile {
  public:
    TRS232Connection(const char* logName, IFileSystem* traceFileSystem);
    ~TRS232Connection() override;

    long Send(const unsigned char* data, unsigned long length) override;
    long Receive(unsigned char* buffer, unsigned long length) override;
    unsigned long GetPeerAddress() override;
    CONNSTATE GetState() override;
    Error GetLastError() override;

    virtual long SendData(const unsigned char* data, unsigned long length) = 0;
    virtual long ReceiveData(unsigned char* buffer, unsigned long length) = 0;

  protected:
    void SetLastError(const Error& error) { m_lastError = error; }

  private:
    Error m_lastError;
};

// A serial line on an open terminal descriptor, which it owns.
class TLinRS232Connection : public TRS232Connection {
  public:
    TLinRS232Connection(long fileDescriptor, const char* logName, IFileSystem* traceFileSystem);
    // Closes the port before the disconnected entry is logged.
    ~TLinRS232Connection() override;
    TLinRS232Connection(const TLinRS232Connection&) = delete;
    TLinRS232Connection& operator=(const TLinRS232Connection&) = delete;

    // Waits at most 3 seconds for the line to take output, then writes once;
    // the caller offers what was not taken again.
    long SendData(const unsigned char* data, unsigned long length) override;
    // Waits at most 25 ms for input, then reads once; 0 when none came.
    long ReceiveData(unsigned char* buffer, unsigned long length) override;

    void CloseConnection();

  private:
    int m_fd;
};
