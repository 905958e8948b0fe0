#include "platform/linux/LoggerToFile.h"

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <utility>

#include "base/LogEvent.h"
#include "platform/FileSystem.h"
#include "platform/System.h"

namespace {

constexpr const char* kTrimTempName = "tmpflnm";
constexpr unsigned long kRowBytes = 16;
constexpr std::size_t kHexColumns = 3 * kRowBytes;  // "XX " per byte, the last space a bar
constexpr std::size_t kRowColumns = kHexColumns + kRowBytes;
constexpr std::size_t kTrimChunk = 1000;
constexpr std::size_t kDumpBatch = 64 * 1024;
// Rows of a dump start in this column, below the marker of the header.
constexpr std::size_t kDumpIndent = 16;

void WriteText(IFileWritable& file, std::string_view text) {
    file.Write(reinterpret_cast<const unsigned char*>(text.data()), text.size());
}

// "DD.MM HH:MM:SS " followed directly by the marker.
std::string EntryHeader(unsigned long date, unsigned long time, const char* marker) {
    char stamp[128];
    std::snprintf(stamp, sizeof stamp, "%02lu.%02lu %02lu:%02lu:%02lu ", date % 100,
                  (date / 100) % 100, time / 10000, (time / 100) % 100, time % 100);
    return std::string(stamp) + marker;
}

// Logs never follow a symbolic link: what remote peers send must not land
// in whatever file a link in the trace directory points at.
constexpr unsigned short kAppendMode = FILE_MODE_APPEND | FILE_MODE_NO_FOLLOW;

TLoggerToFile::TFailureListener& FailureListener() {
    static TLoggerToFile::TFailureListener listener;
    return listener;
}

struct TTrafficPolicy {
    bool payloads = true;
    std::uint32_t sizeLimit = 0;
};

TTrafficPolicy& TrafficPolicy() {
    static TTrafficPolicy policy;
    return policy;
}

void ReportOpenFailure(const char* fileName, IFileSystem& fileSystem) {
    if (FailureListener()) {
        const std::optional<Error> cause = fileSystem.GetLastError().Sub();
        FailureListener()(fileName, cause ? static_cast<int>(cause->Code()) : 0);
    }
}

}  // namespace

void TLoggerToFile::SetTrafficPolicy(bool payloads, unsigned long sizeLimit) {
    TrafficPolicy() = {payloads, static_cast<std::uint32_t>(sizeLimit)};
}

void TLoggerToFile::SetFailureListener(TFailureListener listener) {
    FailureListener() = std::move(listener);
}

TLoggerToFile::TLoggerToFile(const char* fileName, IFileSystem* fileSystem, unsigned long sizeLimit)
    : m_fileName{}, m_fileSystem(fileSystem), m_sizeLimit(static_cast<std::uint32_t>(sizeLimit)) {
    if (fileName) {
        std::strncpy(m_fileName, fileName, sizeof m_fileName - 1);
    }
}

void TLoggerToFile::LogData(const TLogEvent& event) {
    if (!m_fileSystem || (event.NeedsHexDump() && !TrafficPolicy().payloads)) {
        return;
    }
    TrimFile();

    unsigned long date = 0;
    unsigned long time = 0;
    if (ISystem::Instance()->GetDateTime(&date, &time).Code() != 0) {
        return;
    }
    std::unique_ptr<IFileWritable> file(m_fileSystem->OpenForWrite(m_fileName, kAppendMode));
    if (!file) {
        ReportOpenFailure(m_fileName, *m_fileSystem);
        return;
    }

    const unsigned char* data = event.GetData();
    long length = event.GetLength();
    if (data && length == 0) {
        length = static_cast<long>(std::strlen(reinterpret_cast<const char*>(data)));
    }
    const char* marker = event.GetEventMarker();
    WriteText(*file, EntryHeader(date, time, marker));

    if (data && length > 0) {
        if (event.NeedsHexDump()) {
            // One-character markers (">", "<") lead the rows themselves; a longer
            // marker gets a line of its own and the rows start below it.
            char direction = marker[0];
            if (std::strlen(marker) >= 2) {
                WriteText(*file, "\r\n" + std::string(kDumpIndent, ' '));
                direction = ' ';
            }
            DumpHexDataToFile(direction, data, static_cast<unsigned long>(length), file.get());
        } else {
            file->Write(data, static_cast<unsigned long>(length));
        }
    }
    WriteText(*file, "\r\n");
}

void TLoggerToFile::TrimFile() {
    const std::uint32_t limit = m_sizeLimit != 0 ? m_sizeLimit : TrafficPolicy().sizeLimit;
    if (limit == 0 || !m_fileSystem) {
        return;
    }
    const std::uint32_t size = m_fileSystem->GetFileLength(m_fileName);
    if (size < limit) {
        return;
    }
    // Without the rename, "tmpflnm" could be a leftover of another log, whose
    // bytes must not end up in this one.
    if (m_fileSystem->RenameFile(m_fileName, kTrimTempName).Code() != 0) {
        return;
    }
    // Opened for reading only, but without following a link either.
    std::unique_ptr<IFileReadable> source(
        m_fileSystem->OpenForWrite(kTrimTempName, FILE_MODE_NO_FOLLOW));
    if (!source) {
        return;
    }
    std::unique_ptr<IFileWritable> target(m_fileSystem->OpenForWrite(m_fileName, kAppendMode));
    if (!target) {
        return;
    }
    const std::uint32_t keep = limit / 2;
    const long start = static_cast<long>(size - keep);
    if (source->Seek(static_cast<unsigned long>(start)) != start) {
        return;  // the old contents stay in the temporary file
    }
    unsigned char chunk[kTrimChunk];
    for (std::uint32_t left = keep; left > 0;) {
        const long got = source->Read(chunk, std::min<std::uint32_t>(left, kTrimChunk));
        if (got <= 0) {
            break;
        }
        target->Write(chunk, static_cast<unsigned long>(got));
        left -= static_cast<std::uint32_t>(got);
    }
    source.reset();
    target.reset();
    // A temporary file left behind is written over by the next trim.
    static_cast<void>(m_fileSystem->EraseFile(kTrimTempName));
}

void TLoggerToFile::DumpHexDataToFile(char direction, const unsigned char* data,
                                      unsigned long length, IFileWritable* file) {
    static constexpr char kHexDigits[] = "0123456789ABCDEF";
    if (!file || !data) {
        return;
    }
    // Rows are written in batches: one write per row made a dump of a large
    // block cost more than the transfer it logs. Each row is built in place
    // at the batch's end.
    std::string batch;
    for (unsigned long rowStart = 0; rowStart < length; rowStart += kRowBytes) {
        const std::size_t row = batch.size();
        batch.append(kRowColumns, ' ');
        for (unsigned long i = 0; i < kRowBytes && rowStart + i < length; ++i) {
            const unsigned char byte = data[rowStart + i];
            batch[row + 3 * i] = kHexDigits[byte >> 4];
            batch[row + 3 * i + 1] = kHexDigits[byte & 0x0F];
            batch[row + kHexColumns + i] = byte < 0x20 ? '.' : static_cast<char>(byte);
        }
        batch[row + kHexColumns - 1] = '|';
        if (rowStart + kRowBytes < length) {
            batch += "\r\n";
            batch.append(kDumpIndent - 1, ' ');
            batch += direction;
        }
        if (batch.size() >= kDumpBatch) {
            WriteText(*file, batch);
            batch.clear();
        }
    }
    WriteText(*file, batch);
}
