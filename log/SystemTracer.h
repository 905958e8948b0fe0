#pragma once

#include <cstdint>
#include <string>

#include "base/LogEvent.h"
#include "base/Logger.h"

// A free-text line for the system trace. The text is the whole event: it is
// returned as the marker and carries its own line ends.
class TSysTraceLine : public TLogEvent {
  public:
    explicit TSysTraceLine(std::string text);

    const char* GetEventMarker() const override;

  private:
    std::string m_text;
};

// The process-wide diagnostic trace. Events go to the file "qntrace.txt" in
// the default file system, to the first serial port, to the printer (which
// does nothing here) or nowhere, and only while the tracer is enabled. It
// starts switched off with no output.
class TSystemTracer : public ILogger {
  public:
    // Where events go.
    enum : std::uint32_t {
        OUTPUT_NONE = 0,
        OUTPUT_PRINTER = 1,
        OUTPUT_SERIAL = 2,
        OUTPUT_FILE = 3,
    };

    static TSystemTracer& Instance();

    TSystemTracer(const TSystemTracer&) = delete;
    TSystemTracer& operator=(const TSystemTracer&) = delete;

    void SetOutput(std::uint32_t newOutput) { m_output = newOutput; }
    void SetEnabled(bool on) { m_enabled = on; }

    void LogData(const TLogEvent& event) override;

    // The marker, and for an event with data a line feed and the data (as
    // upper-case hex and a line feed when the event asks for a hex dump).
    static std::string EventToString(const TLogEvent& event);

  private:
    TSystemTracer() = default;

    void LogDataToFile(const TLogEvent& event);
    void LogDataToSerial(const TLogEvent& event);
    void LogDataToPrinter(const TLogEvent& event);

    std::uint32_t m_output = OUTPUT_NONE;
    bool m_enabled = false;
};
