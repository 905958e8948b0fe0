#include "pinpad-sim/TunnelHttpClient.h"

#include <fcntl.h>
#include <unistd.h>

#include "base/ErrorCodes.h"
#include "platform/FileSystem.h"
#include "tunnel/SerialNetworkInterface.h"

namespace {

const char kUserAgent[] = "pinpad-sim";
constexpr unsigned long kReplyTimeoutMsec = 15000;

// The body's one file, as the client asks for it by name: every name opens
// the output descriptor. The output is opened, and replaced when it is
// whole, by its owner; the client only writes it.
class TOutputFileSystem : public IFileSystem {
  public:
    explicit TOutputFileSystem(int output) : m_output(output) {}

    std::uint32_t GetFreeSpaceInKbytes() override { return 0; }
    Error FlushCacheToDisk() override { return Error(0); }
    std::uint32_t GetFileLength(const char*) override { return 0; }
    // A body that did not arrive whole is thrown away by its owner.
    Error EraseFile(const char*) override { return Error(0); }
    Error RenameFile(const char*, const char*) override { return Error(kErrorNotSupported); }
    IFileReadable* OpenForRead(const char*) override { return nullptr; }
    IFileWritable* OpenForWrite(const char* name, unsigned short) override {
        const int descriptor = fcntl(m_output, F_DUPFD_CLOEXEC, 0);
        if (descriptor < 0) {
            m_lastError = LinError(FILE_ERROR_OPEN);
            return nullptr;
        }
        return new TPCFile(name, descriptor);
    }
    Error GetLastError() override { return m_lastError; }

  private:
    int m_output;
    Error m_lastError;
};

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

Error FetchThroughTunnel(TSerialNetworkInterface& tunnel, const std::string& url, int output,
                         std::string& statusLine) {
    TOutputFileSystem body(output);
    TTunnelHttpClient client(tunnel, url, &body);
    std::string reply;
    const Error result = client.TalkToServer("", reply, "body", false);
    statusLine = result.Code() == THttpClient::kBadStatus ? reply : "";
    return result;
}
