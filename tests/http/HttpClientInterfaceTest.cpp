#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <memory>
#include <optional>
#include <ostream>
#include <string>
#include <vector>

#include "http/HttpClient.h"
#include "platform/FileSystem.h"
#include "platform/linux/LinFileSystem.h"
#include "support/MemoryConnection.h"
#include "support/StandInFiles.h"
#include "support/TempDir.h"
#include "support/TestDeviceLayer.h"
#include "support/TestSystem.h"
#include "support/TunnelDevices.h"
#include "sysutil/Desktop.h"

// Interface selection, connection set-up and what the desktop is shown,
// against scripted interfaces and connections on a fake clock: every poll
// moves the clock on by kPollMs.

namespace {

constexpr unsigned long kPollMs = 100;

// A connection whose state turns from connecting to `outcome` after
// `connectingPolls` polls of GetState.
class TScriptedConnection : public IConnection {
  public:
    TScriptedConnection(TFakeClock& clock, bool& deleted) : m_clock(clock), m_deleted(deleted) {}
    ~TScriptedConnection() override { m_deleted = true; }

    long Send(const unsigned char*, unsigned long length) override {
        return static_cast<long>(length);
    }
    long Receive(unsigned char*, unsigned long) override { return 0; }
    unsigned long GetPeerAddress() override { return 0; }
    CONNSTATE GetState() override {
        m_clock.Advance(kPollMs);
        return m_polls++ < connectingPolls ? CONNSTATE_CONNECTING : outcome;
    }
    Error GetLastError() override { return Error(lastError); }

    unsigned connectingPolls = 0;
    CONNSTATE outcome = CONNSTATE_CONNECTED;
    unsigned long lastError = 0;

  private:
    TFakeClock& m_clock;
    bool& m_deleted;
    unsigned m_polls = 0;
};

// A network interface that comes up (or fails) after a number of polls of
// GetCurrentState and hands out one prepared connection.
class TScriptedInterface : public INetworkInterface {
  public:
    TScriptedInterface(const char* name, TFakeClock& clock, std::vector<std::string>& journal)
        : m_name(name), m_clock(clock), m_journal(journal) {}

    Error Open() override {
        m_journal.push_back(std::string("open ") + m_name);
        return Error(0);
    }
    void Close() override { m_journal.push_back(std::string("close ") + m_name); }
    unsigned GetCurrentState() override {
        m_clock.Advance(kPollMs);
        return m_polls++ < startingPolls ? 1 : readiness;
    }
    Error GetNetworkError() override { return Error(networkError); }
    Error SetSelfParams(const TNetworkClientParam&) override { return Error(2); }
    Error GetSelfParams(TNetworkClientParam&) override { return Error(2); }
    Error Call(const TNetworkHostParam& host, IConnection** connection) override {
        calledHost = host;
        *connection = nextConnection.release();
        return Error(0);
    }
    Error Listen(unsigned short, IConnection** connection) override {
        *connection = nullptr;
        return Error(2);
    }
    Error Ping(unsigned long) override { return Error(2); }
    Error ResolveAddressUsingDNS(const char* name, unsigned long* address) override {
        resolvedName = name;
        if (resolvedAddress != 0) {
            *address = resolvedAddress;
        }
        return Error(resolveError);
    }

    unsigned startingPolls = 0;
    unsigned readiness = 3;  // 3 up, 4 failed
    unsigned long networkError = 0;
    std::unique_ptr<IConnection> nextConnection;
    std::optional<TNetworkHostParam> calledHost;
    unsigned long resolvedAddress = 0;
    unsigned long resolveError = 0;
    std::string resolvedName;

  private:
    const char* m_name;
    TFakeClock& m_clock;
    std::vector<std::string>& m_journal;
    unsigned m_polls = 0;
};

class TTestHttpClient : public THttpClient {
  public:
    using THttpClient::ConnectToHost;
    using THttpClient::EnableNetworkInterface;
    using THttpClient::SelectNetworkInterface;
    using THttpClient::THttpClient;
};

class HttpClientInterfaceTest : public ::testing::Test {
  protected:
    HttpClientInterfaceTest() {
        auto layer = std::make_unique<TTestDeviceLayer>();
        devices = layer.get();
        system.SetDeviceLayer(std::move(layer));
        // Only the scripted polls move the clock.
        system.SetIdleStep(0);
    }

