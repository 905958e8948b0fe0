#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "log/CaptureFile.h"
#include "log/TunnelCapture.h"

// The agent's live capture: stamps what the line and the TCP connections report with the time
// and hands it to the capture file. Once the file has failed, recording costs next to nothing.
class TCaptureRecorder {
  public:
    // Microseconds since 1970.
    using TClock = std::function<std::uint64_t()>;

    // What --capture, --capture-size and --capture-files ask for.
    struct TSettings {
        std::string path;  // "-" for standard output
        TCaptureFile::TBounds bounds;
    };

    // Starts the capture of the serial port's line. Null, with the reason in error, when the
    // capture cannot be opened; report hears why it stopped later.
    static std::unique_ptr<TCaptureRecorder> Open(const TSettings& settings,
                                                  const std::string& lineName,
                                                  TCaptureFile::TReporter report,
                                                  std::string& error, TClock clock = nullptr);

    void RecordLine(tunnelcapture::TLineDirection direction, tunnelcapture::TLineKind kind,
                    const std::uint8_t* data, std::size_t length);
    void RecordTcp(bool outbound, const std::vector<std::uint8_t>& packet);
    // Puts down what was recorded.
    void Flush() {
        m_file->Flush();
        m_waiting = false;
    }
    // Puts down what was recorded once the oldest of it has waited kFlushDelayUs; the line
    // calls it whenever it finds nothing to read, so that a live view lags little and a busy
    // line costs few writes.
    void FlushIfDue() {
        if (m_waiting && m_clock() - m_waitingSince >= kFlushDelayUs) {
            Flush();
        }
    }
    static constexpr std::uint64_t kFlushDelayUs = 200000;
    std::uint64_t Now() const { return m_clock(); }

  private:
    TCaptureRecorder(std::unique_ptr<TCaptureFile> file, TClock clock)
        : m_file(std::move(file)), m_clock(std::move(clock)) {}

    void Write(const std::vector<std::uint8_t>& block, std::uint64_t now);

    std::unique_ptr<TCaptureFile> m_file;
    TClock m_clock;
    // Whether recorded blocks wait to be put down, and since when.
    bool m_waiting = false;
    std::uint64_t m_waitingSince = 0;
};

// The system's real-time clock in microseconds since 1970.
std::uint64_t SystemMicroseconds();
