#include "http/HttpCustomer.h"

#include <algorithm>
#include <climits>
#include <string_view>

#include "base/Conversions.h"
#include "base/PrintableText.h"
#include "base/StringReader.h"
#include "http/HeaderText.h"
#include "platform/BufferedConnection.h"
#include "platform/System.h"

namespace {

constexpr unsigned long kNoLineLimit = 0xFFFFFFFFUL;

constexpr char kInvalidRequestType[] = "Invalid request type";
constexpr char kNoNameOrSerial[] = "No file name or serial number in GET request";
constexpr char kInvalidHeaderLine[] = "Invalid header line:";
constexpr char kRequestTooLarge[] = "Request too large";
constexpr char kCannotStore[] = "Cannot store the data";
// Most bytes of a refused line that its reply's status line echoes, control bytes escaped.
constexpr std::size_t kMostEchoed = 200;

constexpr char kContentLength[] = "Content-Length";
constexpr char kTransferEncoding[] = "Transfer-Encoding";
constexpr char kTransferCodingRefused[] = "Transfer-Encoding not supported";

bool IsHeaderName(const std::string& name) {
    return !name.empty() && name.find_first_of(kHeaderBlanks) == std::string::npos;
}

// The body length a decimal Content-Length announces. A number too long for
// 32 bits would wrap around to a small length, so any number of more than
// nine significant digits counts as beyond every bound.
unsigned long BodyLength(const std::string& digits) {
    constexpr std::size_t kMostDigits = 9;
    const std::size_t first = digits.find_first_not_of('0');
    if (first != std::string::npos && digits.size() - first > kMostDigits) {
        return ULONG_MAX;
    }
    return static_cast<unsigned long>(IntFromStdString(digits));
}

// The text of line from start up to terminator, or to its end.
std::string TextUpTo(const std::string& line, std::size_t start, const char* terminator) {
    const std::size_t end = line.find(terminator, start);
    return line.substr(start, end == std::string::npos ? std::string::npos : end - start);
}

}  // namespace

bool THeaderNameLess::operator()(const std::string& a, const std::string& b) const {
    return std::lexicographical_compare(a.begin(), a.end(), b.begin(), b.end(), [](char x, char y) {
        return HeaderLowerCase(x) < HeaderLowerCase(y);
    });
}

THttpCustomer::THttpCustomer(IConnection* connection)
    : m_connection(std::make_unique<TBufferedConnection>(connection)),
      m_socket(connection),
      m_activity(ISystem::Instance()->CreateTimer(0)),
      m_waiting(ISystem::Instance()->CreateTimer(0)),
      m_peerAddress(connection->GetPeerAddress()) {}

THttpCustomer::~THttpCustomer() = default;

void THttpCustomer::TryToReadRawData() {
    if (m_linkAborted || m_requestReceived || m_awaitingReply || HasPendingOutput() ||
        m_disconnectAfterReply || m_connection->GetState() != CONNSTATE_CONNECTED) {
        return;
    }
    unsigned char chunk[kReadChunk];
    unsigned long taken = 0;
    while (taken < kMostReadPerPass && !m_requestReceived) {
        const long count = m_connection->Receive(chunk, sizeof chunk);
        if (count < 0) {
            m_linkAborted = true;
            return;
        }
        if (count == 0) {
            break;
        }
        if (!m_headerDue && m_bodyLeft == 0 && m_received.Length() == 0) {
            // The first byte of a later request: its header's time starts now.
            m_headerDue = true;
            m_waiting->Restart(0);
        }
        TakeBytes(chunk, static_cast<unsigned long>(count));
        taken += static_cast<unsigned long>(count);
        NoteActivity();
        if (m_received.Length() > kMaxHeaderBytes + kMaxBodyBytes) {
            break;  // more than any request may hold: the parse rejects it
        }
    }
    if (m_parsePending && !m_requestReceived) {
        ValidateCurrentRequest();
    }
}

void THttpCustomer::TakeBytes(const unsigned char* data, unsigned long length) {
    if (m_bodyLeft != 0) {
        const unsigned long body = std::min(m_bodyLeft, length);
        StoreBody(data, body);
        data += body;
        length -= body;
    }
    if (length != 0) {
        m_received.Add(data, length);
        m_parsePending = true;
    }
}

