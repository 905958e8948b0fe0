#pragma once

#include <cstdint>
#include <functional>
#include <string>

#include "base/Error.h"
#include "platform/BufferedConnection.h"
#include "platform/FileSystem.h"

// Reads one HTTP/1.1 response from a connection: the status line (only
// status 200 passes), the header lines (names in any case) and the body,
// framed by Content-Length or chunked coding with its trailer, into a file or
// a string. It reads its lines one byte per call, so the connection must be a
// buffered one. Every wait is polled on the caller's thread, one short pause
// per pass.
class THttpResponseReader {
  public:
    // Result codes, shared with the client that reports them.
    enum : unsigned long {
        kTransferFailed = 27003,
        kFileFailed = 27005,
        kIncompleteLine = 27006,
        kBadStatus = 27007,
        kBadHeaderLine = 27008,
    };

    // Asked on every pass of a wait for a line or for more of the body:
    // kErrorNothingHappened to go on waiting; any other cause ends the wait
    // with that cause.
    using StopCheck = std::function<Error()>;
    // Told how many more bytes of the body went into the file.
    using FileProgress = std::function<void(unsigned long bytes)>;

    // connection and fileSystem are not owned and must outlive the reader.
    // Empty functions stand for "never stop" and "nobody to tell".
    THttpResponseReader(TBufferedConnection& connection, IFileSystem& fileSystem,
                        StopCheck shouldStop = {}, FileProgress fileProgress = {});

    // Reads a response whose status line must come within replyTimeoutMsec.
    // The body goes into fileName (created, or truncated, even for an empty
    // body; erased again when the body fails) or, with no file name, into
    // reply (emptied first); a failed body leaves reply empty. A status
    // line other than 200, or a header line that cannot be used, fails and
    // comes back in reply.
    // With bodyMustBeFramed, an answer giving neither a length nor chunked
    // coding fails with kTransferFailed: where its body ends cannot be known.
    // With keepConnection, the trailer of a chunked body is read too, so that
    // the connection may serve the next exchange (see ConnectionReusable).
    Error Read(std::string& reply, const std::string& fileName, unsigned long replyTimeoutMsec,
               bool bodyMustBeFramed, bool keepConnection);

    // One CR LF-terminated line of at most 1022 characters, without its CR
    // LF, within timeoutMsec. Fails with kIncompleteLine when no whole line
    // came in time or within that length.
    Error ReadLine(std::string& line, unsigned long timeoutMsec);

    // False once a read has left bytes of its response on the connection.
    bool ConnectionReusable() const { return m_reusable; }
    // Whether at least one complete line arrived.
    bool ServerAnswered() const { return m_serverAnswered; }
    // The time spent waiting for lines, summed over all of them.
    std::uint32_t HeaderReadMsec() const { return m_headerReadMsec; }

  private:
    static Error TestStatusLine(const std::string& statusLine);
    static Error SplitHeaderLine(const std::string& line, std::string& name, std::string& value);
    Error ReadHeader(unsigned long& contentLength, bool& lengthGiven, bool& chunked,
                     std::string& reply);
    // Fails with kTransferFailed, leaving size alone, when the line cannot be
    // read or does not start with a hexadecimal size: carrying on with the
    // previous size would take whatever follows for body data.
    Error ReadChunkSize(unsigned long& size, bool afterChunk);
    // Reads the lines after a chunked body up to the empty one; false when
    // they cannot be read.
    bool SkipTrailer();
    Error ReadBody(unsigned long length, bool chunked, std::string& reply,
                   const std::string& fileName);
    Error ReadPortion(unsigned long length, std::string& reply, IFileWritable* file);
    Error StopRequested() const;

    TBufferedConnection& m_connection;
    IFileSystem& m_fileSystem;
    StopCheck m_shouldStop;
    FileProgress m_fileProgress;
    bool m_reusable = true;
    bool m_serverAnswered = false;
    std::uint32_t m_headerReadMsec = 0;
};
