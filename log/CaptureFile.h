#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "platform/Descriptor.h"

// Where a capture goes: one file, a ring of bounded files, or standard output. Every file
// starts with the same header (the section and its interfaces); blocks are gathered and put
// down whole, so a file cut short by a killed process still reads up to its last whole block.
// Files are new files only: created exclusively with mode 0640, never through a symbolic link.
// A failed write stops the capture for good, told once; the program goes on without it.
class TCaptureFile {
  public:
    // How far a ring of files may grow.
    struct TBounds {
        // Bytes one file may hold; 0: one file, unbounded.
        std::uint64_t fileBytes = 0;
        // Files kept; the oldest goes when one more is started.
        unsigned files = 1;
    };
    // Hears why the capture stopped, as one line.
    using TReporter = std::function<void(const std::string& line)>;

    // The name of the index'th file (from 1) of a ring at path: the number goes before the
    // extension ("line.pcapng" gives "line_00001.pcapng").
    static std::string RingFileName(const std::string& path, unsigned index);
    // Opens path ("-" for standard output, which takes no bounds) and writes the header.
    // Null, with the reason in error, when it cannot.
    static std::unique_ptr<TCaptureFile> Open(const std::string& path, TBounds bounds,
                                              std::vector<std::uint8_t> header, TReporter report,
                                              std::string& error);
    ~TCaptureFile();
    TCaptureFile(const TCaptureFile&) = delete;
    TCaptureFile& operator=(const TCaptureFile&) = delete;

    // Appends one block; it reaches the file by the next Flush at the latest.
    void Write(const std::vector<std::uint8_t>& block);
    // Puts down what was gathered.
    void Flush();
    // Whether a failure has stopped the capture.
    bool Stopped() const { return m_stopped; }

    // Gathered bytes beyond which Write flushes by itself.
    static constexpr std::size_t kGatherBytes = 64 * 1024;

  private:
    TCaptureFile(std::string path, TBounds bounds, std::vector<std::uint8_t> header,
                 TReporter report);
    // Opens the next file of the ring (or the only file) and writes the header into it.
    bool StartFile(std::string& error);
    void Stop(const std::string& why);

    std::string m_path;
    TBounds m_bounds;
    std::vector<std::uint8_t> m_header;
    TReporter m_report;
    TDescriptor m_file;
    std::string m_fileName;  // of the current file, for messages
    bool m_standardOutput = false;
    // Files of the ring started so far; the current one is the last.
    unsigned m_started = 0;
    std::uint64_t m_fileBytes = 0;  // written into the current file, header included
    std::vector<std::uint8_t> m_gathered;
    bool m_stopped = false;
};
