#include "pinpad-sim/TunnelHttpClient.h"

#include <utility>

#include "base/ErrorCodes.h"
#include "http/DesktopProgress.h"
#include "tunnel/SerialNetworkInterface.h"

namespace {

const char kUserAgent[] = "pinpad-sim";
constexpr unsigned long kReplyTimeoutMs = 15000;

}  // namespace

void TTunnelHttpClient::TStoppableProgress::Status(const std::string& text,
                                                   const std::string& interfaceName) {
    TDesktopProgress::Instance().Status(text, interfaceName);
}

void TTunnelHttpClient::TStoppableProgress::Percent(const std::string& fileName, unsigned percent,
                                                    const std::string& interfaceName) {
    TDesktopProgress::Instance().Percent(fileName, percent, interfaceName);
}

Error TTunnelHttpClient::TStoppableProgress::ShouldStop() {
    return m_stop() ? Error(kErrorTransferFailed) : TDesktopProgress::Instance().ShouldStop();
}

TTunnelHttpClient::TTunnelHttpClient(TSerialNetworkInterface& tunnel, const std::string& url,
                                     IFileSystem* fileSystem, std::function<bool()> stop)
    : THttpClient(kUserAgent, url, kReplyTimeoutMs, fileSystem),
      m_tunnel(tunnel),
      m_progress(std::move(stop)) {
    SetProgress(&m_progress);
}

Error TTunnelHttpClient::SelectNetworkInterface(INetworkInterface** iface) {
    *iface = nullptr;
    m_statistics.interfaceName = "COM";
    // Builds the stack again if a failed exchange closed the tunnel.
    const Error opened = m_tunnel.Open();
    if (opened) {
        return opened;
    }
    *iface = &m_tunnel;
    return Error(0);
}

Error FetchThroughTunnel(TSerialNetworkInterface& tunnel, const std::string& url,
                         const std::function<bool()>& stop, std::string& body,
                         std::string& statusLine) {
    TTunnelHttpClient client(tunnel, url, nullptr, stop);
    const Error result = client.GetDocument(body);
    statusLine = result.Code() == THttpClient::kBadStatus ? body : "";
    return result;
}
