#include "pinpad-sim/TunnelHttpClient.h"

#include "tunnel/SerialNetworkInterface.h"

namespace {

const char kUserAgent[] = "pinpad-sim";
constexpr unsigned long kReplyTimeoutMs = 15000;

}  // namespace

TTunnelHttpClient::TTunnelHttpClient(TSerialNetworkInterface& tunnel, const std::string& url,
                                     IFileSystem* fileSystem)
    : THttpClient(kUserAgent, url, kReplyTimeoutMs, fileSystem), m_tunnel(tunnel) {}

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
                         std::string& body, std::string& statusLine) {
    TTunnelHttpClient client(tunnel, url, nullptr);
    const Error result = client.GetDocument(body);
    statusLine = result.Code() == THttpClient::kBadStatus ? body : "";
    return result;
}
