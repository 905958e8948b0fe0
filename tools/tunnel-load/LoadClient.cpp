#include "tunnel-load/LoadClient.h"

#include <algorithm>
#include <cstdlib>
#include <thread>
#include <vector>

#include "common/SimLine.h"
#include "platform/NetworkInterface.h"
#include "tunnel-load/RecordStream.h"
#include "tunnel/SerialNetworkInterface.h"

namespace {

constexpr std::size_t kReceiveChunk = 4096;
// Upload pieces: whole packets of the terminal's half (255 bytes each).
constexpr std::size_t kUploadPiece = 255 * 16;
// Upload bytes sent ahead of the server's last progress answer: enough to
// keep the line busy, few enough to keep the tunnel's queue short.
constexpr std::uint64_t kUploadWindow = 32768;
constexpr auto kProbeAttemptLimit = std::chrono::seconds(3);
// The longest sleep on a quiet line, so that the tunnel's timers are served.
constexpr int kIdleWaitMs = 20;

// Watches a transfer: stalled once nothing has moved for the limit.
class TStallWatch {
  public:
    explicit TStallWatch(std::chrono::steady_clock::duration limit)
        : m_limit(limit), m_last(std::chrono::steady_clock::now()) {}
    void Progress() { m_last = std::chrono::steady_clock::now(); }
    bool Stalled() const { return Quiet(m_limit); }
    bool Quiet(std::chrono::steady_clock::duration time) const {
        return std::chrono::steady_clock::now() - m_last > time;
    }

  private:
    std::chrono::steady_clock::duration m_limit;
    std::chrono::steady_clock::time_point m_last;
};

TJsonLine Transfer(const char* test, std::uint64_t requested, std::uint64_t delivered,
                   const std::string& result, double setupMs, double ms) {
    TJsonLine line;
    line.Add("test", test)
        .Add("requested", requested)
        .Add("delivered", delivered)
        .Add("result", result)
        .Add("setup_ms", setupMs)
        .Add("ms", ms)
        .Add("bytes_per_s", ms > 0 ? static_cast<double>(delivered) * 1000 / ms : 0.0);
    return line;
}

TReport Finish(const TJsonLine& line, const std::string& result) {
    return {line.Text(), result == "completed"};
}

}  // namespace

double MillisecondsSince(std::chrono::steady_clock::time_point start) {
    return std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - start)
        .count();
}

TLoadClient::TLoadClient(TSimLine& line, std::uint16_t serverPort, std::chrono::seconds stallLimit)
    : m_line(line), m_serverPort(serverPort), m_stallLimit(stallLimit) {
    m_line.WaitInSteps(false);
}

void TLoadClient::Idle() {
    m_line.WaitForLine(kIdleWaitMs);
}

void TLoadClient::PauseAt(std::uint64_t moved, std::uint64_t bytes, bool& paused) const {
    if (!paused && m_pause.count() > 0 && moved >= bytes / 3) {
        paused = true;
        std::this_thread::sleep_for(m_pause);
    }
}

std::unique_ptr<IConnection> TLoadClient::Connect(std::string& result, double& setupMs,
                                                  TClock::duration limit) {
    const TClock::time_point start = TClock::now();
    IConnection* opened = nullptr;
    // A call that fails leaves opened null, which is reported as "call-failed" below.
    static_cast<void>(m_line.Network().Call(
        TNetworkHostParam(kLoopbackAddress, m_serverPort, false, nullptr, nullptr), &opened));
    std::unique_ptr<IConnection> connection(opened);
    if (!connection) {
        result = "call-failed";
        return nullptr;
    }
    CONNSTATE state = connection->GetState();
    while (state == CONNSTATE_CONNECTING && TClock::now() - start < limit) {
        Idle();
        state = connection->GetState();
    }
    setupMs = MillisecondsSince(start);
    if (state != CONNSTATE_CONNECTED) {
        result = state == CONNSTATE_CONNECTING ? "stalled" : "call-failed";
        return nullptr;
    }
    return connection;
}

bool TLoadClient::SendAll(IConnection& connection, const std::string& data) {
    return connection.Send(reinterpret_cast<const unsigned char*>(data.data()),
                           static_cast<unsigned long>(data.size())) ==
           static_cast<long>(data.size());
}