    // Puts an interface of that kind into the device layer.
    TScriptedInterface& Provide(DEVICE kind, const char* name) {
        auto iface = std::make_unique<TScriptedInterface>(name, system.Clock(), journal);
        TScriptedInterface& provided = *iface;
        devices->Provide(kind, 0, std::move(iface));
        return provided;
    }

    // A connection for the next Call of iface; `deleted` tells when it is gone.
    TScriptedConnection& PrepareConnection(TScriptedInterface& iface) {
        auto connection = std::make_unique<TScriptedConnection>(system.Clock(), connectionDeleted);
        TScriptedConnection& prepared = *connection;
        iface.nextConnection = std::move(connection);
        return prepared;
    }

    // Outlive the devices, which the system's device layer owns.
    std::vector<std::string> journal;
    bool connectionDeleted = false;
    TTestSystem system;
    TTestDeviceLayer* devices = nullptr;
    TTestHttpClient client{"test", "http://10.1.2.3:8080/doc", 5000, nullptr};
    INetworkInterface* chosen = nullptr;
    std::unique_ptr<TBufferedConnection> connection;
};

TEST_F(HttpClientInterfaceTest, FailingRowMovesTheSearchOnForThisAndLaterExchanges) {
    TScriptedInterface& ethernet = Provide(DEVICE_ETHERNET, "Ethernet");
    ethernet.readiness = 4;
    TScriptedInterface& wifi = Provide(DEVICE_WIFI, "WiFi");

    ASSERT_EQ(client.SelectNetworkInterface(&chosen).Code(), 0u);
    EXPECT_EQ(chosen, &wifi);
    EXPECT_EQ(client.GetStatistics()->interfaceName, "WiFi");

    ethernet.readiness = 3;
    ASSERT_EQ(client.SelectNetworkInterface(&chosen).Code(), 0u);
    EXPECT_EQ(chosen, &wifi) << "the next exchange starts with the row that worked";
    EXPECT_EQ(journal, (std::vector<std::string>{"open Ethernet", "close Ethernet", "open WiFi",
                                                 "open WiFi"}));
}

TEST_F(HttpClientInterfaceTest, FiveFailuresEndTheSearchBackAtTheFirstRow) {
    Provide(DEVICE_ETHERNET, "Ethernet").readiness = 4;
    TScriptedInterface& com = Provide(DEVICE_COM, "COM");
    com.readiness = 4;
    com.networkError = 2;

    const Error result = client.SelectNetworkInterface(&chosen);

    EXPECT_EQ(result.Code(), 20025u) << "the last row's result";
    EXPECT_EQ(chosen, nullptr);
    EXPECT_EQ(client.GetStatistics()->interfaceName, "COM");
    journal.clear();
    static_cast<void>(client.SelectNetworkInterface(&chosen));  // the journal tells
    ASSERT_FALSE(journal.empty());
    EXPECT_EQ(journal.front(), "open Ethernet");
}

TEST_F(HttpClientInterfaceTest, MissingKindGivesNoInterface) {
    EXPECT_EQ(client.EnableNetworkInterface(DEVICE_GPRS, 80000, &chosen).Code(), 20011u);
    EXPECT_EQ(client.SelectNetworkInterface(&chosen).Code(), 20011u);
    EXPECT_EQ(chosen, nullptr);
}

TEST_F(HttpClientInterfaceTest, InterfaceThatNeverComesUpTimesOutAndIsClosed) {
    TScriptedInterface& ethernet = Provide(DEVICE_ETHERNET, "Ethernet");
    ethernet.startingPolls = 1000;

    EXPECT_EQ(client.EnableNetworkInterface(DEVICE_ETHERNET, 5000, &chosen).Code(), 20012u);

    EXPECT_EQ(chosen, nullptr);
    EXPECT_GE(system.Clock().Now(), 5000u);
    EXPECT_LT(system.Clock().Now(), 5000u + 3 * kPollMs);
    EXPECT_TRUE(client.GetStatistics()->waitedForInterface);
    EXPECT_EQ(journal.back(), "close Ethernet");
}

TEST_F(HttpClientInterfaceTest, FailedInterfaceCarriesItsOwnErrorBelow) {
    TScriptedInterface& ethernet = Provide(DEVICE_ETHERNET, "Ethernet");
    ethernet.startingPolls = 2;
    ethernet.readiness = 4;
    ethernet.networkError = 4711;

    const Error result = client.EnableNetworkInterface(DEVICE_ETHERNET, 5000, &chosen);

    EXPECT_EQ(result.Code(), 20025u);
    ASSERT_TRUE(result.Sub().has_value());
    EXPECT_EQ(result.Sub()->Code(), 4711u);
    EXPECT_EQ(journal.back(), "close Ethernet");
}

TEST_F(HttpClientInterfaceTest, InterfaceThatComesUpLateReportsItsStartTime) {
    TScriptedInterface& ethernet = Provide(DEVICE_ETHERNET, "Ethernet");
    ethernet.startingPolls = 3;

    ASSERT_EQ(client.EnableNetworkInterface(DEVICE_ETHERNET, 5000, &chosen).Code(), 0u);

    EXPECT_EQ(chosen, &ethernet);
    EXPECT_TRUE(client.GetStatistics()->waitedForInterface);
    EXPECT_EQ(client.GetStatistics()->interfaceStartMsec, 4 * kPollMs) << "four polls";
}

TEST_F(HttpClientInterfaceTest, InterfaceUpAtOnceIsNotWaitedFor) {
    Provide(DEVICE_ETHERNET, "Ethernet");

    ASSERT_EQ(client.EnableNetworkInterface(DEVICE_ETHERNET, 5000, &chosen).Code(), 0u);
    EXPECT_FALSE(client.GetStatistics()->waitedForInterface);
}

TEST_F(HttpClientInterfaceTest, ConnectCallsTheUrlsAddressAndPort) {
    TScriptedInterface& ethernet = Provide(DEVICE_ETHERNET, "Ethernet");
    PrepareConnection(ethernet).connectingPolls = 2;

    ASSERT_EQ(client.ConnectToHost(connection).Code(), 0u);

    ASSERT_NE(connection, nullptr);
    ASSERT_TRUE(ethernet.calledHost.has_value());
    EXPECT_EQ(ethernet.calledHost->address, 0x0A010203u);
    EXPECT_EQ(ethernet.calledHost->port, 8080);
    EXPECT_FALSE(ethernet.calledHost->secure);
    EXPECT_EQ(client.GetStatistics()->connectMsec, 3 * kPollMs);
}

TEST_F(HttpClientInterfaceTest, HttpsUrlAsksForASecureConnection) {
    TScriptedInterface& ethernet = Provide(DEVICE_ETHERNET, "Ethernet");
    PrepareConnection(ethernet);
    TTestHttpClient secure("test", "https://10.1.2.3:443/doc", 5000, nullptr);

    ASSERT_EQ(secure.ConnectToHost(connection).Code(), 0u);
    EXPECT_TRUE(ethernet.calledHost->secure);
}

TEST_F(HttpClientInterfaceTest, UrlWithoutPortCallsPortEighty) {
    TScriptedInterface& ethernet = Provide(DEVICE_ETHERNET, "Ethernet");
    PrepareConnection(ethernet);
    TTestHttpClient plain("test", "http://10.1.2.3/doc", 5000, nullptr);

    ASSERT_EQ(plain.ConnectToHost(connection).Code(), 0u);
    EXPECT_EQ(ethernet.calledHost->port, 80);
}

TEST_F(HttpClientInterfaceTest, SymbolicHostIsResolvedByTheInterface) {
    TScriptedInterface& ethernet = Provide(DEVICE_ETHERNET, "Ethernet");
    ethernet.resolvedAddress = 0x7F000001;
    PrepareConnection(ethernet);
    TTestHttpClient named("test", "http://payments.example:80/doc", 5000, nullptr);

    ASSERT_EQ(named.ConnectToHost(connection).Code(), 0u);
    EXPECT_EQ(ethernet.resolvedName, "payments.example");
    EXPECT_EQ(ethernet.calledHost->address, 0x7F000001u);
}

struct ResolveCase {
    const char* name;
    unsigned long resolveError;
    unsigned long expected;
};

void PrintTo(const ResolveCase& c, std::ostream* out) {
    *out << c.name;
}

class HttpClientResolveTest : public HttpClientInterfaceTest,
                              public ::testing::WithParamInterface<ResolveCase> {};

TEST_P(HttpClientResolveTest, UnresolvedHostFails) {
    TScriptedInterface& ethernet = Provide(DEVICE_ETHERNET, "Ethernet");
    ethernet.resolveError = GetParam().resolveError;
    TTestHttpClient named("test", "http://payments.example:80/doc", 5000, nullptr);

    EXPECT_EQ(named.ConnectToHost(connection).Code(), GetParam().expected);
    EXPECT_FALSE(ethernet.calledHost.has_value());
}

INSTANTIATE_TEST_SUITE_P(Resolve, HttpClientResolveTest,
                         ::testing::Values(ResolveCase{"ResolverError", 2, 2},
                                           ResolveCase{"NoAddressWithoutError", 0, 20010}),
                         [](const auto& info) { return std::string(info.param.name); });

struct ConnectCase {
    const char* name;
    unsigned connectingPolls;
    CONNSTATE outcome;
    unsigned long lastError;
    unsigned long expected;
};

void PrintTo(const ConnectCase& c, std::ostream* out) {
    *out << c.name;
}

class HttpClientConnectFailureTest : public HttpClientInterfaceTest,
                                     public ::testing::WithParamInterface<ConnectCase> {};

TEST_P(HttpClientConnectFailureTest, FailedConnectionIsDroppedAndTheNextRowChosen) {
    const ConnectCase& c = GetParam();
    TScriptedInterface& ethernet = Provide(DEVICE_ETHERNET, "Ethernet");
    TScriptedConnection& prepared = PrepareConnection(ethernet);
    prepared.connectingPolls = c.connectingPolls;
    prepared.outcome = c.outcome;
    prepared.lastError = c.lastError;
    Provide(DEVICE_WIFI, "WiFi");

    EXPECT_EQ(client.ConnectToHost(connection).Code(), c.expected);

    EXPECT_EQ(connection, nullptr);
    EXPECT_TRUE(connectionDeleted);
    EXPECT_EQ(journal.back(), "close Ethernet");
    journal.clear();
    static_cast<void>(client.SelectNetworkInterface(&chosen));  // the journal tells
    EXPECT_EQ(journal.front(), "open WiFi");
}

INSTANTIATE_TEST_SUITE_P(
    Connect, HttpClientConnectFailureTest,
    ::testing::Values(ConnectCase{"RefusedWithItsError", 2, CONNSTATE_DISCONNECTED, 20001, 20001},
                      ConnectCase{"DroppedWithoutError", 2, CONNSTATE_DISCONNECTED, 0, 20028},
                      ConnectCase{"NeverConnected", 1000, CONNSTATE_CONNECTED, 0, 20027}),
    [](const auto& info) { return std::string(info.param.name); });

TEST_F(HttpClientInterfaceTest, InterfaceWithoutConnectionObjectFails) {
    Provide(DEVICE_ETHERNET, "Ethernet");
    Provide(DEVICE_WIFI, "WiFi");

    EXPECT_EQ(client.ConnectToHost(connection).Code(), 27002u);

    EXPECT_EQ(journal.back(), "close Ethernet");
    journal.clear();
    static_cast<void>(client.SelectNetworkInterface(&chosen));  // the journal tells
    EXPECT_EQ(journal.front(), "open WiFi");
}

// The platform's own devices, with the tunnel registered as a program that
// uses it does: the tunnel rows ask for serial port 0, which no machine has.
TEST(HttpClientPlatformDevicesTest, SerialTunnelRowsFail) {
    RegisterSerialTunnels();
    TTestSystem system;
    TTestHttpClient client("test", "http://10.1.2.3:8080/doc", 5000, nullptr);
    INetworkInterface* chosen = nullptr;

    for (DEVICE kind : {DEVICE_USB, DEVICE_COM}) {
        EXPECT_EQ(client.EnableNetworkInterface(kind, 3000, &chosen).Code(), 20025u) << kind;
        EXPECT_EQ(chosen, nullptr);
    }
    EXPECT_EQ(client.EnableNetworkInterface(DEVICE_ETHERNET, 5000, &chosen).Code(), 0u);
    EXPECT_NE(chosen, nullptr);
}

// A desktop that answers every status request alike and keeps the messages
// it was asked to show, as "interface: text".
class TRecordingDesktop : public IDesktop {
  public:
    TRecordingDesktop() : m_replaced(IDesktop::Install(this)) {}
    ~TRecordingDesktop() override { IDesktop::Install(m_replaced); }

