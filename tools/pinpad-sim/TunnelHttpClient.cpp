#include "pinpad-sim/TunnelHttpClient.h"

#include <string_view>
#include <utility>

#include "base/ErrorCodes.h"
#include "common/OutputFile.h"
#include "http/DesktopProgress.h"
#include "tunnel/SerialNetworkInterface.h"

namespace {

const char kUserAgent[] = "pinpad-sim";
constexpr unsigned long kReplyTimeoutMs = 15000;
// The one name the output's file system knows.
const char kOutputName[] = "output";

// The tool's output as a file of its own: written in order, as the body arrives.
class TOutputStream : public IFileWritable {
  public:
    TOutputStream(TOutputFile& output, std::string& error) : m_output(output), m_error(error) {}

    long Write(const unsigned char* data, unsigned long count) override {
        if (!m_output.Write(std::string_view(reinterpret_cast<const char*>(data), count),
                            m_error)) {
            return -1;
        }
        m_written += count;
        return static_cast<long>(count);
    }
    long Read(unsigned char*, unsigned long) override { return -1; }
    long Seek(unsigned long) override { return -1; }
    long Tell() override { return static_cast<long>(m_written); }
    long GetLength() override { return static_cast<long>(m_written); }

  private:
    TOutputFile& m_output;
    std::string& m_error;
    unsigned long m_written = 0;
};

// A file system that holds the tool's output alone, for the client to write the body into.
class TOutputFileSystem : public IFileSystem {
  public:
    TOutputFileSystem(TOutputFile& output, std::string& error) : m_output(output), m_error(error) {}

    std::uint32_t GetFreeSpaceInKbytes() override { return 0; }
    Error FlushCacheToDisk() override { return Error(0); }
    std::uint32_t GetFileLength(const char*) override { return 0; }
    // What a failed transfer wrote stays unfinished; the output removes it, or it went in place.
    Error EraseFile(const char*) override { return Error(0); }
    Error RenameFile(const char*, const char*) override { return Error(kErrorNotSupported); }
    IFileReadable* OpenForRead(const char*) override { return nullptr; }
    IFileWritable* OpenForWrite(const char* name, unsigned short) override {
        return std::string_view(name) == kOutputName ? new TOutputStream(m_output, m_error)
                                                     : nullptr;
    }
    Error GetLastError() override { return Error(0); }

  private:
    TOutputFile& m_output;
    std::string& m_error;
};

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
                         const std::function<bool()>& stop, TOutputFile& output,
                         std::string& statusLine, std::string& outputError) {
    TOutputFileSystem files(output, outputError);
    TTunnelHttpClient client(tunnel, url, &files, stop);
    return client.GetFile(kOutputName, 0, &statusLine);
}