TReport TLoadClient::RunTransfer(const char* test, std::uint64_t bytes, const TTransferBody& body) {
    std::string result;
    double setupMs = 0;
    std::uint64_t delivered = 0;
    const auto connection = Connect(result, setupMs, m_stallLimit);
    const TClock::time_point start = TClock::now();
    if (connection) {
        result = body(*connection, delivered);
    }
    return Finish(Transfer(test, bytes, delivered, result, setupMs,
                           connection ? MillisecondsSince(start) : 0),
                  result);
}

TReport TLoadClient::Download(std::uint64_t bytes) {
    return RunTransfer("download", bytes, [&](IConnection& connection, std::uint64_t& delivered) {
        return ReceiveRecords(connection, bytes, delivered);
    });
}

TReport TLoadClient::Upload(std::uint64_t bytes) {
    return RunTransfer("upload", bytes, [&](IConnection& connection, std::uint64_t& delivered) {
        return SendRecords(connection, bytes, delivered);
    });
}

std::string TLoadClient::ReceiveRecords(IConnection& connection, std::uint64_t bytes,
                                        std::uint64_t& delivered) {
    if (!SendAll(connection, "DOWN " + std::to_string(bytes) + "\n")) {
        return "closed";
    }
    TRecordChecker checker;
    TStallWatch watch(m_stallLimit);
    std::vector<std::uint8_t> buffer(kReceiveChunk);
    std::string result;
    bool paused = false;
    while (result.empty()) {
        PauseAt(checker.Verified(), bytes, paused);
        const long received = connection.Receive(buffer.data(), buffer.size());
        if (received < 0) {
            result = "closed";
        } else if (received > 0) {
            watch.Progress();
            if (!checker.Feed(buffer.data(), static_cast<std::size_t>(received)) ||
                checker.Verified() > bytes) {
                result = "failed-verify";
            } else if (checker.Verified() == bytes) {
                result = "completed";
            }
        } else if (watch.Stalled()) {
            result = "stalled";
        } else {
            Idle();
        }
    }
    delivered = checker.Verified();
    return result;
}

std::string TLoadClient::SendRecords(IConnection& connection, std::uint64_t bytes,
                                     std::uint64_t& checked) {
    if (!SendAll(connection, "UP " + std::to_string(bytes) + "\n")) {
        return "closed";
    }
    std::uint64_t sent = 0;
    std::string answers;
    TStallWatch watch(m_stallLimit);
    std::vector<std::uint8_t> buffer(std::max(kReceiveChunk, kUploadPiece));
    std::string result;
    bool paused = false;
    while (result.empty()) {
        PauseAt(sent, bytes, paused);
        const bool sending = sent < bytes && sent - checked < kUploadWindow;
        if (sending) {
            const std::size_t piece = static_cast<std::size_t>(std::min<std::uint64_t>(
                {kUploadPiece, bytes - sent, kUploadWindow - (sent - checked)}));
            TRecordStream::Fill(sent, buffer.data(), piece);
            if (connection.Send(buffer.data(), piece) < 0) {
                return "closed";
            }
            sent += piece;
        }
        const long received = connection.Receive(buffer.data(), buffer.size());
        if (received < 0) {
            return "closed";
        }
        // The server's answers: "P m" as it goes, then "OK n" or "BAD m".
        answers.append(reinterpret_cast<char*>(buffer.data()), static_cast<std::size_t>(received));
        std::size_t lineEnd = 0;
        while (result.empty() && (lineEnd = answers.find('\n')) != std::string::npos) {
            const std::string line = answers.substr(0, lineEnd);
            answers.erase(0, lineEnd + 1);
            const std::size_t space = line.find(' ');
            const std::string word = line.substr(0, space);
            if (space != std::string::npos) {
                checked = std::strtoull(line.c_str() + space + 1, nullptr, 10);
            }
            watch.Progress();
            if (word == "OK") {
                result = "completed";
            } else if (word != "P") {
                result = "failed-verify";
            }
        }
        if (result.empty() && !sending && m_answerWait.count() > 0 && watch.Quiet(m_answerWait)) {
            result = "closed";  // given up here: the connection goes, asking the agent to close
        } else if (result.empty() && watch.Stalled()) {
            result = "stalled";
        } else if (!sending && received == 0) {
            Idle();
        }
    }
    return result;
}

