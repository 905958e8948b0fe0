#include "http/HttpClient.h"

#include <cstdio>

#include "http/DesktopProgress.h"
#include "http/HttpResponseReader.h"
#include "http/PollPause.h"
#include "log/SystemTracer.h"
#include "platform/System.h"
#include "platform/Timer.h"

const TPossibleInterface PossibleInterfaces[kPossibleInterfaceCount] = {
    {DEVICE_ETHERNET, "Ethernet", 5000}, {DEVICE_WIFI, "WiFi", 5000}, {DEVICE_GPRS, "GPRS", 80000},
    {DEVICE_USB, "USB", 3000},           {DEVICE_COM, "COM", 3000},
};

const char cStandardHttpPostHeader[] =
    "POST /%s HTTP/1.1\r\nHost: %s\r\nConnection: keep-alive\r\nUser-Agent: %s\r\n"
    "Accept: application/json, application/*+json\r\n"
    "Content-type: application/json;charset=UTF-8\r\nContent-Length: %lu\r\n\r\n";
const char cStandardHttpGetHeader[] =
    "GET /%s HTTP/1.1\r\nHost: %s\r\nConnection: keep-alive\r\nUser-Agent: %s\r\n"
    "Accept: application/octet-stream\r\nContent-Type: application/octet-stream\r\n\r\n";

namespace {

constexpr unsigned long kConnectTimeoutMs = 15000;
constexpr unsigned kProgressStep = 5;

// Status texts, Windows-1251.
const char kSendingText[] = "\xCE\xF2\xEF\xF0\xE0\xE2\xEA\xE0";
const char kReceivingText[] = "\xCF\xF0\xE8\xE5\xEC";
const char kDoneText[] = "\xC3\xEE\xF2\xEE\xE2\xEE";

void Trace(const std::string& text) {
    TSystemTracer::Instance().LogData(TSysTraceLine(text));
}

bool IsCode(const Error& error, unsigned long code) {
    return error.Code() == code;
}

}  // namespace

void THttpStatistics::Clear() {
    waitedForInterface = false;
    serverAnswered = false;
    interfaceStartMsec = 0;
    connectMsec = 0;
    headerReadMsec = 0;
    interfaceName.clear();
}

THttpClient::THttpClient(const std::string& userAgent, const std::string& url,
                         unsigned long replyTimeoutMsec, IFileSystem* fileSystem)
    : THttpClient(userAgent, TUrl(url, 80), replyTimeoutMsec, fileSystem) {}

THttpClient::THttpClient(const std::string& userAgent, const TUrl& url,
                         unsigned long replyTimeoutMsec, IFileSystem* fileSystem)
    : m_url(url),
      m_userAgent(userAgent),
      m_replyTimeoutMsec(static_cast<std::uint32_t>(replyTimeoutMsec)) {
    SetFileSystem(fileSystem);
    SetProgress(nullptr);
}

THttpClient::~THttpClient() = default;

void THttpClient::SetURL(const std::string& newUrl) {
    const TUrl previous = m_url;
    m_url = TUrl(newUrl, 0);
    // A kept connection goes on serving documents of its own server only;
    // requests for another server must not go to it.
    if (m_url.GetProtocol() != previous.GetProtocol() || m_url.GetHost() != previous.GetHost() ||
        m_url.GetPort() != previous.GetPort()) {
        m_connection.reset();
    }
}

void THttpClient::SetProgress(IHttpProgress* progress) {
    m_progress = progress ? progress : &TDesktopProgress::Instance();
}

void THttpClient::SetFileSystem(IFileSystem* fs) {
    // The system's default file system, as the utility facade's DefaultFS gives it.
    m_fileSystem = fs ? fs : ISystem::Instance()->GetDefaultFileSystem();
}

Error THttpClient::GetFile(const std::string& fileName, unsigned long expectedSize,
                           std::string* statusLine) {
    m_expectedFileSize = static_cast<std::uint32_t>(expectedSize);
    m_receivedFileBytes = 0;
    m_lastShownPercent = 0;
    m_bodyMustBeFramed = true;
    std::string reply;
    const Error result = TalkToServer("", reply, fileName, false);
    if (statusLine != nullptr) {
        *statusLine = result.Code() == kBadStatus ? reply : "";
    }
    return result;
}

Error THttpClient::GetDocument(std::string& body) {
    m_expectedFileSize = 0;
    m_receivedFileBytes = 0;
    m_lastShownPercent = 0;
    m_bodyMustBeFramed = true;
    return TalkToServer("", body, "", false);
}

