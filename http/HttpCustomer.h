#pragma once

#include <cstdint>
#include <deque>
#include <functional>
#include <map>
#include <memory>
#include <string>

#include "base/BinaryData.h"
#include "platform/Connection.h"
#include "platform/FileSystem.h"
#include "platform/Timer.h"

class TBufferedConnection;

// Where the body of a POST goes while it arrives, when the server keeps bodies out of memory.
// Dropping it unfinished discards what it holds.
class IHttpUpload {
  public:
    virtual ~IHttpUpload() = default;
    // Stores the next bytes of the body; false when they cannot be stored.
    [[nodiscard]] virtual bool Write(const unsigned char* data, unsigned long length) = 0;
};
// Makes the place for the next body, or null when there is none.
using THttpUploadStore = std::function<std::unique_ptr<IHttpUpload>()>;

enum HTTP_REQUEST_TYPE : std::uint32_t {
    HTTP_REQUEST_INVALID = 0,
    HTTP_REQUEST_GET = 1,
    HTTP_REQUEST_POST = 2,
};

// Orders header names regardless of case, as HTTP compares them.
struct THeaderNameLess {
    bool operator()(const std::string& a, const std::string& b) const;
};

// One accepted connection of the HTTP server, the request it is sending and
// the reply going back to it. Received bytes are parsed from the start each
// time more arrive, until the header is complete or rejected; the body then
// goes where it belongs as it arrives (an upload store, memory, or nowhere for
// a GET's). A complete request waits to be collected, is answered, and only
// once the answer has gone out is the next request read. A client gets a
// deadline for its header however its bytes trickle in, and must keep its body
// coming at a least rate. Replies are queued and go out as the connection takes
// them, so no peer that stops reading can hold the server up. A customer is
// known by the User-Agent of its last complete request.
class THttpCustomer {
  public:
    // Bounds on one request. A request beyond either is rejected as too
    // large, and the customer must be disconnected once told so: the rest of
    // its bytes cannot be told apart from a following request.
    static constexpr unsigned long kMaxHeaderBytes = 64 * 1024;
    static constexpr unsigned long kMaxBodyBytes = 16 * 1024 * 1024;
    // Most bytes taken from the connection per read, and per pass.
    static constexpr unsigned long kReadChunk = 64 * 1024;
    static constexpr unsigned long kMostReadPerPass = 16 * kReadChunk;
    // Size of the pieces a file reply is read in as the connection takes it.
    static constexpr unsigned long kFilePiece = 64 * 1024;
    // How long the header of a request may take from its first byte (from the
    // connection's start for its first request), unless set otherwise.
    static constexpr unsigned long kDefaultHeaderDeadlineMs = 10000;
    // A body may take this long plus one millisecond per byte received so far:
    // at least 1000 bytes a second on average.
    static constexpr unsigned long kBodyGraceMs = 10000;
    static constexpr unsigned long kMinBodyBytesPerSecond = 1000;

    // Takes ownership of connection.
    explicit THttpCustomer(IConnection* connection);
    // POST bodies go to store from now on instead of into memory.
    void SetUploadStore(THttpUploadStore store) { m_uploadStore = std::move(store); }
    void SetHeaderDeadline(unsigned long msec) { m_headerDeadlineMsec = msec; }
    ~THttpCustomer();
    THttpCustomer(const THttpCustomer&) = delete;
    THttpCustomer& operator=(const THttpCustomer&) = delete;

    // Reads what has arrived and parses the request again; nothing is read
    // while a request waits to be collected or answered. A failed receive
    // aborts the link.
    void TryToReadRawData();
    // Parses the received bytes from their start; true when a request is
    // complete. A rejected request sets the error message instead.
    bool ValidateCurrentRequest();

    // GET or POST for an "HTTP/1.1" request line, else invalid.
    static HTTP_REQUEST_TYPE GetRequestTypeFromFirstLine(const std::string& line);
    // Takes the file name ("?name=") and serial number ("&terminalSN=") from
    // a GET request line, as they stand (no decoding).
    void FillFileNameAndSerialNumberFromFirstLine(const std::string& line);
    // Stores "Name: value", the value without the blanks around it; false
    // for a line without a colon or with a blank or nothing before it. A
    // second Content-Length of another value makes the request's framing
    // invalid.
    bool AddHeaderLine(const std::string& line);
    // Rejects the request being parsed: it waits to be collected and answered
    // with message.
    void SetErrorMessage(const std::string& message);
    // Drops the request and every received byte; of a rejected request
    // whose header is still arriving, the rest of the header goes too, as
    // it comes.
    void FlushRequest();
    // Collects the waiting request: the file name of a GET, the body of a
    // POST. The customer then awaits its reply; `order` ranks it among all
    // customers awaiting one (lower is older).
    T_BinaryData ReadRequest(std::uint64_t order = 0);

    // Queues data to go out after what is queued already and sends what the
    // connection takes now. Answers the request awaiting a reply.
    void DeliverReply(const T_BinaryData& data);
    // Queues head, then `length` bytes of file read as they go out; a file
    // that ends early aborts the link, since its reply cannot be completed.
    void DeliverFileReply(const T_BinaryData& head, std::unique_ptr<IFileReadable> file,
                          unsigned long length);
    // Sends what the connection takes of the queued output; a failed send
    // aborts the link.
    void FlushOutput();
    bool HasPendingOutput() const { return !m_output.empty(); }
    // Once the queued output has gone, the customer is to be disconnected.
    void DisconnectAfterReply() { m_disconnectAfterReply = true; }
    // Whether the customer is to be dropped now: its link failed, it was to
    // go once its reply had gone, its output has not moved for stallMsec, or
    // with nothing to do it has been silent for idleMsec.
    bool IsDone(unsigned long stallMsec, unsigned long idleMsec);