bool TLoadClient::RoundTrip(IConnection& connection, std::uint8_t value, TClock::duration limit,
                            std::string& result) {
    const TClock::time_point start = TClock::now();
    if (connection.Send(&value, 1) != 1) {
        result = "closed";
        return false;
    }
    std::uint8_t answer = 0;
    long received = 0;
    while ((received = connection.Receive(&answer, 1)) == 0) {
        if (TClock::now() - start > limit) {
            result = "stalled";
            return false;
        }
        Idle();
    }
    if (received < 0) {
        result = "closed";
        return false;
    }
    if (answer != value) {
        result = "failed-verify";
        return false;
    }
    return true;
}

TReport TLoadClient::Echo(unsigned count) {
    std::string result;
    double setupMs = 0;
    TSamples samples;
    const TClock::time_point start = TClock::now();
    const auto connection = Connect(result, setupMs, m_stallLimit);
    if (connection && !SendAll(*connection, "ECHO\n")) {
        result = "closed";
    }
    for (unsigned i = 0; connection && result.empty() && i < count; ++i) {
        const TClock::time_point sent = TClock::now();
        if (RoundTrip(*connection, static_cast<std::uint8_t>(i), m_stallLimit, result)) {
            samples.Add(MillisecondsSince(sent));
        }
    }
    if (result.empty()) {
        result = "completed";
    }
    TJsonLine line;
    line.Add("test", "echo")
        .Add("requested", std::uint64_t{count})
        .Add("delivered", std::uint64_t{samples.Count()})
        .Add("result", result)
        .Add("setup_ms", setupMs)
        .Add("ms", MillisecondsSince(start));
    samples.AddTo(line);
    return Finish(line, result);
}

TReport TLoadClient::Calls(unsigned count) {
    TSamples samples;
    unsigned failed = 0;
    const TClock::time_point start = TClock::now();
    for (unsigned i = 0; i < count; ++i) {
        std::string result;
        double setupMs = 0;
        if (Connect(result, setupMs, m_stallLimit)) {
            samples.Add(setupMs);  // closed here, as it goes
        } else {
            ++failed;
        }
    }
    const std::string result = failed == 0 ? "completed" : "call-failed";
    TJsonLine line;
    line.Add("test", "calls")
        .Add("requested", std::uint64_t{count})
        .Add("delivered", std::uint64_t{samples.Count()})
        .Add("failed", std::uint64_t{failed})
        .Add("result", result)
        .Add("ms", MillisecondsSince(start));
    samples.AddTo(line);
    return Finish(line, result);
}

TReport TLoadClient::Probe(unsigned seconds) {
    const TClock::time_point start = TClock::now();
    const TClock::time_point deadline = start + std::chrono::seconds(seconds);
    unsigned attempts = 0;
    std::string result;
    // The link may have to be brought up again, whose waits are the tunnel's own.
    m_line.WaitInSteps(true);
    while (result != "completed" && TClock::now() < deadline) {
        ++attempts;
        result.clear();
        double setupMs = 0;
        auto connection = Connect(result, setupMs, kProbeAttemptLimit);
        if (connection && SendAll(*connection, "ECHO\n") &&
            RoundTrip(*connection, 0x5A, kProbeAttemptLimit, result)) {
            result = "completed";
            break;
        }
        connection.reset();
        // Start the link again, as a terminal does when its peer went away: with no
        // connection left, closing the network takes its tunnel down.
        m_line.Network().Close();
        const auto left =
            std::chrono::duration_cast<std::chrono::seconds>(deadline - TClock::now());
        m_line.WaitForAgent(static_cast<unsigned>(std::max<long long>(left.count(), 0)),
                            [] { return false; });
    }
    m_line.WaitInSteps(false);
    if (result != "completed") {
        result = "stalled";
    }
    TJsonLine line;
    line.Add("test", "probe")
        .Add("requested", std::uint64_t{seconds} * 1000)
        .Add("attempts", std::uint64_t{attempts})
        .Add("result", result)
        .Add("ms", MillisecondsSince(start));
    return Finish(line, result);
}
