#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "platform/Descriptor.h"
#include "tunnel-load/RecordStream.h"

// The network end of the load tests: a TCP server on 127.0.0.1 that serves
// each connection by the line it starts with:
//   "DOWN n"  sends n bytes of the record stream as fast as the peer takes
//             them, then closes;
//   "UP n"    checks n bytes of the record stream from the peer, answers
//             "P m" when m bytes are right, at most once per 8 KiB, and
//             "OK n" at the end or "BAD m" at the first wrong byte (m bytes
//             were right), then closes;
//   "ECHO"    sends back whatever arrives.
// A connection that says nothing is closed when its peer closes.
class TDataServer {
  public:
    // port 0: any free port. Null, with the reason in error, when it cannot listen.
    static std::unique_ptr<TDataServer> Listen(std::uint16_t port, std::string& error);
    ~TDataServer();

    std::uint16_t Port() const { return m_port; }
    // Waits at most maxWaitMs for a peer or a connection to have work, and
    // does it.
    void Step(int maxWaitMs);

  private:
    enum class TMode { Header, Down, Up, Echo, Closing };
    struct TClient {
        TDescriptor socket;
        TMode mode = TMode::Header;
        std::string header;
        std::uint64_t total = 0;
        std::uint64_t done = 0;           // bytes sent (down) or checked (up)
        std::uint64_t reportedUpTo = 0;   // up: the last progress answered
        TRecordChecker checker;
        std::string output;               // answers and echoes not yet sent
    };

    TDataServer(TDescriptor listener, std::uint16_t port);
    void Accept();
    // False when the connection is finished with.
    bool Serve(TClient& client, short events);
    bool ReadFrom(TClient& client);
    void TakeHeader(TClient& client, std::string rest);
    void TakeData(TClient& client, const std::uint8_t* data, std::size_t length);
    bool WriteTo(TClient& client);

    TDescriptor m_listener;
    std::uint16_t m_port;
    std::vector<std::unique_ptr<TClient>> m_clients;
};