void THttpCustomer::StoreBody(const unsigned char* data, unsigned long length) {
    m_bodyLeft -= length;
    m_bodyReceived += length;
    if (m_upload) {
        if (!m_upload->Write(data, length)) {
            m_upload.reset();
            m_bodyLeft = 0;
            RejectAndDisconnect(kCannotStore);
            return;
        }
    } else if (m_requestType == HTTP_REQUEST_POST) {
        m_content.Add(data, length);
    }
    // A GET may carry a body too; it is dropped, so that its bytes are not
    // taken for a request of their own.
    if (m_bodyLeft == 0) {
        CompleteRequest();
    }
}

void THttpCustomer::CompleteRequest() {
    const auto userAgent = m_headers.find("User-Agent");
    m_name = userAgent == m_headers.end() ? std::string() : userAgent->second;
    m_requestReceived = true;
}

bool THttpCustomer::ValidateCurrentRequest() {
    m_errorMessage.clear();
    m_requestReceived = false;
    m_headers.clear();
    m_framingError.clear();
    m_parsePending = false;
    if (m_skippingRejected) {
        unsigned long headerEnd = 0;
        if (!FindHeaderEnd(headerEnd)) {
            return AwaitRestOfHeader();
        }
        m_received = m_received.Copy(headerEnd, T_BinaryData::kToEnd);
        m_skippingRejected = false;
    }

    TStringReader reader(m_received, true, kNoLineLimit);
    const auto position = [&] { return m_received.Length() - reader.GetRemainingDataSize(); };
    std::string line;
    if (!reader.GetNextString(line)) {
        return AwaitRestOfHeader();
    }
    // The reader drops NUL bytes, which would join the parts of a name around them into
    // another name: the request line is taken as it came.
    line = m_received.ToString(0, position());
    line.erase(line.find_last_not_of("\r\n") + 1);
    m_requestType = GetRequestTypeFromFirstLine(line);
    if (m_requestType == HTTP_REQUEST_INVALID) {
        SetErrorMessage(kInvalidRequestType);
        return false;
    }
    if (m_requestType == HTTP_REQUEST_GET) {
        FillFileNameAndSerialNumberFromFirstLine(line);
        if (m_content.Length() == 0 || m_serialNumber.empty()) {
            SetErrorMessage(kNoNameOrSerial);
            return false;
        }
    }
    for (;;) {
        const unsigned long lineStart = position();
        if (!reader.GetNextString(line)) {
            return AwaitRestOfHeader();
        }
        if (line.empty()) {
            if (EndsInHalfLineEnd(lineStart, position())) {
                return AwaitRestOfHeader();
            }
            break;
        }
        if (!AddHeaderLine(line)) {
            SetErrorMessage(kInvalidHeaderLine + PrintableText(line, kMostEchoed));
            return false;
        }
    }
    if (position() > kMaxHeaderBytes) {
        RejectAsTooLarge();
        return false;
    }

    unsigned long length = 0;
    if (!GetBodyLength(length)) {
        return false;
    }
    if (length > kMaxBodyBytes) {
        RejectAsTooLarge();
        return false;
    }
    if (m_requestType == HTTP_REQUEST_POST) {
        m_content.Clear();
        if (length != 0 && m_uploadStore) {
            m_upload = m_uploadStore();
            if (!m_upload) {
                RejectAndDisconnect(kCannotStore);
                return false;
            }
        }
    }
    // The header is complete: the body's time starts, and what follows the
    // header is its first part.
    m_headerDue = false;
    m_waiting->Restart(0);
    m_bodyReceived = 0;
    m_bodyLeft = length;
    const T_BinaryData rest = reader.GetRemainingData(T_BinaryData::kToEnd);
    m_received.Clear();
    m_parsePending = false;
    if (length == 0) {
        CompleteRequest();
    }
    TakeBytes(rest.GetData(), rest.Length());
    return m_requestReceived && m_errorMessage.empty();
}

