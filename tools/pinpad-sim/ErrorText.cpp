#include "pinpad-sim/ErrorText.h"

#include <cstring>

#include "base/ErrorCodes.h"
#include "http/HttpClient.h"
#include "platform/FileSystem.h"

namespace {

// Operating-system causes hang below a code as this base plus errno.
constexpr unsigned long kSystemErrorBase = 22000;

struct TWords {
    unsigned long code;
    const char* text;
};

const TWords kWords[] = {
    {kErrorNotSupported, "not supported"},
    {FILE_ERROR_OPEN, "the file cannot be opened"},
    {FILE_ERROR_ERASE, "the file cannot be erased"},
    {FILE_ERROR_RENAME, "the file cannot be renamed"},
    {kErrorCannotConnect, "connection refused"},
    {kErrorConnectionBroken, "connection broken"},
    {kErrorTransferFailed, "sending or receiving failed"},
    {kErrorCannotCreateSocket, "no socket for the call"},
    {kErrorCannotListen, "cannot listen on the port"},
    {kErrorNoHostAddress, "the host name has no address"},
    {kErrorNoNetworkInterface, "no link to the agent"},
    {kErrorInterfaceTimeout, "the link to the agent did not come up in time"},
    {kErrorInterfaceFailed, "the link to the agent failed"},
    {kErrorNotConnected, "no connection to the server: refused, unreachable or unanswered"},
    {kErrorConnectFailed, "the connection failed"},
    {THttpClient::kBadUrl, "the URL has no host or no port"},
    {THttpClient::kNoConnection, "no connection to the server"},
    {THttpClient::kTransferFailed, "the transfer failed or broke off"},
    {THttpClient::kFileFailed, "the body cannot be written"},
    {THttpClient::kIncompleteLine, "the server's answer did not come or broke off"},
    {THttpClient::kBadStatus, "the server's status line is not HTTP 200"},
    {THttpClient::kBadHeaderLine, "a bad header line in the server's answer"},
};

// "HTTP 404 Not Found" of "HTTP/1.1 404 Not Found"; empty when the line is
// no status line.
std::string StatusWords(const std::string& statusLine) {
    const std::size_t space = statusLine.find(' ');
    if (!statusLine.starts_with("HTTP/") || space == std::string::npos ||
        space + 1 == statusLine.size()) {
        return "";
    }
    std::string words = "HTTP " + statusLine.substr(space + 1);
    // Nothing of the server's text that could mislead a terminal.
    for (char& c : words) {
        if (static_cast<unsigned char>(c) < 0x20 || c == 0x7F) {
            c = '?';
        }
    }
    return words;
}

}  // namespace

std::string ErrorText(const Error& error, const std::string& statusLine) {
    const unsigned long code = error.Code();
    std::string words = code == THttpClient::kBadStatus ? StatusWords(statusLine) : "";
    for (const TWords& known : kWords) {
        if (words.empty() && known.code == code) {
            words = known.text;
        }
    }
    if (words.empty()) {
        words = "error";
        return words + " " + std::to_string(code);
    }
    std::string detail = std::to_string(code);
    const std::optional<Error> cause = error.Sub();
    if (cause && cause->Code() > kSystemErrorBase) {
        detail +=
            ": " + std::string(std::strerror(static_cast<int>(cause->Code() - kSystemErrorBase)));
    }
    return words + " (" + detail + ")";
}
