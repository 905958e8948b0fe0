#pragma once

#include <chrono>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>

#include "platform/Connection.h"
#include "tunnel-load/Report.h"

class TSimLine;

// The terminal's side of the load tests: tunnelled connections through the
// agent to the data server, every byte checked. Each test ends with one
// report; its "result" is "completed", "closed" (the connection ended
// before it was done, which the tunnel told us), "failed-verify" (a byte
// arrived wrong or out of order), "call-failed" or "stalled" (nothing moved
// for the stall time: the failure a test must never see).
//
// Tunnel steps do not wait: when a step finds nothing to do, the client
// sleeps on the line's descriptor until the agent sends something.
class TLoadClient {
  public:
    TLoadClient(TSimLine& line, std::uint16_t serverPort, std::chrono::seconds stallLimit);

    // Once a third of each download or upload has moved, the terminal's application makes no
    // call into its tunnel for this long, as a terminal does while it drives its display.
    void PauseInTransfers(std::chrono::milliseconds pause) { m_pause = pause; }
    // An upload that has handed over what it may and hears nothing for this long gives its
    // connection up, as the application of a terminal must whose tunnel drops queued data
    // without telling it. Off (0) by default.
    void GiveUpQuietUploads(std::chrono::milliseconds wait) { m_answerWait = wait; }

    TReport Download(std::uint64_t bytes);
    TReport Upload(std::uint64_t bytes);
    // Round trips of single bytes over one connection.
    TReport Echo(unsigned count);
    // Calls that are closed as soon as they are answered: their set-up times.
    TReport Calls(unsigned count);
    // Tries calls and a round trip until one works or seconds pass: how long
    // the service took to come back.
    TReport Probe(unsigned seconds);

  private:
    using TClock = std::chrono::steady_clock;
    // Moves the data of a transfer over a connected connection, counting the
    // bytes known to have arrived intact; returns the result.
    using TTransferBody = std::function<std::string(IConnection&, std::uint64_t& delivered)>;

    // Calls the server, runs the body and reports the transfer.
    TReport RunTransfer(const char* test, std::uint64_t bytes, const TTransferBody& body);
    std::string ReceiveRecords(IConnection& connection, std::uint64_t bytes, std::uint64_t& delivered);
    // Keeps at most a window of bytes ahead of what the server has checked.
    std::string SendRecords(IConnection& connection, std::uint64_t bytes, std::uint64_t& checked);

    // A connection to the data server once the agent has answered the call;
    // null (with the reason in result) when it did not connect.
    std::unique_ptr<IConnection> Connect(std::string& result, double& setupMs,
                                         TClock::duration limit);
    // Sleeps until the line has input, or briefly when it has none.
    void Idle();
    // Makes the pause of a transfer once it has moved a third of its bytes.
    void PauseAt(std::uint64_t moved, std::uint64_t bytes, bool& paused) const;
    // Hands all of data to the connection; false when it has closed.
    static bool SendAll(IConnection& connection, const std::string& data);
    bool RoundTrip(IConnection& connection, std::uint8_t value, TClock::duration limit,
                   std::string& result);

    TSimLine& m_line;
    std::uint16_t m_serverPort;
    TClock::duration m_stallLimit;
    std::chrono::milliseconds m_pause{0};
    std::chrono::milliseconds m_answerWait{0};
};

double MillisecondsSince(std::chrono::steady_clock::time_point start);