bool THttpCustomer::GetBodyLength(unsigned long& length) {
    if (!m_framingError.empty()) {
        RejectAndDisconnect(m_framingError);
        return false;
    }
    if (m_headers.count(kTransferEncoding) != 0) {
        // Only a length frames a request here; a coded body would be read
        // as requests of its own.
        RejectAndDisconnect(kTransferCodingRefused);
        return false;
    }
    const auto header = m_headers.find(kContentLength);
    if (header == m_headers.end()) {
        length = 0;
        return true;
    }
    if (header->second.empty() || !ContainsOnlyDigits(header->second)) {
        // Any other reading would cut the stream at a guessed place.
        RejectAndDisconnect(kInvalidHeaderLine +
                            PrintableText(kContentLength + (": " + header->second), kMostEchoed));
        return false;
    }
    length = BodyLength(header->second);
    return true;
}

HTTP_REQUEST_TYPE THttpCustomer::GetRequestTypeFromFirstLine(const std::string& line) {
    if (line.find("HTTP/1.1") == std::string::npos) {
        return HTTP_REQUEST_INVALID;
    }
    if (line.starts_with("POST ")) {
        return HTTP_REQUEST_POST;
    }
    if (line.starts_with("GET ")) {
        return HTTP_REQUEST_GET;
    }
    return HTTP_REQUEST_INVALID;
}

void THttpCustomer::FillFileNameAndSerialNumberFromFirstLine(const std::string& line) {
    static constexpr std::string_view kNameKey = "?name=";
    static constexpr std::string_view kSerialKey = "&terminalSN=";

    m_content.Clear();
    const std::size_t name = line.find(kNameKey);
    if (name == std::string::npos) {
        return;
    }
    m_content = T_BinaryData(TextUpTo(line, name + kNameKey.size(), "&"));

    m_serialNumber.clear();
    const std::size_t serial = line.find(kSerialKey);
    if (serial == std::string::npos) {
        return;
    }
    m_serialNumber = TextUpTo(line, serial + kSerialKey.size(), " HTTP");
}

bool THttpCustomer::AddHeaderLine(const std::string& line) {
    const std::size_t colon = line.find(':');
    if (colon == std::string::npos) {
        return false;
    }
    const std::string name = line.substr(0, colon);
    if (!IsHeaderName(name)) {
        // "Name : value" would be read as another name by one peer and as
        // this one by the next.
        return false;
    }
    const std::string value = TrimBlanks(line.substr(colon + 1));
    const auto known = m_headers.find(name);
    if (known != m_headers.end() && known->second != value &&
        EqualsIgnoringCase(name, kContentLength)) {
        m_framingError = kInvalidHeaderLine + PrintableText(line, kMostEchoed);
    }
    m_headers[name] = value;
    return true;
}

void THttpCustomer::SetErrorMessage(const std::string& message) {
    m_errorMessage = message;
    m_requestReceived = true;
}

void THttpCustomer::FlushRequest() {
    // A rejected request whose header has not all arrived keeps its bytes
    // until the rest has: its remaining lines would otherwise be taken for
    // requests of their own, and each answered again.
    unsigned long headerEnd = 0;
    m_skippingRejected = !m_errorMessage.empty() && !m_mustDisconnect && !FindHeaderEnd(headerEnd);
    if (!m_skippingRejected) {
        m_received.Clear();
    }
    m_headers.clear();
    m_content.Clear();
    m_requestReceived = false;
    m_requestType = HTTP_REQUEST_INVALID;
    m_errorMessage.clear();
    m_parsePending = false;
}

T_BinaryData THttpCustomer::ReadRequest(std::uint64_t order) {
    m_requestReceived = false;
    m_awaitingReply = true;
    m_replyOrder = order;
    return m_content;
}

void THttpCustomer::DeliverReply(const T_BinaryData& data) {
    DeliverFileReply(data, nullptr, 0);
}

void THttpCustomer::DeliverFileReply(const T_BinaryData& head, std::unique_ptr<IFileReadable> file,
                                     unsigned long length) {
    if (m_output.empty()) {
        NoteActivity();  // the stall limit counts from here, not from the request
    }
    m_awaitingReply = false;
    m_output.push_back(TOutput{head, std::move(file), length});
    FlushOutput();
}

