// Gives the HTTP client arbitrary bytes as a server's answer, over an
// in-memory connection that hands them out in pieces of random sizes and
// then closes. Whatever the answer, the client must neither crash nor hang;
// a body it reports can be no longer than the answer, and a GET that fails
// leaves no file behind.

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <memory>
#include <string>

#include "http/HttpClient.h"
#include "platform/linux/LinFileSystem.h"
#include "support/FakeNetworkInterface.h"
#include "support/TestSystem.h"

namespace {

void Check(bool condition) {
    if (!condition) {
        std::abort();
    }
}

// The server's side: takes every request, answers with the input in pieces,
// then reports the connection closed.
class TCannedConnection : public IConnection {
  public:
    TCannedConnection(std::string answer, unsigned seed)
        : m_answer(std::move(answer)), m_seed(seed) {}

    long Send(const unsigned char*, unsigned long length) override {
        return static_cast<long>(length);
    }
    long Receive(unsigned char* buffer, unsigned long length) override {
        if (m_offset >= m_answer.size()) {
            m_state = CONNSTATE_DISCONNECTED;
            return -2;
        }
        m_seed = m_seed * 1103515245U + 12345U;
        unsigned long piece = 1 + (m_seed >> 16) % 300;
        if ((m_seed >> 8) % 4 == 0) {
            return 0;  // nothing has come yet
        }
        piece = std::min({piece, length, static_cast<unsigned long>(m_answer.size() - m_offset)});
        m_answer.copy(reinterpret_cast<char*>(buffer), piece, m_offset);
        m_offset += piece;
        return static_cast<long>(piece);
    }
    unsigned long GetPeerAddress() override { return 0; }
    CONNSTATE GetState() override { return m_state; }
    Error GetLastError() override { return Error(0); }

  private:
    std::string m_answer;
    std::size_t m_offset = 0;
    unsigned m_seed;
    CONNSTATE m_state = CONNSTATE_CONNECTED;
};

class TCannedInterface : public TFakeNetworkInterface {
  public:
    TCannedInterface(std::string answer, unsigned seed)
        : m_answer(std::move(answer)), m_seed(seed) {}

    Error Call(const TNetworkHostParam&, IConnection** connection) override {
        *connection = new TCannedConnection(m_answer, m_seed);
        return Error(0);
    }

  private:
    std::string m_answer;
    unsigned m_seed;
};

class TCannedClient : public THttpClient {
  public:
    TCannedClient(TCannedInterface& iface, IFileSystem* files)
        : THttpClient("fuzz", "http://127.0.0.1:80/doc?name=f&x=1", 5000, files), m_iface(iface) {}

  protected:
    Error SelectNetworkInterface(INetworkInterface** iface) override {
        *iface = &m_iface;
        return Error(0);
    }

  private:
    TCannedInterface& m_iface;
};

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    static TTestSystem system;
    static TLinFileSystem files(system.Home().c_str());
    if (size < 2) {
        return 0;
    }
    const unsigned mode = data[0] % 3;
    const std::string answer(reinterpret_cast<const char*>(data + 2), size - 2);
    TCannedInterface iface(answer, data[1]);
    TCannedClient client(iface, &files);
    std::string body;
    // Any outcome will do: what is checked is that no more comes back than was answered.
    if (mode == 0) {
        static_cast<void>(client.Post("{}", body, false));
        Check(body.size() <= answer.size());
    } else if (mode == 1) {
        static_cast<void>(client.GetDocument(body));
        Check(body.size() <= answer.size());
    } else {
        const Error result = client.GetFile("body.bin", 100);
        Check(result.Code() == 0 || files.GetFileLength("body.bin") == 0);
        static_cast<void>(files.EraseFile("body.bin"));
    }
    return 0;
}
