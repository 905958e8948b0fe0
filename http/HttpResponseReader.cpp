#include "http/HttpResponseReader.h"

#include <algorithm>
#include <charconv>
#include <memory>
#include <utility>

#include "base/ErrorCodes.h"
#include "base/TextHelpers.h"
#include "http/HeaderText.h"
#include "http/PollPause.h"
#include "log/SystemTracer.h"

namespace {

constexpr unsigned long kHeaderLineTimeoutMs = 15000;
// The whole header after the status line, however slowly its lines come.
constexpr unsigned long kHeaderDeadlineMs = 30000;
constexpr unsigned long kBodyInactivityMs = 90000;
constexpr std::size_t kLineArea = 1024;
constexpr unsigned long kPortionSize = 4096;
constexpr unsigned short kCreateAndTruncate =
    FILE_MODE_TRUNCATE | FILE_MODE_CREATE | FILE_MODE_READ_WRITE;

void Trace(const std::string& text) {
    TSystemTracer::Instance().LogData(TSysTraceLine(text));
}

// A chunk size: hexadecimal digits, optionally followed by chunk extensions.
bool ParseChunkSize(const std::string& line, unsigned long& size) {
    const char* end = line.data() + line.size();
    unsigned long value = 0;
    auto [rest, status] = std::from_chars(line.data(), end, value, 16);
    if (status != std::errc() || (rest != end && *rest != ';' && *rest != ' ' && *rest != '\t')) {
        return false;
    }
    size = value;
    return true;
}

// A Content-Length value: decimal digits, with optional spaces or tabs
// around them. Anything else, or a length beyond the range, is no length:
// reading a body by a misread length would cut it short or run into the
// next response and still report success.
bool ParseContentLength(const std::string& value, unsigned long& length) {
    const std::string digits = TrimBlanks(value);
    if (digits.empty()) {
        return false;
    }
    const char* end = digits.data() + digits.size();
    unsigned long parsed = 0;
    auto [rest, status] = std::from_chars(digits.data(), end, parsed, 10);
    if (status != std::errc() || rest != end) {
        return false;
    }
    length = parsed;
    return true;
}

}  // namespace

THttpResponseReader::THttpResponseReader(TBufferedConnection& connection, IFileSystem& fileSystem,
                                         StopCheck shouldStop, FileProgress fileProgress)
    : m_connection(connection),
      m_fileSystem(fileSystem),
      m_shouldStop(std::move(shouldStop)),
      m_fileProgress(std::move(fileProgress)) {}

Error THttpResponseReader::Read(std::string& reply, const std::string& fileName,
                                unsigned long replyTimeoutMsec, bool bodyMustBeFramed,
                                bool keepConnection) {
    reply.clear();
    std::string statusLine;
    Error result = ReadLine(statusLine, replyTimeoutMsec);
    if (result) {
        return result;
    }
    Trace(statusLine + "\n");
    result = TestStatusLine(statusLine);
    if (result) {
        reply = statusLine;
        return result;
    }
    unsigned long contentLength = 0;
    bool lengthGiven = false;
    bool chunked = false;
    result = ReadHeader(contentLength, lengthGiven, chunked, reply);
    if (!result && bodyMustBeFramed && !chunked && !lengthGiven) {
        // The body would run until the connection closes, and a connection
        // lost half-way looks just the same: a document could pass whole
        // while a part of it is missing.
        result = Error(kTransferFailed);
    }
    if (!result) {
        result = ReadBody(contentLength, chunked, reply, fileName);
    }
    // The trailer of a chunked body is still on the line; left there, it
    // would be read as the next response's status line.
    if (!result && chunked && keepConnection && !SkipTrailer()) {
        m_reusable = false;
    }
    return result;
}

Error THttpResponseReader::StopRequested() const {
    return m_shouldStop ? m_shouldStop() : Error(kErrorNothingHappened);
}

Error THttpResponseReader::ReadLine(std::string& line, unsigned long timeoutMsec) {
    const std::unique_ptr<ITimer> timer = SystemTimers().CreateTimer(timeoutMsec);
    Error result(kIncompleteLine);
    line.clear();
    unsigned char area[kLineArea];
    std::size_t position = 0;
    do {
        const long n = m_connection.Receive(area + position, 1);
        if (n < 0) {
            break;
        }
        if (n == 0) {
            PausePolling(&m_connection, READINESS_READABLE);
            const Error stop = StopRequested();
            if (stop.Code() != kErrorNothingHappened) {
                result = stop;
            }
            continue;
        }
        if (position > 0 && area[position - 1] == '\r' && area[position] == '\n') {
            result = Error(0);
            line.assign(reinterpret_cast<const char*>(area), position - 1);
        }
        ++position;
    } while (result.Code() == kIncompleteLine && position < kLineArea && !timer->IsExpired());

    if (!result) {
        m_serverAnswered = true;
    }
    m_headerReadMsec += static_cast<std::uint32_t>(timer->GetElapsedMsec());
    return result;
}

Error THttpResponseReader::TestStatusLine(const std::string& statusLine) {
    // "HTTP/1.x 200", then the end of the line or a space and the reason.
    const bool good = statusLine.size() >= 12 && statusLine.compare(0, 7, "HTTP/1.") == 0 &&
                      IS_DIGIT_(statusLine[7]) && statusLine[8] == ' ' &&
                      statusLine.compare(9, 3, "200") == 0 &&
                      (statusLine.size() == 12 || statusLine[12] == ' ');
    return good ? Error(0) : Error(kBadStatus);
}