    bool ShowTopWindow(unsigned long, TScreenOptions*) override { return true; }
    Error GetTopWindowStatus() override { return Error(status); }
    void StatusMessage(const std::string& text, const std::string& interfaceName) override {
        messages.push_back(interfaceName + ": " + text);
    }

    unsigned long status = kErrorNothingHappened;
    std::vector<std::string> messages;

  private:
    IDesktop* m_replaced;
};

// Exchanges over an in-memory connection, with a desktop that records what
// it is shown.
class HttpClientLineTest : public HttpClientInterfaceTest {
  protected:
    // Ethernet comes up at once and connects to end A of the line.
    void ConnectOverLine() {
        Provide(DEVICE_ETHERNET, "Ethernet").nextConnection.reset(line.NewEnd(TMemoryLine::A));
    }

    void Answer(const std::string& response) {
        line.Inject(TMemoryLine::A, T_BinaryData(response));
    }

    TMemoryLine line;
    TRecordingDesktop desktop;
};

TEST_F(HttpClientLineTest, ShowsTheStepsAndTheProgressOfEachPortion) {
    ConnectOverLine();
    line.Switches(TMemoryLine::A).maxReceiveChunk = 100;
    // A header of exactly one portion, then ten portions of body.
    std::string header = "HTTP/1.1 200 OK\r\nContent-Length: 1000\r\nX-Pad: ";
    header += std::string(100 - header.size() - 4, 'x') + "\r\n\r\n";
    ASSERT_EQ(header.size(), 100u);
    Answer(header + std::string(1000, 'b'));
    TTestHttpClient fetching("test", "http://10.1.2.3:8080/get?file=fw.bin&v=2", 5000, nullptr);

    ASSERT_EQ(fetching.GetFile("fw.bin", 1000).Code(), 0u);

    std::vector<std::string> expected{"Ethernet: \xCE\xF2\xEF\xF0\xE0\xE2\xEA\xE0",
                                      "Ethernet: \xCF\xF0\xE8\xE5\xEC"};
    for (int percent = 10; percent <= 100; percent += 10) {
        expected.push_back("Ethernet: fw.bin... " + std::to_string(percent) + "%");
    }
    expected.push_back("Ethernet: \xC3\xEE\xF2\xEE\xE2\xEE");
    EXPECT_EQ(desktop.messages, expected);
}

// A server's answer made up as it is read: a header announcing `bodySize`
// bytes, then that many bytes, without holding them anywhere.
class TGeneratedAnswer : public IConnection {
  public:
    explicit TGeneratedAnswer(std::uint64_t bodySize)
        : m_header("HTTP/1.1 200 OK\r\nContent-Length: " + std::to_string(bodySize) + "\r\n\r\n"),
          m_left(m_header.size() + bodySize) {}

