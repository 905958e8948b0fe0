#pragma once

#include <cstdint>
#include <functional>

#include "base/Logger.h"

class IFileSystem;
class IFileWritable;

// Appends each event as a timestamped CR LF entry, with hex dumps of sent
// and received bytes, to a file of its own. The file is opened and closed
// for every event, so the log is complete on disk at all times. With a size
// limit, a file that has reached it is cut to its last limit/2 bytes before
// the next entry. A log file that is a symbolic link is never followed: its
// entries are dropped.
class TLoggerToFile : public ILogger {
  public:
    // Told of every entry that could not be written because its file would
    // not open: the file's name and the system's error number (ELOOP for a
    // symbolic link).
    using TFailureListener = std::function<void(const char* fileName, int error)>;

    // A null file system disables logging; a size limit of 0 disables trimming.
    TLoggerToFile(const char* fileName, IFileSystem* fileSystem, unsigned long sizeLimit);

    // The one listener of the process; failures are silent without one.
    static void SetFailureListener(TFailureListener listener);
    // What every log of the process writes from its next entry on: with
    // payloads off, no entries of sent and received bytes (the others
    // stay); a size limit, applied to each log that has none of its own
    // (0: none). By default payloads are on and there is no limit.
    static void SetTrafficPolicy(bool payloads, unsigned long sizeLimit);

    void LogData(const TLogEvent& event) override;
    // From the next entry on, trims at this size instead; 0 disables trimming.
    void SetSizeLimit(unsigned long sizeLimit) {
        m_sizeLimit = static_cast<std::uint32_t>(sizeLimit);
    }
    void TrimFile();
    void DumpHexDataToFile(char direction, const unsigned char* data, unsigned long length,
                           IFileWritable* file);

  private:
    char m_fileName[256];
    IFileSystem* m_fileSystem;
    std::uint32_t m_sizeLimit;
};