Error THttpClient::Post(const std::string& body, std::string& reply, bool keepConnection) {
    m_expectedFileSize = 0;
    m_receivedFileBytes = 0;
    m_lastShownPercent = 0;
    m_bodyMustBeFramed = false;
    return TalkToServer(body, reply, "", keepConnection);
}

Error THttpClient::PutFile(const std::string&) {
    return Error(kErrorNotSupported);
}

Error THttpClient::TalkToServer(const std::string& body, std::string& reply,
                                const std::string& fileName, bool keepConnection) {
    m_statistics.Clear();
    reply.clear();
    if (!m_url.IsValidSymbolicAddress()) {
        return Error(kBadUrl);
    }
    Error result(0);
    if (!m_connection) {
        result = ConnectToHost(m_connection);
    }
    Trace("Connecting to " + m_url.GetFullUrl() + ", result=" + std::to_string(result.Code()) +
          "\n\n");
    if (result) {
        return result;
    }

    const std::string request = FormatRequest(body) + body;
    DisplayStatusMessage(kSendingText);
    const long sent =
        m_connection->Send(reinterpret_cast<const unsigned char*>(request.data()), request.size());
    if (sent != static_cast<long>(request.size())) {
        result = Error(kTransferFailed);
    }
    Trace("Sent:\n-----\n" + request + "\n\n");
    DisplayStatusMessage(kReceivingText);
    Trace("Received:\n---------\n");

    if (!result) {
        result = ReadResponse(reply, fileName, keepConnection);
    }
    DisplayStatusMessage(kDoneText);

    if (m_connection && (result || !keepConnection)) {
        m_connection.reset();
    }
    Trace("\n\nDisconnected.\n\n\n\n");
    return result;
}

Error THttpClient::ReadResponse(std::string& reply, const std::string& fileName,
                                bool keepConnection) {
    THttpResponseReader reader(
        *m_connection, *m_fileSystem, [this] { return m_progress->ShouldStop(); },
        [this](unsigned long bytes) { ShowProgress(bytes); });
    const Error result =
        reader.Read(reply, fileName, m_replyTimeoutMsec, m_bodyMustBeFramed, keepConnection);
    if (reader.ServerAnswered()) {
        m_statistics.serverAnswered = true;
    }
    m_statistics.headerReadMsec += reader.HeaderReadMsec();
    if (!reader.ConnectionReusable()) {
        m_connection.reset();
    }
    return result;
}

std::string THttpClient::FormatRequest(const std::string& body) const {
    const char* format = body.empty() ? cStandardHttpGetHeader : cStandardHttpPostHeader;
    const std::string document = m_url.GetDoc();
    const std::string host = m_url.GetHost();
    const unsigned long length = body.size();
    // Measured first, so that no document, host or user agent is cut short.
    const int size = std::snprintf(nullptr, 0, format, document.c_str(), host.c_str(),
                                   m_userAgent.c_str(), length);
    std::string header(static_cast<std::size_t>(size) + 1, '\0');
    std::snprintf(header.data(), header.size(), format, document.c_str(), host.c_str(),
                  m_userAgent.c_str(), length);
    header.resize(static_cast<std::size_t>(size));
    return header;
}

Error THttpClient::SelectNetworkInterface(INetworkInterface** iface) {
    Error result(kErrorNoNetworkInterface);
    for (unsigned attempt = 0; attempt < kPossibleInterfaceCount; ++attempt) {
        *iface = nullptr;
        const TPossibleInterface& row = PossibleInterfaces[m_interfaceIndex];
        m_statistics.interfaceName = row.name;
        result = EnableNetworkInterface(row.kind, row.timeoutMsec, iface);
        if (!result || IsCode(result, kStopInterfaceSearch)) {
            break;
        }
        SelectNextInterface();
    }
    return result;
}

void THttpClient::SelectNextInterface() {
    m_interfaceIndex = (m_interfaceIndex + 1) % kPossibleInterfaceCount;
}