    long Send(const unsigned char*, unsigned long length) override {
        return static_cast<long>(length);
    }
    long Receive(unsigned char* buffer, unsigned long length) override {
        const std::uint64_t count = std::min<std::uint64_t>(length, m_left);
        for (std::uint64_t i = 0; i < count; ++i, ++m_sent) {
            buffer[i] = m_sent < m_header.size() ? m_header[m_sent] : 'b';
        }
        m_left -= count;
        return static_cast<long>(count);
    }
    unsigned long GetPeerAddress() override { return 0; }
    CONNSTATE GetState() override { return CONNSTATE_CONNECTED; }
    Error GetLastError() override { return Error(0); }

  private:
    std::string m_header;
    std::uint64_t m_left;
    std::uint64_t m_sent = 0;
};

TEST_F(HttpClientLineTest, ProgressOfAFileBeyondFortyTwoMegabytesReachesAHundred) {
    const unsigned long size = 50'000'000;
    Provide(DEVICE_ETHERNET, "Ethernet").nextConnection = std::make_unique<TGeneratedAnswer>(size);
    TempDir dir;
    TStandInFiles files(dir.Path().c_str(), TStandInFiles::TWrites::Discarded);
    TTestHttpClient fetching("test", "http://10.1.2.3:8080/get?file=big.bin&", 5000, &files);

    ASSERT_EQ(fetching.GetFile("big.bin", size).Code(), 0u);

    // Received bytes times 100 overflow 32 bits here: the percentage must
    // still climb to 100 in steps of 5.
    ASSERT_GE(desktop.messages.size(), 3u);
    const auto last = desktop.messages.end();
    EXPECT_EQ(*(last - 3), "Ethernet: big.bin... 95%");
    EXPECT_EQ(*(last - 2), "Ethernet: big.bin... 100%");
}

TEST_F(HttpClientLineTest, NoFileSystemMeansTheDefaultOne) {
    ConnectOverLine();
    Answer("HTTP/1.1 200 OK\r\nContent-Length: 4\r\n\r\nfile");
    TempDir other;
    TLinFileSystem elsewhere(other.Path().c_str());
    TTestHttpClient fetching("test", "http://10.1.2.3:8080/f", 5000, &elsewhere);
    fetching.SetFileSystem(nullptr);

    ASSERT_EQ(fetching.GetFile("copy.bin", 0).Code(), 0u);
    std::unique_ptr<IFileReadable> copy(system.GetDefaultFileSystem()->OpenForRead("copy.bin"));
    ASSERT_NE(copy, nullptr);
    EXPECT_EQ(copy->GetLength(), 4);
    EXPECT_FALSE(other.Exists("copy.bin"));
}

TEST_F(HttpClientLineTest, BodyThatStallsFailsAfterNinetySecondsOfSilenceAndKeepsNothing) {
    ConnectOverLine();
    Answer("HTTP/1.1 200 OK\r\nContent-Length: 10\r\n\r\nhello");
    // The client yields the processor while it waits: here each yield takes
    // a second.
    system.SetIdleStep(1000);
    std::string reply;

    EXPECT_EQ(client.Post("{}", reply, false).Code(), 27003u);

    EXPECT_EQ(reply, "");
    EXPECT_GE(system.Clock().Now(), 90000u);
    EXPECT_LT(system.Clock().Now(), 92000u);
}

TEST_F(HttpClientLineTest, DesktopAnswerEndsTheWaitForTheServer) {
    ConnectOverLine();
    desktop.status = 9;
    std::string reply;

    EXPECT_EQ(client.Post("{}", reply, true).Code(), 9u);
    EXPECT_EQ(line.LiveEnds(TMemoryLine::A), 0) << "a failed exchange closes the connection";
}

TEST_F(HttpClientLineTest, DesktopAnswerStopsTheInterfaceSearch) {
    Provide(DEVICE_ETHERNET, "Ethernet").startingPolls = 1000;
    Provide(DEVICE_WIFI, "WiFi");
    desktop.status = 8000;

    EXPECT_EQ(client.SelectNetworkInterface(&chosen).Code(), 8000u);
    EXPECT_EQ(journal, (std::vector<std::string>{"open Ethernet", "close Ethernet"}));
}

// An observer that records what it is told and answers with `stop` once it
// has been asked that many times.
class TRecordingProgress : public IHttpProgress {
  public:
    void Status(const std::string& text, const std::string& interfaceName) override {
        events.push_back(interfaceName + ": " + text);
    }
    void Percent(const std::string& fileName, unsigned percent,
                 const std::string& interfaceName) override {
        events.push_back(interfaceName + ": " + fileName + " " + std::to_string(percent));
    }
    Error ShouldStop() override {
        return Error(++asked >= stopAfter ? stop : kErrorNothingHappened);
    }

