#include <gtest/gtest.h>

#include <memory>
#include <optional>
#include <ostream>
#include <string>
#include <vector>

#include "http/HttpClient.h"
#include "support/TestDeviceLayer.h"
#include "support/TestSystem.h"

// Interface selection and connection set-up against scripted interfaces and
// connections on a fake clock: every poll moves the clock on by kPollMsec.

namespace {

constexpr unsigned long kPollMsec = 100;

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
        m_clock.Advance(kPollMsec);
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
        m_clock.Advance(kPollMsec);
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
    client.SelectNetworkInterface(&chosen);
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
    EXPECT_LT(system.Clock().Now(), 5000u + 3 * kPollMsec);
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
    EXPECT_EQ(client.GetStatistics()->interfaceStartMsec, 4 * kPollMsec) << "four polls";
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
    EXPECT_EQ(client.GetStatistics()->connectMsec, 3 * kPollMsec);
}

TEST_F(HttpClientInterfaceTest, HttpsUrlAsksForASecureConnection) {
    TScriptedInterface& ethernet = Provide(DEVICE_ETHERNET, "Ethernet");
    PrepareConnection(ethernet);
    TTestHttpClient secure("test", "https://10.1.2.3:443/doc", 5000, nullptr);

    ASSERT_EQ(secure.ConnectToHost(connection).Code(), 0u);
    EXPECT_TRUE(ethernet.calledHost->secure);
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
    client.SelectNetworkInterface(&chosen);
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
    client.SelectNetworkInterface(&chosen);
    EXPECT_EQ(journal.front(), "open WiFi");
}

}  // namespace
