#include "pinpad-sim/TunnelHttpClient.h"

#include <unistd.h>

#include <filesystem>

#include "platform/FileSystem.h"
#include "tunnel/SerialNetworkInterface.h"

namespace {

const char kUserAgent[] = "pinpad-sim";
constexpr unsigned long kReplyTimeoutMsec = 15000;

bool WriteAll(int output, const std::string& data) {
    std::size_t written = 0;
    while (written < data.size()) {
        const ssize_t n = write(output, data.data() + written, data.size() - written);
        if (n <= 0) {
            return false;
        }
        written += static_cast<std::size_t>(n);
    }
    return true;
}

}  // namespace

TTunnelHttpClient::TTunnelHttpClient(TSerialNetworkInterface& tunnel, const std::string& url,
                                     IFileSystem* fileSystem)
    : THttpClient(kUserAgent, url, kReplyTimeoutMsec, fileSystem), m_tunnel(tunnel) {}

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
                         const std::string& outputPath, int output) {
    if (outputPath.empty()) {
        TTunnelHttpClient client(tunnel, url, nullptr);
        std::string body;
        Error result = client.GetDocument(body);
        if (!result && !WriteAll(output, body)) {
            result = Error(THttpClient::kFileFailed);
        }
        return result;
    }
    const std::filesystem::path path = std::filesystem::absolute(outputPath);
    TLinFileSystem directory(path.parent_path().c_str());
    TTunnelHttpClient client(tunnel, url, &directory);
    // The body goes into a file of its own first, so that an older file of
    // the name is replaced only by a whole document.
    const std::string name = path.filename().string();
    const std::string partial = name + ".part";
    Error result = client.GetFile(partial, 0);
    if (!result) {
        result = directory.RenameFile(partial.c_str(), name.c_str());
    }
    return result;
}
