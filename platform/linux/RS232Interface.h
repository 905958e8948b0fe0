#pragma once

#include <termios.h>

#include <string>

#include "base/Error.h"
#include "platform/RS232.h"

class IFileSystem;

// A serial port device. It keeps no descriptor of its own: every Connect
// opens the port anew, and the connection logs into "CommLog<port>.txt" in
// the trace file system.
class TRS232Interface : public IRS232Interface {
  public:
    explicit TRS232Interface(IFileSystem* traceFileSystem);

    Error Open() override;
    void Close() override;

    const char* GetConnLogName(long port);

  protected:
    IFileSystem* TraceFileSystem() const { return m_traceFileSystem; }

  private:
    IFileSystem* m_traceFileSystem;
    char m_logName[100];
};

// The terminal settings a serial connection gets: raw (no input, output or
// local processing, no control characters, so reads return at once with
// whatever has arrived), with the requested speed and framing. Speeds
// without a setting of their own give 9600 baud, data bits other than 5 to
// 7 give 8.
termios RawLineSettings(const TRs232Params& params);

// The device a port number opens: "/dev/ttyS<port-1>" (port 1 is the
// machine's first serial port), except port 9, which is the file "ttyS99" in
// the current directory.
std::string SerialDeviceName(unsigned short port);

// Opens "/dev/ttyS<port-1>" (port 9: the file "ttyS99" in the current
// directory) raw, non-blocking, close-on-exec, with the requested speed and
// framing, and takes it for this connection alone (an exclusive lock and the
// terminal's exclusive mode). A port that another connection holds fails with
// 20001 and the cause 22000 + EBUSY, its settings untouched.
class TLinRS232Interface : public TRS232Interface {
  public:
    explicit TLinRS232Interface(IFileSystem* traceFileSystem);

    Error Connect(const TRs232Params& params, IConnection** connection) override;
};