    // Whether the customer has no complete request: neither one waiting, nor
    // one awaiting or taking its reply; such a customer may be closed to make
    // room. WaitingMsec is how long it has been so, or since its last request
    // began.
    bool IsWaitingForRequest() const;
    unsigned long WaitingMsec() const { return m_waiting->GetElapsedMsec(); }
    // The peer's address as the connection reports it.
    unsigned long PeerAddress() const { return m_peerAddress; }
    // The store's upload that holds the body of the request collected last;
    // null when that body went into memory.
    std::unique_ptr<IHttpUpload> TakeUpload() { return std::move(m_upload); }

    // The link failed, or the connection is no longer connected.
    bool IsLinkAborted();
    bool IsRequestReceived() const { return m_requestReceived; }
    // A collected request that has not been answered yet.
    bool IsAwaitingReply() const { return m_awaitingReply; }
    std::uint64_t GetReplyOrder() const { return m_replyOrder; }
    const std::string& GetErrorMessage() const { return m_errorMessage; }
    HTTP_REQUEST_TYPE GetRequestType() const { return m_requestType; }
    // The serial number of the last GET on this connection that named one.
    const std::string& GetSerialNumber() const { return m_serialNumber; }
    // The User-Agent of the last complete request, or "" before there was one.
    std::string GetName() const { return m_name; }
    // A request over the size bounds, or with a framing that cannot be
    // trusted, was rejected.
    bool MustDisconnect() const { return m_mustDisconnect; }

  private:
    // A piece of queued output: bytes, and behind them the rest of a file.
    struct TOutput {
        T_BinaryData bytes;
        std::unique_ptr<IFileReadable> file;
        unsigned long fileLeft = 0;
    };

    // The header is not complete yet, unless it has already outgrown its
    // bound. Always false.
    bool AwaitRestOfHeader();
    void RejectAsTooLarge();
    // Takes bytes that arrived: the body being received first, the rest for
    // the next parse.
    void TakeBytes(const unsigned char* data, unsigned long length);
    // Passes body bytes on; the request is complete once the last has come.
    void StoreBody(const unsigned char* data, unsigned long length);
    void CompleteRequest();
    // Rejects the request with message and drops all that has been received:
    // its end cannot be found for sure, so the connection goes once it has
    // been told.
    void RejectAndDisconnect(const std::string& message);
    // The body length the header announces; false after rejecting the
    // request when it cannot be trusted.
    bool GetBodyLength(unsigned long& length);
    // Whether the empty line that ends the header, at [lineStart, lineEnd),
    // ends in a CR that is the last received byte while the lines before
    // ended in CR LF: its LF may still be on the way and would otherwise be
    // taken for the next byte of the stream.
    bool EndsInHalfLineEnd(unsigned long lineStart, unsigned long lineEnd) const;
    // The offset just behind the empty line that ends the header at the
    // start of the received bytes; false while that line has not arrived.
    bool FindHeaderEnd(unsigned long& end) const;
    // Reads the next piece of a queued file into its bytes; false when the
    // file fails or ends early.
    bool RefillFromFile(TOutput& output);
    void NoteActivity();

    std::unique_ptr<TBufferedConnection> m_connection;
    // The buffered connection's inner one: output goes straight to it, since
    // the buffered connection's own Send waits while nothing is taken.
    IConnection* m_socket;
    T_BinaryData m_received;
    T_BinaryData m_content;
    HTTP_REQUEST_TYPE m_requestType = HTTP_REQUEST_INVALID;
    bool m_linkAborted = false;
    bool m_requestReceived = false;
    bool m_awaitingReply = false;
    std::uint64_t m_replyOrder = 0;
    std::map<std::string, std::string, THeaderNameLess> m_headers;
    std::string m_errorMessage;
    std::string m_serialNumber;
    std::string m_name;
    // Why the framing of the request being parsed cannot be trusted.
    std::string m_framingError;
    // Received bytes that have not been parsed yet: newly arrived, or left
    // behind a collected request.
    bool m_parsePending = false;
    bool m_mustDisconnect = false;
    bool m_disconnectAfterReply = false;
    // The received bytes start with a rejected request whose header has not
    // all arrived; they are dropped through its end.
    bool m_skippingRejected = false;
    std::deque<TOutput> m_output;
    // Runs from the last byte that came or went.
    std::unique_ptr<ITimer> m_activity;
    // Runs from the start of the connection, of its last reply's end, of
    // the first byte of a request, or of the end of a request's header.
    std::unique_ptr<ITimer> m_waiting;
    // The header deadline runs on m_waiting.
    bool m_headerDue = true;
    unsigned long m_headerDeadlineMsec = kDefaultHeaderDeadlineMs;
    // Body bytes still to come, and received so far, of the request whose
    // header is complete.
    unsigned long m_bodyLeft = 0;
    unsigned long m_bodyReceived = 0;
    THttpUploadStore m_uploadStore;
    std::unique_ptr<IHttpUpload> m_upload;
    unsigned long m_peerAddress;
};