    std::vector<std::string> events;
    unsigned long stop = kErrorNothingHappened;
    int stopAfter = 0;
    int asked = 0;
};

// An observer given to the client takes the desktop's place: the desktop is
// neither shown anything nor asked.
TEST_F(HttpClientLineTest, InjectedProgressIsToldInsteadOfTheDesktop) {
    ConnectOverLine();
    desktop.status = 9;
    TRecordingProgress progress;
    TTestHttpClient fetching("test", "http://10.1.2.3:8080/get?file=fw.bin&v=2", 5000, nullptr);
    fetching.SetProgress(&progress);
    Answer("HTTP/1.1 200 OK\r\nContent-Length: 4\r\n\r\nbody");

    ASSERT_EQ(fetching.GetFile("fw.bin", 4).Code(), 0u);
    EXPECT_EQ(progress.events,
              (std::vector<std::string>{"Ethernet: \xCE\xF2\xEF\xF0\xE0\xE2\xEA\xE0",
                                        "Ethernet: \xCF\xF0\xE8\xE5\xEC", "Ethernet: fw.bin 100",
                                        "Ethernet: \xC3\xEE\xF2\xEE\xE2\xEE"}));
    EXPECT_TRUE(desktop.messages.empty());
}

TEST_F(HttpClientLineTest, InjectedProgressEndsTheWaitForTheServer) {
    ConnectOverLine();
    TRecordingProgress progress;
    progress.stop = 9;
    progress.stopAfter = 3;
    client.SetProgress(&progress);
    std::string reply;

    EXPECT_EQ(client.Post("{}", reply, true).Code(), 9u);
    EXPECT_EQ(progress.asked, 3);
    EXPECT_TRUE(desktop.messages.empty());
}

}  // namespace
