#include "http/HttpCustomer.h"

#include <climits>
#include <string_view>

#include "base/Conversions.h"
#include "base/StringReader.h"
#include "tunnel/BufferedConnection.h"

namespace {

constexpr unsigned long cNoLineLimit = 0xFFFFFFFFUL;

constexpr char cInvalidRequestType[] = "Invalid request type";
constexpr char cNoNameOrSerial[] = "No file name or serial number in GET request";
constexpr char cInvalidHeaderLine[] = "Invalid header line:";
constexpr char cRequestTooLarge[] = "Request too large";

constexpr char cContentLength[] = "Content-Length";

// The body length a decimal Content-Length announces. A number too long for
// 32 bits would wrap around to a small length, so any number of more than
// nine significant digits counts as beyond every bound.
unsigned long BodyLength(const std::string& digits) {
    constexpr std::size_t cMostDigits = 9;
    const std::size_t first = digits.find_first_not_of('0');
    if (first != std::string::npos && digits.size() - first > cMostDigits) {
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

THttpCustomer::THttpCustomer(IConnection* connection)
    : m_connection(std::make_unique<TBufferedConnection>(connection)) {}

THttpCustomer::~THttpCustomer() = default;

void THttpCustomer::TryToReadRawData() {
    if (m_linkAborted || m_requestReceived || m_connection->GetState() != CONNSTATE_CONNECTED) {
        return;
    }
    unsigned char chunk[cReadChunk];
    const long count = m_connection->Receive(chunk, sizeof chunk);
    if (count < 0) {
        m_linkAborted = true;
        return;
    }
    if (count > 0) {
        m_received.Add(chunk, static_cast<unsigned long>(count));
        m_parsePending = true;
    }
    if (m_parsePending) {
        ValidateCurrentRequest();
    }
}

bool THttpCustomer::ValidateCurrentRequest() {
    m_errorMessage.clear();
    m_requestReceived = false;
    m_headers.clear();
    m_parsePending = false;
    if (m_skippingRejected) {
        unsigned long headerEnd = 0;
        if (!FindHeaderEnd(headerEnd)) {
            return AwaitRestOfHeader();
        }
        m_received = m_received.Copy(headerEnd, T_BinaryData::kToEnd);
        m_skippingRejected = false;
    }

    TStringReader reader(m_received, true, cNoLineLimit);
    const auto position = [&] { return m_received.Length() - reader.GetRemainingDataSize(); };
    std::string line;
    if (!reader.GetNextString(line)) {
        return AwaitRestOfHeader();
    }
    m_requestType = GetRequestTypeFromFirstLine(line);
    if (m_requestType == HTTP_REQUEST_INVALID) {
        SetErrorMessage(cInvalidRequestType);
        return false;
    }
    if (m_requestType == HTTP_REQUEST_GET) {
        FillFileNameAndSerialNumberFromFirstLine(line);
        if (m_content.Length() == 0 || m_serialNumber.empty()) {
            SetErrorMessage(cNoNameOrSerial);
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
            SetErrorMessage(cInvalidHeaderLine + line);
            return false;
        }
    }
    if (position() > cMaxHeaderBytes) {
        RejectAsTooLarge();
        return false;
    }

    if (m_requestType == HTTP_REQUEST_POST) {
        const auto header = m_headers.find(cContentLength);
        const std::string lengthText = header == m_headers.end() ? "" : header->second;
        if (!ContainsOnlyDigits(lengthText)) {
            // Any other reading would cut the stream at a guessed place.
            SetErrorMessage(cInvalidHeaderLine + (cContentLength + (": " + lengthText)));
            return false;
        }
        const unsigned long length = BodyLength(lengthText);
        if (length > cMaxBodyBytes) {
            RejectAsTooLarge();
            return false;
        }
        if (reader.GetRemainingDataSize() < length) {
            return false;
        }
        m_content = reader.GetRemainingData(length);
    }
    // What follows is the start of the next request.
    m_received = reader.GetRemainingData(T_BinaryData::kToEnd);
    m_parsePending = m_received.Length() > 0;
    m_requestReceived = true;
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
    static constexpr std::string_view cNameKey = "?name=";
    static constexpr std::string_view cSerialKey = "&terminalSN=";

    m_content.Clear();
    const std::size_t name = line.find(cNameKey);
    if (name == std::string::npos) {
        return;
    }
    m_content = T_BinaryData(TextUpTo(line, name + cNameKey.size(), "&"));

    m_serialNumber.clear();
    const std::size_t serial = line.find(cSerialKey);
    if (serial == std::string::npos) {
        return;
    }
    m_serialNumber = TextUpTo(line, serial + cSerialKey.size(), " HTTP");
}

bool THttpCustomer::AddHeaderLine(const std::string& line) {
    const std::size_t colon = line.find(':');
    if (colon == std::string::npos) {
        return false;
    }
    // A line that ends with its colon has an empty value.
    const std::size_t valueStart = colon + 2;
    m_headers[line.substr(0, colon)] = valueStart < line.size() ? line.substr(valueStart) : "";
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

T_BinaryData THttpCustomer::ReadRequest() {
    m_requestReceived = false;
    return m_content;
}

void THttpCustomer::DeliverReply(const T_BinaryData& data) {
    if (m_linkAborted || m_connection->GetState() != CONNSTATE_CONNECTED) {
        return;
    }
    const long sent = m_connection->Send(data.GetData(), data.Length());
    if (sent < 0 || static_cast<unsigned long>(sent) != data.Length()) {
        m_linkAborted = true;
    }
}

bool THttpCustomer::IsLinkAborted() {
    return m_linkAborted || m_connection->GetState() != CONNSTATE_CONNECTED;
}

std::string THttpCustomer::GetName() const {
    const auto userAgent = m_headers.find("User-Agent");
    return userAgent == m_headers.end() ? std::string() : userAgent->second;
}

bool THttpCustomer::AwaitRestOfHeader() {
    if (m_received.Length() > cMaxHeaderBytes) {
        RejectAsTooLarge();
    }
    return false;
}

void THttpCustomer::RejectAsTooLarge() {
    m_received.Clear();
    m_content.Clear();
    m_headers.clear();
    m_mustDisconnect = true;
    SetErrorMessage(cRequestTooLarge);
}

bool THttpCustomer::FindHeaderEnd(unsigned long& end) const {
    TStringReader reader(m_received, true, cNoLineLimit);
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
