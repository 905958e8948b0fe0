#pragma once

class TLogEvent;

// Receiver of loggable events. Loggers are parts of longer-lived objects
// (connections, the tracer) and are never deleted through this interface.
class ILogger {
  public:
    virtual void LogData(const TLogEvent& event) = 0;

  protected:
    ~ILogger() = default;
};
