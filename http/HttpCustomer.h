#pragma once

#include <cstdint>
#include <map>
#include <memory>
#include <string>

#include "base/BinaryData.h"
#include "platform/Connection.h"

class TBufferedConnection;

enum HTTP_REQUEST_TYPE : std::uint32_t {
    HTTP_REQUEST_INVALID = 0,
    HTTP_REQUEST_GET = 1,
    HTTP_REQUEST_POST = 2,
};

// One accepted connection of the HTTP server and the request it is sending.
// Received bytes are parsed from the start each time more arrive, until a
// request is complete or rejected; it then waits to be collected, and
// nothing more is read from the connection meanwhile. A customer is known by
// the User-Agent of its requests.
class THttpCustomer {
  public:
    // Bounds on one request. A request beyond either is rejected as too
    // large, and the customer must be disconnected once told so: the rest of
    // its bytes cannot be told apart from a following request.
    static constexpr unsigned long cMaxHeaderBytes = 64 * 1024;
    static constexpr unsigned long cMaxBodyBytes = 16 * 1024 * 1024;
    // Most bytes taken from the connection per read.
    static constexpr unsigned long cReadChunk = 1024;

    // Takes ownership of connection.
    explicit THttpCustomer(IConnection* connection);
    ~THttpCustomer();
    THttpCustomer(const THttpCustomer&) = delete;
    THttpCustomer& operator=(const THttpCustomer&) = delete;

    // Reads what has arrived, at most cReadChunk bytes, and parses the
    // request again. A failed receive aborts the link.
    void TryToReadRawData();
    // Parses the received bytes from their start; true when a request is
    // complete. A rejected request sets the error message instead.
    bool ValidateCurrentRequest();

    // GET or POST for an "HTTP/1.1" request line, else invalid.
    static HTTP_REQUEST_TYPE GetRequestTypeFromFirstLine(const std::string& line);
    // Takes the file name ("?name=") and serial number ("&terminalSN=") from
    // a GET request line, as they stand (no decoding).
    void FillFileNameAndSerialNumberFromFirstLine(const std::string& line);
    // Stores "Name: value"; false for a line without a colon. The one
    // character after the colon is taken to be a space and skipped.
    bool AddHeaderLine(const std::string& line);
    // Rejects the request being parsed: it waits to be collected and answered
    // with message.
    void SetErrorMessage(const std::string& message);
    // Drops the request and every received byte; of a rejected request
    // whose header is still arriving, the rest of the header goes too, as
    // it comes.
    void FlushRequest();
    // Collects the waiting request: the file name of a GET, the body of a
    // POST.
    T_BinaryData ReadRequest();
    // Sends data with one send; a failure, or a send cut short, aborts the
    // link.
    void DeliverReply(const T_BinaryData& data);

    // The link failed, or the connection is no longer connected.
    bool IsLinkAborted();
    bool IsRequestReceived() const { return m_requestReceived; }
    const std::string& GetErrorMessage() const { return m_errorMessage; }
    HTTP_REQUEST_TYPE GetRequestType() const { return m_requestType; }
    // The serial number of the last GET on this connection that named one.
    const std::string& GetSerialNumber() const { return m_serialNumber; }
    // The User-Agent of the request being parsed, or "".
    std::string GetName() const;
    // A request over the size bounds was rejected.
    bool MustDisconnect() const { return m_mustDisconnect; }

  private:
    // The header is not complete yet, unless it has already outgrown its
    // bound. Always false.
    bool AwaitRestOfHeader();
    void RejectAsTooLarge();
    // Whether the empty line that ends the header, at [lineStart, lineEnd),
    // ends in a CR that is the last received byte while the lines before
    // ended in CR LF: its LF may still be on the way and would otherwise be
    // taken for the next byte of the stream.
    bool EndsInHalfLineEnd(unsigned long lineStart, unsigned long lineEnd) const;
    // The offset just behind the empty line that ends the header at the
    // start of the received bytes; false while that line has not arrived.
    bool FindHeaderEnd(unsigned long& end) const;

    std::unique_ptr<TBufferedConnection> m_connection;
    T_BinaryData m_received;
    T_BinaryData m_content;
    HTTP_REQUEST_TYPE m_requestType = HTTP_REQUEST_INVALID;
    bool m_linkAborted = false;
    bool m_requestReceived = false;
    std::map<std::string, std::string> m_headers;
    std::string m_errorMessage;
    std::string m_serialNumber;
    // Received bytes that have not been parsed yet: newly arrived, or left
    // behind a collected request.
    bool m_parsePending = false;
    bool m_mustDisconnect = false;
    // The received bytes start with a rejected request whose header has not
    // all arrived; they are dropped through its end.
    bool m_skippingRejected = false;
};
