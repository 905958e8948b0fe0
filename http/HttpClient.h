#pragma once

#include <cstdint>
#include <memory>
#include <string>

#include "base/Error.h"
#include "base/ErrorCodes.h"
#include "http/HttpProgress.h"
#include "http/HttpResponseReader.h"
#include "http/Url.h"
#include "platform/BufferedConnection.h"
#include "platform/Device.h"
#include "platform/FileSystem.h"
#include "platform/NetworkInterface.h"

// Figures of the client's most recent exchange.
struct THttpStatistics {
    THttpStatistics() { Clear(); }
    void Clear();

    bool waitedForInterface;  // the interface was not up at once
    bool serverAnswered;      // at least one complete response line arrived
    std::uint32_t interfaceStartMsec;
    std::uint32_t connectMsec;
    std::uint32_t headerReadMsec;  // summed over all response lines
    std::string interfaceName;     // display name of the interface last tried
};

// One kind of network interface the client may bring up, in the order tried.
struct TPossibleInterface {
    DEVICE kind;
    const char* name;
    unsigned long timeoutMsec;  // how long it may take to come up
};

inline constexpr unsigned kPossibleInterfaceCount = 5;
extern const TPossibleInterface PossibleInterfaces[kPossibleInterfaceCount];

// printf formats of the request header: document, host, user agent and body
// length, in this order. The GET header has no place for the length.
extern const char cStandardHttpPostHeader[];
extern const char cStandardHttpGetHeader[];

// A small HTTP/1.1 client for one server: a GET whose body goes into a file,
// or a POST of a JSON text whose response body comes back as a string. It
// brings up the first network interface of PossibleInterfaces that works,
// connects, sends the request, accepts only status 200 and reads the body
// (Content-Length or chunked; header names in any case). Everything is
// polled on the caller's thread.
class THttpClient {
  public:
    // Result codes of the client's own; the shared generic and communication
    // codes it also returns are in base/ErrorCodes.h.
    enum : unsigned long {
        kStopInterfaceSearch = 8000,
        kBadUrl = 27001,
        kNoConnection = 27002,
        kTransferFailed = THttpResponseReader::kTransferFailed,
        kFileFailed = THttpResponseReader::kFileFailed,
        kIncompleteLine = THttpResponseReader::kIncompleteLine,
        kBadStatus = THttpResponseReader::kBadStatus,
        kBadHeaderLine = THttpResponseReader::kBadHeaderLine,
    };

    // A URL without a port gets port 80.
    THttpClient(const std::string& userAgent, const std::string& url,
                unsigned long replyTimeoutMsec, IFileSystem* fileSystem);
    THttpClient(const std::string& userAgent, const TUrl& url, unsigned long replyTimeoutMsec,
                IFileSystem* fileSystem);
    virtual ~THttpClient();

    THttpClient(const THttpClient&) = delete;
    THttpClient& operator=(const THttpClient&) = delete;

    // Unlike the constructor, a URL without a port gets port 0, which makes
    // every exchange fail until a URL with a port is set. An open connection
    // stays open while the protocol, host and port stay the same.
    void SetURL(const std::string& newUrl);
    // Null stands for the default file system, as in the constructor.
    void SetFileSystem(IFileSystem* fs);
    // Whom the exchanges tell their steps and ask whether to stop (not owned;
    // it must outlive the client). Null stands for the desktop, the default.
    void SetProgress(IHttpProgress* progress);
    THttpStatistics* GetStatistics() { return &m_statistics; }

    // A GET whose body is written into fileName, an empty body as an empty
    // file; expectedSize (0 for none) drives the progress messages. An
    // answer that gives neither a length nor chunked coding fails with
    // kTransferFailed: where its body ends cannot be known. On kBadStatus
    // statusLine, when given, holds the server's status line.
    Error GetFile(const std::string& fileName, unsigned long expectedSize,
                  std::string* statusLine = nullptr);
    // A GET whose body comes back in body, framed as GetFile requires.
    Error GetDocument(std::string& body);
    // A POST of body (a GET when body is empty) whose response body comes
    // back in reply. With keepConnection a successful exchange leaves the
    // connection open for the next one.
    Error Post(const std::string& body, std::string& reply, bool keepConnection);
    Error PutFile(const std::string& fileName);
    Error TalkToServer(const std::string& body, std::string& reply, const std::string& fileName,
                       bool keepConnection);

  protected:
    // Chooses and brings up the interface to connect through. A derived
    // client may choose differently.
    virtual Error SelectNetworkInterface(INetworkInterface** iface);

    // Makes the next row of PossibleInterfaces the first to try.
    void SelectNextInterface();
    // Brings up the interface of that kind within timeoutMsec.
    Error EnableNetworkInterface(DEVICE kind, unsigned long timeoutMsec, INetworkInterface** iface);
    // Selects an interface and connects to the URL's host through it.
    Error ConnectToHost(std::unique_ptr<TBufferedConnection>& newConnection);

    THttpStatistics m_statistics;

  private:
    // The status line, the header and the body of the response.
    Error ReadResponse(std::string& reply, const std::string& fileName, bool keepConnection);
    // The document's text between its first "=" and the next "&".
    std::string GetFileNameFromUrl() const;
    std::string FormatRequest(const std::string& body) const;
    void ShowProgress(unsigned long newBytes);
    void DisplayStatusMessage(const std::string& text) const;

    std::unique_ptr<TBufferedConnection> m_connection;
    IFileSystem* m_fileSystem = nullptr;  // not owned
    IHttpProgress* m_progress = nullptr;  // not owned
    TUrl m_url;
    std::string m_userAgent;
    std::uint32_t m_replyTimeoutMsec;
    std::uint32_t m_interfaceIndex = 0;  // the row of PossibleInterfaces tried first
    std::uint32_t m_expectedFileSize = 0;
    std::uint32_t m_receivedFileBytes = 0;
    std::uint32_t m_lastShownPercent = 0;
    // The exchange fails when the answer does not say where its body ends.
    bool m_bodyMustBeFramed = false;
};