void THttpCustomer::FlushOutput() {
    if (m_output.empty() || IsLinkAborted()) {
        return;
    }
    while (!m_output.empty()) {
        TOutput& output = m_output.front();
        if (output.bytes.Length() == 0 && output.fileLeft != 0 && !RefillFromFile(output)) {
            m_linkAborted = true;
            return;
        }
        if (output.bytes.Length() != 0) {
            const long sent = m_socket->Send(output.bytes.GetData(), output.bytes.Length());
            if (sent < 0) {
                m_linkAborted = true;
                return;
            }
            if (sent > 0) {
                NoteActivity();
                output.bytes.Cut(0, static_cast<unsigned long>(sent));
            }
            if (output.bytes.Length() != 0) {
                return;  // the connection takes no more for now
            }
        }
        if (output.fileLeft == 0) {
            m_output.pop_front();
        }
    }
    if (!m_awaitingReply) {
        NoteActivity();  // the idle time counts from the end of the reply
        m_waiting->Restart(0);
    }
}

bool THttpCustomer::RefillFromFile(TOutput& output) {
    unsigned char piece[kFilePiece];
    const long got = output.file->Read(piece, std::min(output.fileLeft, kFilePiece));
    if (got <= 0) {
        return false;
    }
    output.bytes.Add(piece, static_cast<unsigned long>(got));
    output.fileLeft -= static_cast<unsigned long>(got);
    if (output.fileLeft == 0) {
        output.file.reset();
    }
    return true;
}

bool THttpCustomer::IsWaitingForRequest() const {
    return !m_requestReceived && !m_awaitingReply && !HasPendingOutput() && !m_disconnectAfterReply;
}

bool THttpCustomer::IsDone(unsigned long stallMsec, unsigned long idleMsec) {
    if (IsLinkAborted()) {
        return true;
    }
    if (m_bodyLeft != 0) {
        return m_waiting->GetElapsedMsec() >
               kBodyGraceMs + m_bodyReceived * 1000 / kMinBodyBytesPerSecond;
    }
    if (m_headerDue && IsWaitingForRequest() &&
        m_waiting->GetElapsedMsec() >= m_headerDeadlineMsec) {
        return true;
    }
    if (HasPendingOutput()) {
        return m_activity->GetElapsedMsec() >= stallMsec;
    }
    if (m_disconnectAfterReply) {
        return true;
    }
    const bool busy = m_requestReceived || m_awaitingReply;
    return !busy && m_activity->GetElapsedMsec() >= idleMsec;
}

bool THttpCustomer::IsLinkAborted() {
    return m_linkAborted || m_connection->GetState() != CONNSTATE_CONNECTED;
}

void THttpCustomer::NoteActivity() {
    m_activity->Restart(0);
}

bool THttpCustomer::AwaitRestOfHeader() {
    if (m_received.Length() > kMaxHeaderBytes) {
        RejectAsTooLarge();
    }
    return false;
}

void THttpCustomer::RejectAsTooLarge() {
    RejectAndDisconnect(kRequestTooLarge);
}

void THttpCustomer::RejectAndDisconnect(const std::string& message) {
    m_upload.reset();
    m_bodyLeft = 0;
    m_received.Clear();
    m_content.Clear();
    m_headers.clear();
    m_mustDisconnect = true;
    SetErrorMessage(message);
}

bool THttpCustomer::FindHeaderEnd(unsigned long& end) const {
    TStringReader reader(m_received, true, kNoLineLimit);
    const auto position = [&] { return m_received.Length() - reader.GetRemainingDataSize(); };
    std::string line;
    if (!reader.GetNextString(line)) {
        return false;
    }
    for (;;) {
        const unsigned long lineStart = position();
        if (!reader.GetNextString(line)) {
            return false;
        }
        if (line.empty()) {
            end = position();
            return !EndsInHalfLineEnd(lineStart, end);
        }
    }
}

bool THttpCustomer::EndsInHalfLineEnd(unsigned long lineStart, unsigned long lineEnd) const {
    if (lineEnd != m_received.Length() || m_received[lineEnd - 1] != '\r') {
        return false;
    }
    if (lineEnd - lineStart >= 2) {
        return false;  // an LF CR pair, complete as it stands
    }
    // A client whose previous line ended in a CR of its own ends its lines
    // with CR alone: no LF is coming.
    return m_received[lineEnd - 2] != '\r';
}