Error THttpResponseReader::SplitHeaderLine(const std::string& line, std::string& name,
                                           std::string& value) {
    const std::size_t separator = line.find(": ");
    if (separator == std::string::npos) {
        return Error(kBadHeaderLine);
    }
    name = line.substr(0, separator);
    value = line.substr(separator + 2);
    return Error(0);
}

Error THttpResponseReader::ReadHeader(unsigned long& contentLength, bool& lengthGiven,
                                      bool& chunked, std::string& reply) {
    const std::unique_ptr<ITimer> deadline = SystemTimers().CreateTimer(kHeaderDeadlineMs);
    for (;;) {
        std::string line;
        const unsigned long elapsed = deadline->GetElapsedMsec();
        if (elapsed >= kHeaderDeadlineMs) {
            return Error(kIncompleteLine);
        }
        Error result = ReadLine(line, std::min(kHeaderLineTimeoutMs, kHeaderDeadlineMs - elapsed));
        if (!result && line.empty()) {
            return result;
        }
        std::string name;
        std::string value;
        const Error split = SplitHeaderLine(line, name, value);
        Trace(line + "\n");
        if (!result) {
            result = split;
        }
        if (result) {
            reply = line;
            return result;
        }
        if (EqualsIgnoringCase(name, "Transfer-Encoding")) {
            // Only chunked coding can be read; any other would be taken as
            // the body itself.
            if (!EqualsIgnoringCase(TrimBlanks(value), "chunked")) {
                reply = line;
                return Error(kTransferFailed);
            }
            chunked = true;
        } else if (EqualsIgnoringCase(name, "Content-Length")) {
            unsigned long length = 0;
            // Two lengths that disagree leave the body's end unknown.
            if (!ParseContentLength(value, length) || (lengthGiven && length != contentLength)) {
                reply = line;
                return Error(kTransferFailed);
            }
            contentLength = length;
            lengthGiven = true;
        }
    }
}

Error THttpResponseReader::ReadChunkSize(unsigned long& size, bool afterChunk) {
    std::string line;
    Error result = ReadLine(line, kHeaderLineTimeoutMs);
    if (!result && afterChunk) {
        // The line that ends the previous chunk's data must be empty.
        if (!line.empty()) {
            return Error(kTransferFailed);
        }
        result = ReadLine(line, kHeaderLineTimeoutMs);
    }
    if (result || !ParseChunkSize(line, size)) {
        return Error(kTransferFailed);
    }
    return Error(0);
}

bool THttpResponseReader::SkipTrailer() {
    std::string line;
    do {
        if (ReadLine(line, kHeaderLineTimeoutMs)) {
            return false;
        }
    } while (!line.empty());
    return true;
}

Error THttpResponseReader::ReadBody(unsigned long length, bool chunked, std::string& reply,
                                    const std::string& fileName) {
    Error result(0);
    if (chunked) {
        result = ReadChunkSize(length, false);
    }
    std::unique_ptr<IFileWritable> file;
    // A file is written for an empty body too: left as it was, an older
    // file of the name would pass for the document.
    while (!result && (length != 0 || (!fileName.empty() && !file))) {
        if (!fileName.empty() && !file) {
            file.reset(m_fileSystem.OpenForWrite(fileName.c_str(), kCreateAndTruncate));
            if (!file) {
                result = Error(kFileFailed);
                break;
            }
        }
        if (length == 0) {
            break;
        }
        result = ReadPortion(length, reply, file.get());
        if (result || !chunked) {
            break;
        }
        result = ReadChunkSize(length, true);
    }
    const bool fileCreated = static_cast<bool>(file);
    file.reset();

    if (result) {
        // Nothing of a body that did not arrive whole is kept: a part of it
        // would pass for the whole.
        reply.clear();
        if (fileCreated) {
            // The transfer's failure is what the caller gets; a file left behind is written over by
            // the next attempt.
            static_cast<void>(m_fileSystem.EraseFile(fileName.c_str()));
        }
    }
    return result;
}

Error THttpResponseReader::ReadPortion(unsigned long length, std::string& reply,
                                       IFileWritable* file) {
    Error result(0);
    unsigned long received = 0;
    const std::unique_ptr<ITimer> timer = SystemTimers().CreateTimer(kBodyInactivityMs);
    unsigned char area[kPortionSize];
    while (received < length && !result) {
        const long n = m_connection.Receive(area, std::min(length - received, kPortionSize));
        if (n > 0) {
            const auto count = static_cast<unsigned long>(n);
            if (file && m_fileProgress) {
                m_fileProgress(count);
            }
            received += count;
            timer->Restart(kBodyInactivityMs);
            if (file) {
                // A short write would leave a damaged file behind a success.
                if (file->Write(area, count) != n) {
                    result = Error(kFileFailed);
                }
            } else {
                const std::string portion(reinterpret_cast<const char*>(area), count);
                reply += portion;
                Trace(portion);
            }
        } else if (n < 0 || timer->IsExpired()) {
            result = Error(kTransferFailed);
        } else {
            // Nothing yet: give the processor away while the server is slow, and end the wait
            // when asked to, as a wait for a line does.
            PausePolling(&m_connection, READINESS_READABLE);
            const Error stop = StopRequested();
            if (stop.Code() != kErrorNothingHappened) {
                result = stop;
            }
        }
    }
    return result;
}