Error THttpClient::EnableNetworkInterface(DEVICE kind, unsigned long timeoutMsec,
                                          INetworkInterface** iface) {
    *iface =
        dynamic_cast<INetworkInterface*>(ISystem::Instance()->GetDeviceLayer()->GetDevice(kind, 0));
    if (!*iface) {
        return Error(kErrorNoNetworkInterface);
    }
    m_statistics.waitedForInterface = false;
    const Error opened = (*iface)->Open();

    Error waiting(kErrorNothingHappened);
    const std::unique_ptr<ITimer> timer = SystemTimers().CreateTimer(timeoutMsec);
    unsigned long state = (*iface)->GetCurrentState();
    while (state != INetworkInterface::kStateUp && state != INetworkInterface::kStateFailed &&
           !timer->IsExpired() && IsCode(waiting, kErrorNothingHappened)) {
        m_statistics.waitedForInterface = true;
        state = (*iface)->GetCurrentState();
        waiting = m_progress->ShouldStop();
        if (!IsCode(waiting, kErrorNothingHappened)) {
            Trace("Screen error " + std::to_string(waiting.Code()) + "\n");
        }
        // Nothing to sleep on while an interface comes up.
        PausePolling(nullptr, 0);
    }
    if (state == INetworkInterface::kStateUp) {
        m_statistics.interfaceStartMsec = static_cast<std::uint32_t>(timer->GetElapsedMsec());
    }

    Error result = waiting;
    if (IsCode(waiting, kErrorNothingHappened)) {
        if (state == INetworkInterface::kStateUp) {
            result = Error(0);
        } else if (state == INetworkInterface::kStateFailed) {
            result = Error(kErrorInterfaceFailed);
            result.AddSubError((*iface)->GetNetworkError());
        } else {
            result = Error(kErrorInterfaceTimeout);
            if (opened) {
                result.AddSubError(opened);
            }
        }
    }
    if (result) {
        (*iface)->Close();
        *iface = nullptr;
    }
    return result;
}

Error THttpClient::ConnectToHost(std::unique_ptr<TBufferedConnection>& newConnection) {
    newConnection.reset();
    INetworkInterface* iface = nullptr;
    Error result = SelectNetworkInterface(&iface);
    if (result) {
        return result;
    }

    unsigned long address = m_url.GetAddr();
    if (address == 0) {
        const Error resolved = iface->ResolveAddressUsingDNS(m_url.GetHost().c_str(), &address);
        if (address == 0) {
            return resolved ? resolved : Error(kErrorNoHostAddress);
        }
    }

    const std::unique_ptr<ITimer> timer = SystemTimers().CreateTimer(kConnectTimeoutMs);
    IConnection* called = nullptr;
    const Error calling =
        iface->Call(TNetworkHostParam(address, m_url.GetPort(), m_url.GetProtocol() == "https",
                                      nullptr, nullptr),
                    &called);
    std::unique_ptr<IConnection> candidate(called);
    if (!candidate) {
        iface->Close();
        SelectNextInterface();
        Error failed(kNoConnection);
        if (calling) {
            failed.AddSubError(calling);
        }
        return failed;
    }

    Error waiting(kErrorNothingHappened);
    CONNSTATE state = candidate->GetState();
    while (state == CONNSTATE_CONNECTING && IsCode(waiting, kErrorNothingHappened) &&
           !timer->IsExpired()) {
        PausePolling(candidate.get(), READINESS_WRITABLE);
        waiting = m_progress->ShouldStop();
        state = candidate->GetState();
    }
    if (state == CONNSTATE_CONNECTED) {
        result = Error(0);
    } else if (!IsCode(waiting, kErrorNothingHappened)) {
        result = waiting;
    } else if (state == CONNSTATE_DISCONNECTED) {
        result = candidate->GetLastError();
        if (!result) {
            result = Error(kErrorConnectFailed);
        }
    } else {
        result = Error(kErrorNotConnected);
    }
    m_statistics.connectMsec = static_cast<std::uint32_t>(timer->GetElapsedMsec());

    if (result) {
        candidate.reset();
        iface->Close();
        SelectNextInterface();
    } else {
        newConnection = std::make_unique<TBufferedConnection>(candidate.release());
    }
    return result;
}

void THttpClient::ShowProgress(unsigned long newBytes) {
    if (m_expectedFileSize == 0) {
        return;
    }
    m_receivedFileBytes += static_cast<std::uint32_t>(newBytes);
    // In 64 bits: the product overflows 32 bits for files above 42 MB.
    const auto percent =
        static_cast<std::uint32_t>(std::uint64_t{m_receivedFileBytes} * 100 / m_expectedFileSize);
    if (percent >= m_lastShownPercent + kProgressStep || percent == 100) {
        m_progress->Percent(GetFileNameFromUrl(), percent, m_statistics.interfaceName);
        m_lastShownPercent = percent;
    }
}

std::string THttpClient::GetFileNameFromUrl() const {
    const std::string document = m_url.GetDoc();
    const std::size_t equals = document.find('=');
    if (equals == std::string::npos) {
        return "";
    }
    const std::size_t ampersand = document.find('&', equals + 1);
    if (ampersand == std::string::npos) {
        return "";
    }
    return document.substr(equals + 1, ampersand - equals - 1);
}

void THttpClient::DisplayStatusMessage(const std::string& text) const {
    m_progress->Status(text, m_statistics.interfaceName);
}
