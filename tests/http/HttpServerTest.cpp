#include "http/HttpServer.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>
#include <sys/socket.h>

#include <chrono>
#include <deque>
#include <fstream>
#include <functional>
#include <iostream>
#include <memory>
#include <optional>
#include <sstream>
#include <string>
#include <vector>

#include "platform/FileSystem.h"
#include "platform/SystemDevices.h"
#include "platform/linux/LinFileSystem.h"
#include "platform/linux/ListeningSocket.h"
#include "platform/linux/SocketInterface.h"
#include "support/ChildProcess.h"
#include "support/FakeNetworkInterface.h"
#include "support/Loopback.h"
#include "support/MemoryConnection.h"
#include "support/TempDir.h"
#include "support/TestDeviceLayer.h"
#include "support/TestSystem.h"

namespace {

using ::testing::ElementsAre;
using ::testing::HasSubstr;
using ::testing::StartsWith;

// One request as GetRequest hands it over.
struct TRequest {
    std::string name;
    HTTP_REQUEST_TYPE type = HTTP_REQUEST_INVALID;
    std::string serial;
    std::string data;
};

// ---------------------------------------------------------------------------
// The server over interfaces whose listens hand out in-memory connections.

constexpr unsigned short kPort = 8080;
constexpr unsigned kUp = 3;

// A network interface, up or not, whose listens hand out the connections a
// test has queued; with none queued a listen fails.
class TQueuedListenInterface : public TFakeNetworkInterface {
  public:
    explicit TQueuedListenInterface(unsigned readiness) : m_readiness(readiness) {}

    unsigned GetCurrentState() override { return m_readiness; }
    Error Listen(unsigned short port, IConnection** connection) override {
        *connection = nullptr;
        listenedPorts.push_back(port);
        if (queued.empty()) {
            return Error(20008);
        }
        *connection = queued.front().release();
        queued.pop_front();
        return Error(0);
    }

    std::deque<std::unique_ptr<IConnection>> queued;
    std::vector<unsigned short> listenedPorts;

  private:
    unsigned m_readiness;
};

// Readiness of a fake interface, or no device at all.
using TReadiness = std::optional<unsigned>;

class HttpServerTest : public ::testing::Test {
  protected:
    // Installs fake interfaces of kinds Ethernet, USB and COM (index 0).
    void InstallInterfaces(TReadiness ethernet, TReadiness usb, TReadiness com) {
        auto layer = std::make_unique<TTestDeviceLayer>();
        m_ethernet = Provide(*layer, DEVICE_ETHERNET, ethernet);
        m_usb = Provide(*layer, DEVICE_USB, usb);
        m_com = Provide(*layer, DEVICE_COM, com);
        m_system.SetDeviceLayer(std::move(layer));
    }

    void SetUp() override { InstallInterfaces(kUp, std::nullopt, std::nullopt); }

    // A client whose connection the next listen on the Ethernet interface
    // accepts. The test writes as the client with Send and reads with Received.
    TMemoryLine& NewClient(TQueuedListenInterface* iface = nullptr) {
        m_clients.push_back(std::make_unique<TMemoryLine>());
        TMemoryLine& line = *m_clients.back();
        (iface ? iface : m_ethernet)->queued.emplace_back(line.NewEnd(TMemoryLine::A));
        return line;
    }
    static void Send(TMemoryLine& client, const std::string& bytes) {
        client.Inject(TMemoryLine::A, T_BinaryData(bytes));
    }
    static std::string Received(TMemoryLine& client) {
        return client.TakePending(TMemoryLine::B).ToString();
    }
    static bool Connected(TMemoryLine& client) { return client.LiveEnds(TMemoryLine::A) > 0; }

    // Polls the server until a request comes, for at most `passes` passes.
    std::optional<TRequest> NextRequest(THttpServer& server, int passes = 50) {
        for (int i = 0; i < passes; ++i) {
            TRequest request;
            T_BinaryData data;
            if (server.GetRequest(request.name, request.type, request.serial, data).Code() == 0) {
                request.data = data.ToString();
                return request;
            }
        }
        return std::nullopt;
    }

    TTestSystem m_system;
    TQueuedListenInterface* m_ethernet = nullptr;
    TQueuedListenInterface* m_usb = nullptr;
    TQueuedListenInterface* m_com = nullptr;
    std::vector<std::unique_ptr<TMemoryLine>> m_clients;

  private:
    static TQueuedListenInterface* Provide(TTestDeviceLayer& layer, DEVICE kind,
                                           TReadiness readiness) {
        if (!readiness) {
            return nullptr;
        }
        auto iface = std::make_unique<TQueuedListenInterface>(*readiness);
        TQueuedListenInterface* raw = iface.get();
        layer.Provide(kind, 0, std::move(iface));
        return raw;
    }
};

const std::string kGetFromT1 =
    "GET /get?name=abc.bin&terminalSN=123456 HTTP/1.1\r\nUser-Agent: T1\r\n\r\n";

std::string GetFrom(const std::string& sender, const std::string& file) {
    return "GET /get?name=" + file + "&terminalSN=1 HTTP/1.1\r\nUser-Agent: " + sender + "\r\n\r\n";
}

TEST_F(HttpServerTest, ListensOnTheInterfacesThatAreUpAtConstruction) {
    struct {
        const char* label;
        TReadiness ethernet, usb, com;
        unsigned short useSerial;
        bool useEthernet;
        bool listensOnEthernet, listensOnUsb, listensOnCom;
    } const cases[] = {
        {"ethernet", kUp, kUp, kUp, 0, true, true, false, false},
        {"ethernet not wanted", kUp, std::nullopt, std::nullopt, 0, false, false, false, false},
        {"ethernet not up", 1, std::nullopt, std::nullopt, 0, true, false, false, false},
        {"usb before com", std::nullopt, kUp, kUp, 1, false, false, true, false},
        {"com when usb is missing", std::nullopt, std::nullopt, kUp, 1, false, false, false, true},
        {"com when usb failed", std::nullopt, 4, kUp, 1, false, false, false, true},
        {"no tunnel up", std::nullopt, 1, 1, 1, false, false, false, false},
        {"both networks", kUp, kUp, std::nullopt, 1, true, true, true, false},
    };
    for (const auto& c : cases) {
        InstallInterfaces(c.ethernet, c.usb, c.com);
        THttpServer server(kPort, c.useSerial, c.useEthernet);
        server.Process();
        const auto listened = [](TQueuedListenInterface* iface) {
            return iface != nullptr && !iface->listenedPorts.empty();
        };
        EXPECT_EQ(listened(m_ethernet), c.listensOnEthernet) << c.label;
        EXPECT_EQ(listened(m_usb), c.listensOnUsb) << c.label;
        EXPECT_EQ(listened(m_com), c.listensOnCom) << c.label;
        for (auto* iface : {m_ethernet, m_usb, m_com}) {
            if (iface != nullptr) {
                EXPECT_THAT(iface->listenedPorts, ::testing::Each(kPort)) << c.label;
            }
        }
    }
}

TEST_F(HttpServerTest, ServesTerminalsThroughTheTunnel) {
    InstallInterfaces(std::nullopt, std::nullopt, kUp);
    THttpServer server(kPort, 1, false);
    TMemoryLine& terminal = NewClient(m_com);
    Send(terminal, kGetFromT1);

    const std::optional<TRequest> request = NextRequest(server);
    ASSERT_TRUE(request);
    EXPECT_EQ(request->name, "T1");
    EXPECT_EQ(request->type, HTTP_REQUEST_GET);
    EXPECT_EQ(request->serial, "123456");
    EXPECT_EQ(request->data, "abc.bin");
    EXPECT_EQ(server.DeliverTextReply("T1", "abc").Code(), 0u);
    EXPECT_EQ(Received(terminal), "HTTP/1.1 200 OK\r\nContent-Length: 3\r\n\r\nabc");
}

TEST_F(HttpServerTest, KeepsOneListenPendingAndReplacesItWhenItEnds) {
    THttpServer server(kPort, 0, true);
    server.Process();  // no connection queued: the listen fails, and is tried again
    server.Process();
    EXPECT_EQ(m_ethernet->listenedPorts.size(), 2u);

    TMemoryLine& dropped = NewClient();
    dropped.Switches(TMemoryLine::A).state = CONNSTATE_DISCONNECTED;
    TMemoryLine& waiting = NewClient();
    waiting.Switches(TMemoryLine::A).state = CONNSTATE_LISTENING;
    server.Process();
    EXPECT_FALSE(Connected(dropped)) << "a listen that ended is deleted";
    server.Process();
    server.Process();
    EXPECT_EQ(m_ethernet->listenedPorts.size(), 4u) << "one listen pending while it waits";

    waiting.Switches(TMemoryLine::A).state = CONNSTATE_CONNECTED;
    Send(waiting, kGetFromT1);
    EXPECT_TRUE(NextRequest(server));
    EXPECT_TRUE(Connected(waiting));
}

TEST_F(HttpServerTest, PortZeroListensNowhere) {
    THttpServer server(0, 0, true);
    server.Process();
    EXPECT_TRUE(m_ethernet->listenedPorts.empty());
}

TEST_F(HttpServerTest, StopRefusesNewConnectionsButServesThoseItHas) {
    THttpServer server(kPort, 0, true);
    TMemoryLine& first = NewClient();
    server.Process();
    server.Stop();
    TMemoryLine& second = NewClient();
    Send(second, GetFrom("T2", "b"));
    Send(first, GetFrom("T1", "a"));

    std::optional<TRequest> request = NextRequest(server);
    ASSERT_TRUE(request);
    EXPECT_EQ(request->name, "T1");
    EXPECT_FALSE(NextRequest(server)) << "the second client is not accepted";
    EXPECT_EQ(server.DeliverTextReply("T1", "a").Code(), 0u);

    server.Start();
    request = NextRequest(server);
    ASSERT_TRUE(request);
    EXPECT_EQ(request->name, "T2");
}

TEST_F(HttpServerTest, EveryReplyStatesTheLengthOfItsBody) {
    THttpServer server(kPort, 0, true);
    TMemoryLine& client = NewClient();
    TempDir dir;
    dir.WriteFile("f.bin", std::string("\x00\x01\x02", 3));
    TLinFileSystem files(dir.Path().c_str());
    const std::string kOk = "HTTP/1.1 200 OK\r\n";
    struct {
        const char* label;
        std::function<Error()> deliver;
        std::string reply;
    } const cases[] = {
        {"empty text", [&] { return server.DeliverTextReply("T1", ""); },
         kOk + "Content-Length: 0\r\n\r\n"},
        {"text", [&] { return server.DeliverTextReply("T1", "abc"); },
         kOk + "Content-Length: 3\r\n\r\nabc"},
        {"file read at once",
         [&] {
             std::unique_ptr<IFileReadable> file(files.OpenForRead("f.bin"));
             return server.DeliverFileReply("T1", file.get());
         },
         kOk + std::string("Content-Length: 3\r\n\r\n\x00\x01\x02", 24)},
        {"file read as it goes",
         [&] {
             return server.DeliverFileReply(
                 "T1", std::unique_ptr<IFileReadable>(files.OpenForRead("f.bin")));
         },
         kOk + std::string("Content-Length: 3\r\n\r\n\x00\x01\x02", 24)},
    };
    for (const auto& c : cases) {
        Send(client, kGetFromT1);
        ASSERT_TRUE(NextRequest(server)) << c.label;
        EXPECT_EQ(c.deliver().Code(), 0u) << c.label;
        EXPECT_EQ(Received(client), c.reply) << c.label;
    }

    Send(client, kGetFromT1);
    ASSERT_TRUE(NextRequest(server));
    EXPECT_EQ(server.DeliverFileReply("T1", nullptr).Code(), FILE_ERROR_OPEN);
    EXPECT_EQ(server.DeliverFileReply("T1", std::unique_ptr<IFileReadable>()).Code(),
              FILE_ERROR_OPEN);
    EXPECT_EQ(Received(client), "");
    EXPECT_EQ(server.DeliverTextReply("T9", "abc").Code(), HTTP_SERVER_NO_CUSTOMER);

    EXPECT_EQ(server.DeliverErrorReply("T1", "File not found").Code(), 0u);
    server.Process();
    EXPECT_EQ(Received(client), "HTTP/1.1 500 File not found\r\nContent-Length: 0\r\n\r\n");
    EXPECT_FALSE(Connected(client)) << "an error reply ends the connection once it has gone";
}

TEST_F(HttpServerTest, RejectedRequestsAreAnsweredAndTheConnectionStays) {
    THttpServer server(kPort, 0, true);
    std::vector<std::pair<std::string, std::string>> rejections;
    server.SetRejectionListener([&](const std::string& name, const std::string& message) {
        rejections.emplace_back(name, message);
    });
    TMemoryLine& client = NewClient();
    Send(client, kGetFromT1);
    ASSERT_TRUE(NextRequest(server));
    ASSERT_EQ(server.DeliverTextReply("T1", "").Code(), 0u);
    Received(client);

    Send(client, "GET /get?name=abc.bin HTTP/1.1\r\n\r\n");
    EXPECT_FALSE(NextRequest(server));
    EXPECT_EQ(
        Received(client),
        "HTTP/1.1 500 No file name or serial number in GET request\r\nContent-Length: 0\r\n\r\n");
    EXPECT_THAT(rejections, ElementsAre(std::pair<std::string, std::string>(
                                "T1", "No file name or serial number in GET request")));

    Send(client, kGetFromT1);
    EXPECT_TRUE(NextRequest(server));
    EXPECT_TRUE(Connected(client));
}

TEST_F(HttpServerTest, RequestsTooLargeOrFramedAmbiguouslyAreAnsweredAndTheClientIsDisconnected) {
    const std::string post = "POST /up HTTP/1.1\r\nUser-Agent: T1\r\n";
    struct {
        std::string request;
        std::string reply;
    } const cases[] = {
        {post + "Content-Length: 99999999\r\n\r\n", "HTTP/1.1 500 Request too large"},
        {post + "Content-Length: 3\r\nContent-Length: 4\r\n\r\nabcd",
         "HTTP/1.1 500 Invalid header line:Content-Length: 4"},
        {post + "Transfer-Encoding: chunked\r\n\r\n0\r\n\r\n",
         "HTTP/1.1 500 Transfer-Encoding not supported"},
    };
    THttpServer server(kPort, 0, true);
    for (const auto& c : cases) {
        TMemoryLine& client = NewClient();
        Send(client, c.request);
        EXPECT_FALSE(NextRequest(server));
        EXPECT_EQ(Received(client), c.reply + "\r\nContent-Length: 0\r\n\r\n");
        EXPECT_FALSE(Connected(client)) << c.request;
    }
}

TEST_F(HttpServerTest, CustomersWhoseLinkFailedAreDropped) {
    THttpServer server(kPort, 0, true);
    TMemoryLine& client = NewClient();
    Send(client, kGetFromT1);
    ASSERT_TRUE(NextRequest(server));
    ASSERT_EQ(server.DeliverTextReply("T1", "").Code(), 0u);
    EXPECT_TRUE(server.IsCustomerPresent("T1"));

    client.Switches(TMemoryLine::A).receiveFailure = -2;
    EXPECT_FALSE(server.IsCustomerPresent("T1"));
    EXPECT_FALSE(Connected(client));
}

// A reply goes only to a customer whose collected request awaits one: not
// to a connection that has sent nothing (its name is ""), nor to one whose
// header naming the same terminal is still arriving.
TEST_F(HttpServerTest, RepliesGoOnlyToTheCustomerThatCarriedTheRequest) {
    THttpServer server(kPort, 0, true);
    TMemoryLine& idle = NewClient();
    TMemoryLine& halfSent = NewClient();
    TMemoryLine& requester = NewClient();
    server.Process();
    Send(halfSent, "GET /get?name=x&terminalSN=1 HTTP/1.1\r\nUser-Agent: terminal-007\r\n");
    server.Process();
    Send(requester, GetFrom("terminal-007", "secret.bin"));
    const std::optional<TRequest> request = NextRequest(server);
    ASSERT_TRUE(request);

    EXPECT_EQ(server.DeliverTextReply("", "SECRET-OUTSIDE").Code(), HTTP_SERVER_NO_CUSTOMER);
    EXPECT_EQ(server.DeliverTextReply("terminal-007", "SECRET-OUTSIDE").Code(), 0u);
    EXPECT_EQ(Received(requester), "HTTP/1.1 200 OK\r\nContent-Length: 14\r\n\r\nSECRET-OUTSIDE");
    EXPECT_EQ(Received(idle), "");
    EXPECT_EQ(Received(halfSent), "");
    EXPECT_EQ(server.DeliverTextReply("terminal-007", "again").Code(), HTTP_SERVER_NO_CUSTOMER)
        << "the request has had its reply";

    Send(requester, "POST /up HTTP/1.1\r\nUser-Agent: terminal-007\r\nContent-Length: 2\r\n\r\nhi");
    ASSERT_TRUE(NextRequest(server));
    EXPECT_EQ(server.DeliverTextReply("terminal-007", "OK").Code(), 0u);
    EXPECT_EQ(Received(requester), "HTTP/1.1 200 OK\r\nContent-Length: 2\r\n\r\nOK");
    EXPECT_EQ(Received(idle) + Received(halfSent), "");
}

TEST_F(HttpServerTest, AmongCustomersOfOneNameTheOldestRequestIsAnsweredFirst) {
    THttpServer server(kPort, 0, true);
    TMemoryLine& first = NewClient();
    TMemoryLine& second = NewClient();
    TMemoryLine& third = NewClient();
    server.Process();
    Send(second, GetFrom("T1", "b"));  // collected first, though accepted later
    ASSERT_TRUE(NextRequest(server));
    Send(first, GetFrom("T1", "a"));
    ASSERT_TRUE(NextRequest(server));
    Send(third, GetFrom("T1", "c"));
    ASSERT_TRUE(NextRequest(server));

    EXPECT_EQ(server.DeliverTextReply("T1", "x").Code(), 0u);
    EXPECT_EQ(Received(second), "HTTP/1.1 200 OK\r\nContent-Length: 1\r\n\r\nx");
    EXPECT_EQ(Received(first), "");

    first.Switches(TMemoryLine::A).sendFailure = -1;
    EXPECT_EQ(server.DeliverTextReply("T1", "y").Code(), 0u) << "the next one takes it";
    EXPECT_FALSE(Connected(first));
    EXPECT_EQ(Received(third), "HTTP/1.1 200 OK\r\nContent-Length: 1\r\n\r\ny");
    EXPECT_EQ(server.DeliverTextReply("T1", "z").Code(), HTTP_SERVER_NO_CUSTOMER);
}

// A customer that takes nothing of its reply for 15 s is dropped, while the
// others are served and every Deliver returns at once.
TEST_F(HttpServerTest, ACustomerThatStopsReadingIsDroppedAndHoldsUpNoOne) {
    m_system.SetIdleStep(0);
    THttpServer server(kPort, 0, true);
    TMemoryLine& stalled = NewClient();
    TMemoryLine& other = NewClient();
    stalled.Switches(TMemoryLine::A).maxSendChunk = 100;
    Send(stalled, GetFrom("T1", "big"));
    ASSERT_TRUE(NextRequest(server));
    ASSERT_EQ(server.DeliverTextReply("T1", std::string(10000, 'b')).Code(), 0u);
    stalled.Switches(TMemoryLine::A).zeroSends = 1000000;

    Send(other, GetFrom("T2", "small"));
    ASSERT_TRUE(NextRequest(server));
    EXPECT_EQ(server.DeliverTextReply("T2", "s").Code(), 0u);
    EXPECT_EQ(Received(other), "HTTP/1.1 200 OK\r\nContent-Length: 1\r\n\r\ns");

    m_system.Clock().Advance(THttpServer::kStallLimitMs - 1);
    server.Process();
    EXPECT_TRUE(Connected(stalled));
    m_system.Clock().Advance(1);
    server.Process();
    EXPECT_FALSE(Connected(stalled));
    EXPECT_TRUE(Connected(other));
}

// A full server closes the customer that has waited longest without a
// complete request to make room for a new connection; one whose request is
// being served is never closed for it, and without room the newcomer is.
TEST_F(HttpServerTest, AFullServerMakesRoomByClosingTheLongestWaitingCustomer) {
    constexpr unsigned long kIdleMs = 5000;
    m_system.SetIdleStep(0);
    THttpServer server(kPort, 0, true);
    server.SetLimits(2, kIdleMs);
    TMemoryLine& served = NewClient();
    TMemoryLine& waiting = NewClient();
    server.Process();
    Send(served, kGetFromT1);
    ASSERT_TRUE(NextRequest(server));
    m_system.Clock().Advance(1000);

    TMemoryLine& newcomer = NewClient();
    server.Process();
    EXPECT_FALSE(Connected(waiting)) << "waited longest without a request";
    EXPECT_TRUE(Connected(served)) << "its request awaits the application's reply";
    EXPECT_TRUE(Connected(newcomer));

    Send(newcomer, GetFrom("T2", "b"));
    ASSERT_TRUE(NextRequest(server));
    TMemoryLine& refused = NewClient();
    server.Process();
    EXPECT_FALSE(Connected(refused)) << "no customer could make room";

    EXPECT_EQ(server.DeliverTextReply("T2", "b").Code(), 0u);
    m_system.Clock().Advance(kIdleMs);
    server.Process();
    EXPECT_FALSE(Connected(newcomer)) << "silent with nothing to do";
    EXPECT_TRUE(Connected(served));
}

// Customers of one peer address are bounded apart from the whole: their own
// longest waiting one makes room, not another address's.
TEST_F(HttpServerTest, CustomersOfOneAddressAreBounded) {
    m_system.SetIdleStep(0);
    THttpServer server(kPort, 0, true);
    server.SetAddressLimit(2);
    TMemoryLine& first = NewClient();
    server.Process();
    m_system.Clock().Advance(10);
    TMemoryLine& second = NewClient();
    server.Process();
    m_system.Clock().Advance(10);
    TMemoryLine& third = NewClient();
    server.Process();
    EXPECT_FALSE(Connected(first));
    EXPECT_TRUE(Connected(second));
    EXPECT_TRUE(Connected(third));
}

TEST_F(HttpServerTest, WaitingForOneSenderDropsTheRequestsOfOthers) {
    THttpServer server(kPort, 0, true);
    TMemoryLine& other = NewClient();
    TMemoryLine& wanted = NewClient();
    Send(other, GetFrom("T2", "other"));
    Send(wanted, GetFrom("T1", "wanted"));

    T_BinaryData data;
    EXPECT_EQ(server.GetTextRequestFromSpecificSender(1000, "T1", data).Code(), 0u);
    EXPECT_EQ(data.ToString(), "wanted");
    EXPECT_EQ(Received(other), "") << "the other request is dropped unanswered";
    EXPECT_TRUE(server.IsCustomerPresent("T2"));

    const std::uint32_t start = m_system.Clock().Now();
    Send(other, GetFrom("T2", "again"));
    T_BinaryData untouched(std::string("kept"));
    EXPECT_EQ(server.GetTextRequestFromSpecificSender(1000, "T1", untouched).Code(),
              HTTP_SERVER_TIMEOUT);
    EXPECT_EQ(m_system.Clock().Now() - start, 1000u);
    EXPECT_EQ(untouched.ToString(), "kept");
}

// ---------------------------------------------------------------------------
// The server on the host's network, with curl and plain sockets as clients.

using namespace std::chrono_literals;

class HttpServerWithCurlTest : public ::testing::Test {
  protected:
    // From the first pass on the server listens on its port, which is held
    // open between its listens, as a server on the host's network holds it.
    void SetUp() override {
        m_heldPort = dynamic_cast<TSocketInterface&>(*SystemEthernet()).GetListeningSocket(m_port);
        m_server.Process();
    }

    std::string Url(const std::string& target) const {
        return "http://127.0.0.1:" + std::to_string(m_port) + target;
    }

    // Starts curl; it prints "<status> <new connections>" for each transfer.
    std::unique_ptr<ChildProcess> Curl(const std::vector<std::string>& args,
                                       const char* maxSeconds = "10") {
        std::vector<std::string> argv = {
            "curl",      "--silent",    "--show-error",
            "--noproxy", "*",           "--max-time",
            maxSeconds,  "--write-out", "%{http_code} %{num_connects}\\n"};
        argv.insert(argv.end(), args.begin(), args.end());
        return std::make_unique<ChildProcess>(argv);
    }

    // Polls the server until condition holds (or ten seconds pass); requests
    // collected meanwhile wait for NextRequest.
    template <class Condition>
    bool Pump(Condition condition) {
        return WaitFor(
            [&] {
                TRequest request;
                T_BinaryData data;
                if (m_server.GetRequest(request.name, request.type, request.serial, data) == 0) {
                    request.data = data.ToString();
                    m_requests.push_back(request);
                }
                return condition();
            },
            10s);
    }

    std::optional<TRequest> NextRequest() {
        if (!Pump([&] { return !m_requests.empty(); })) {
            return std::nullopt;
        }
        TRequest request = m_requests.front();
        m_requests.pop_front();
        return request;
    }

    // The lines curl prints for `count` transfers, serving it meanwhile.
    std::vector<std::string> Results(ChildProcess& curl, std::size_t count = 1) {
        std::vector<std::string> lines;
        Pump([&] {
            const std::string line = curl.ReadLine(0);
            if (!line.empty()) {
                lines.push_back(line);
            }
            return lines.size() == count;
        });
        return lines;
    }

    // Serves until the peer can read something.
    bool PumpUntilReadable(const TDescriptor& peer) {
        return Pump([&] {
            char byte;
            return recv(peer.Get(), &byte, 1, MSG_PEEK | MSG_DONTWAIT) >= 0;
        });
    }

    TTestSystem m_system;  // its device layer is the real one: Ethernet is the host's network
    std::uint16_t m_port = FreeLoopbackPort();
    THttpServer m_server{m_port, 0, true};
    std::shared_ptr<TListeningSocket> m_heldPort;
    TempDir m_files;
    std::deque<TRequest> m_requests;
};

TEST_F(HttpServerWithCurlTest, GetNamesTheFileAndTheSerialNumber) {
    auto curl =
        Curl({"-A", "T1", "-o", m_files / "body", Url("/get?name=abc.bin&terminalSN=123456")});
    const std::optional<TRequest> request = NextRequest();
    ASSERT_TRUE(request);
    EXPECT_EQ(request->name, "T1");
    EXPECT_EQ(request->type, HTTP_REQUEST_GET);
    EXPECT_EQ(request->serial, "123456");
    EXPECT_EQ(request->data, "abc.bin");

    EXPECT_EQ(m_server.DeliverTextReply("T1", "file contents").Code(), 0u);
    EXPECT_THAT(Results(*curl), ElementsAre("200 1"));
    EXPECT_EQ(m_files.ReadFile("body"), "file contents");
}

// Replies of the server itself state their empty body's length, so curl
// ends at once, well before its time limit, on a connection that stays open.
TEST_F(HttpServerWithCurlTest, RequestsItCannotServeAreAnsweredWithStatus500) {
    struct {
        std::vector<std::string> args;
        const char* statusLine;
    } const cases[] = {
        {{Url("/get?name=abc.bin")}, "HTTP/1.1 500 No file name or serial number in GET request"},
        {{Url("/get?name=abc.bin&terminalSN=")},
         "HTTP/1.1 500 No file name or serial number in GET request"},
        {{"--http1.0", Url("/get?name=abc.bin&terminalSN=1")}, "HTTP/1.1 500 Invalid request type"},
    };
    std::vector<std::unique_ptr<ChildProcess>> curls;
    for (std::size_t i = 0; i < std::size(cases); ++i) {
        std::vector<std::string> args = {"-D", m_files / std::to_string(i)};
        args.insert(args.end(), cases[i].args.begin(), cases[i].args.end());
        curls.push_back(Curl(args));
    }
    for (std::size_t i = 0; i < std::size(cases); ++i) {
        EXPECT_THAT(Results(*curls[i]), ElementsAre("500 1")) << cases[i].statusLine;
        EXPECT_EQ(m_files.ReadFile(std::to_string(i)),
                  std::string(cases[i].statusLine) + "\r\nContent-Length: 0\r\n\r\n");
    }
    EXPECT_TRUE(m_requests.empty());
}

TEST_F(HttpServerWithCurlTest, PostBodyArrivesWhole) {
    std::string body;
    for (int i = 0; i < 5000; ++i) {
        body += static_cast<char>(i * 7);
    }
    m_files.WriteFile("upload", body);
    auto curl = Curl({"-A", "T1", "-H", "Expect:", "--data-binary", "@" + (m_files / "upload"),
                      "-o", m_files / "reply", Url("/post")});
    const std::optional<TRequest> request = NextRequest();
    ASSERT_TRUE(request);
    EXPECT_EQ(request->type, HTTP_REQUEST_POST);
    EXPECT_EQ(request->data, body);

    EXPECT_EQ(m_server.DeliverTextReply("T1", "OK").Code(), 0u);
    EXPECT_THAT(Results(*curl), ElementsAre("200 1"));
    EXPECT_EQ(m_files.ReadFile("reply"), "OK");
}

TEST_F(HttpServerWithCurlTest, PostBodySentInTwoPartsIsReportedWhenComplete) {
    TDescriptor client = ConnectToLoopback(m_port);
    ASSERT_TRUE(client.IsOpen());
    ASSERT_TRUE(
        SendAll(client, "POST /up HTTP/1.1\r\nUser-Agent: T1\r\nContent-Length: 10\r\n\r\n0123"));
    for (int pass = 0; pass < 100; ++pass) {
        Pump([] { return true; });
    }
    EXPECT_TRUE(m_requests.empty());

    ASSERT_TRUE(SendAll(client, "456789"));
    const std::optional<TRequest> request = NextRequest();
    ASSERT_TRUE(request);
    EXPECT_EQ(request->data, "0123456789");
}

TEST_F(HttpServerWithCurlTest, KeptAliveConnectionCarriesSeveralRequests) {
    auto curl = Curl({"-A", "T1", Url("/get?name=one&terminalSN=1"), "-o", m_files / "one",
                      Url("/get?name=two&terminalSN=1"), "-o", m_files / "two"});
    for (const char* name : {"one", "two"}) {
        const std::optional<TRequest> request = NextRequest();
        ASSERT_TRUE(request);
        EXPECT_EQ(request->data, name);
        EXPECT_EQ(m_server.DeliverTextReply("T1", std::string("contents of ") + name).Code(), 0u);
    }
    EXPECT_THAT(Results(*curl, 2), ElementsAre("200 1", "200 0"));
    EXPECT_EQ(m_files.ReadFile("two"), "contents of two");
}

TEST_F(HttpServerWithCurlTest, SameUserAgentRepliesGoToTheFirstCustomerStillThere) {
    auto first = Curl({"-A", "T1", "-o", m_files / "first", Url("/get?name=a&terminalSN=1")});
    ASSERT_TRUE(NextRequest());
    auto second = Curl({"-A", "T1", "-o", m_files / "second", Url("/get?name=b&terminalSN=2")});
    ASSERT_TRUE(NextRequest());

    EXPECT_EQ(m_server.DeliverTextReply("T1", "reply 1").Code(), 0u);
    EXPECT_THAT(Results(*first), ElementsAre("200 1"));
    EXPECT_EQ(m_files.ReadFile("first"), "reply 1");
    first.reset();  // curl has closed its connection
    for (int pass = 0; pass < 10; ++pass) {
        m_server.Process();
    }

    EXPECT_EQ(m_server.DeliverTextReply("T1", "reply 2").Code(), 0u);
    EXPECT_THAT(Results(*second), ElementsAre("200 1"));
    EXPECT_EQ(m_files.ReadFile("second"), "reply 2");
}

TEST_F(HttpServerWithCurlTest, StoppedServerServesItsCustomersButAcceptsNoOneNew) {
    auto curl = Curl({"-A", "T1", Url("/get?name=one&terminalSN=1"), "-o", m_files / "one",
                      Url("/get?name=two&terminalSN=1"), "-o", m_files / "two"});
    ASSERT_TRUE(NextRequest());
    m_server.Stop();
    m_heldPort.reset();
    // The port closed with the last listen: a latecomer is turned away instead
    // of waiting for a server that does not listen.
    EXPECT_FALSE(ConnectToLoopback(m_port).IsOpen());

    EXPECT_EQ(m_server.DeliverTextReply("T1", "1").Code(), 0u);
    std::optional<TRequest> request = NextRequest();
    ASSERT_TRUE(request);
    EXPECT_EQ(request->data, "two");
    EXPECT_EQ(m_server.DeliverTextReply("T1", "2").Code(), 0u);
    EXPECT_THAT(Results(*curl, 2), ElementsAre("200 1", "200 0"));
    EXPECT_TRUE(m_requests.empty());

    m_server.Start();
    m_server.Process();
    TDescriptor next = ConnectToLoopback(m_port);
    ASSERT_TRUE(next.IsOpen());
    ASSERT_TRUE(
        SendAll(next, "GET /get?name=late&terminalSN=1 HTTP/1.1\r\nUser-Agent: T2\r\n\r\n"));
    request = NextRequest();
    ASSERT_TRUE(request);
    EXPECT_EQ(request->data, "late");
}

TEST_F(HttpServerWithCurlTest, BodyOverTheBoundIsRefusedAndTheConnectionClosed) {
    m_files.WriteFile("big", std::string(THttpCustomer::kMaxBodyBytes + 1, 'b'));
    auto curl = Curl({"-A", "T1", "-H", "Expect: 100-continue", "-D", m_files / "head",
                      "--data-binary", "@" + (m_files / "big"), Url("/post")});
    EXPECT_THAT(Results(*curl), ElementsAre("500 1"));
    EXPECT_EQ(m_files.ReadFile("head"),
              "HTTP/1.1 500 Request too large\r\nContent-Length: 0\r\n\r\n");
    EXPECT_TRUE(m_requests.empty());
}

TEST_F(HttpServerWithCurlTest, HeaderOverTheBoundIsRefusedAndTheConnectionClosed) {
    TDescriptor client = ConnectToLoopback(m_port);
    ASSERT_TRUE(client.IsOpen());
    ASSERT_TRUE(SendAll(client, "GET /get?name=a&terminalSN=1 HTTP/1.1\r\nX-Pad: " +
                                    std::string(THttpCustomer::kMaxHeaderBytes, 'p')));
    ASSERT_TRUE(PumpUntilReadable(client));
    const std::string reply = "HTTP/1.1 500 Request too large\r\nContent-Length: 0\r\n\r\n";
    EXPECT_EQ(ReceiveExactly(client, reply.size() + 1), reply) << "then the connection closes";
}

// A peer written for the case: connects, sends `request` and then never
// reads, holding the connection open until it is ended.
std::unique_ptr<ChildProcess> NonReadingPeer(std::uint16_t port, const std::string& request) {
    static const char kScript[] =
        "import socket, sys, time\n"
        "s = socket.create_connection(('127.0.0.1', int(sys.argv[1])))\n"
        "s.setsockopt(socket.SOL_SOCKET, socket.SO_RCVBUF, 4096)\n"
        "s.sendall(sys.argv[2].encode())\n"
        "print('sent', flush=True)\n"
        "time.sleep(600)\n";
    return std::make_unique<ChildProcess>(
        std::vector<std::string>{"python3", "-c", kScript, std::to_string(port), request});
}

TEST_F(HttpServerWithCurlTest, AClientThatNeverReadsHoldsUpNoOneElse) {
    auto stalled =
        NonReadingPeer(m_port, "GET /get?name=big&terminalSN=1 HTTP/1.1\r\nUser-Agent: T1\r\n\r\n");
    ASSERT_EQ(stalled->ReadLine(), "sent");
    ASSERT_TRUE(NextRequest());
    // Far more than the socket buffers hold; the call still returns at once.
    EXPECT_EQ(m_server.DeliverTextReply("T1", std::string(20 * 1024 * 1024, 'b')).Code(), 0u);

    auto curl = Curl({"-A", "T2", "-o", m_files / "small", Url("/get?name=small&terminalSN=2")});
    const std::optional<TRequest> request = NextRequest();
    ASSERT_TRUE(request);
    EXPECT_EQ(request->name, "T2");
    EXPECT_EQ(m_server.DeliverTextReply("T2", "small file").Code(), 0u);
    EXPECT_THAT(Results(*curl), ElementsAre("200 1"));
    EXPECT_EQ(m_files.ReadFile("small"), "small file");
}

TEST_F(HttpServerWithCurlTest, AReplyReachesOnlyItsRequester) {
    TDescriptor idle = ConnectToLoopback(m_port);
    TDescriptor halfSent = ConnectToLoopback(m_port);
    ASSERT_TRUE(idle.IsOpen() && halfSent.IsOpen());
    ASSERT_TRUE(
        SendAll(halfSent, "GET /get?name=x&terminalSN=1 HTTP/1.1\r\nUser-Agent: terminal-007\r\n"));
    for (int pass = 0; pass < 20; ++pass) {
        m_server.Process();
    }
    auto curl =
        Curl({"-A", "terminal-007", "-o", m_files / "got", Url("/get?name=f&terminalSN=7")});
    ASSERT_TRUE(NextRequest());
    EXPECT_EQ(m_server.DeliverTextReply("terminal-007", "SECRET-OUTSIDE").Code(), 0u);
    EXPECT_THAT(Results(*curl), ElementsAre("200 1"));
    EXPECT_EQ(m_files.ReadFile("got"), "SECRET-OUTSIDE");
    for (const TDescriptor* other : {&idle, &halfSent}) {
        char byte;
        EXPECT_LT(recv(other->Get(), &byte, 1, MSG_DONTWAIT), 0) << "nothing reached the others";
    }
}

TEST_F(HttpServerWithCurlTest, ABurstOfConnectionsIsAcceptedAtOnce) {
    constexpr int kClients = 200;
    m_server.SetLimits(kClients, THttpServer::kDefaultIdleTimeoutMs);
    m_server.SetAddressLimit(kClients);
    std::vector<TDescriptor> clients;
    for (int i = 0; i < kClients; ++i) {
        clients.push_back(ConnectToLoopback(m_port));
        ASSERT_TRUE(clients.back().IsOpen()) << "connection " << i;
        ASSERT_TRUE(SendAll(clients.back(), GetFrom("T" + std::to_string(i), "f")));
    }
    int passes = 0;
    std::size_t collected = 0;
    while (collected < kClients && passes < 1000) {
        ++passes;
        TRequest request;
        T_BinaryData data;
        while (m_server.GetRequest(request.name, request.type, request.serial, data) == 0) {
            ++collected;
        }
    }
    EXPECT_EQ(collected, static_cast<std::size_t>(kClients));
    std::cout << "[ FIGURE   ] " << kClients << " connections served in " << passes
              << " passes of the server\n";
}

TEST_F(HttpServerWithCurlTest, ALargePostIsReadInLargePieces) {
    std::string body(2 * 1024 * 1024, '\0');
    for (std::size_t i = 0; i < body.size(); ++i) {
        body[i] = static_cast<char>(i * 31 % 251);
    }
    m_files.WriteFile("upload", body);
    const auto start = std::chrono::steady_clock::now();
    auto curl = Curl({"-A", "T1", "-H", "Expect:", "--data-binary", "@" + (m_files / "upload"),
                      "-o", m_files / "reply", Url("/post")});
    const std::optional<TRequest> request = NextRequest();
    const auto took = std::chrono::steady_clock::now() - start;
    ASSERT_TRUE(request);
    EXPECT_EQ(request->data, body);
    std::cout << "[ FIGURE   ] a 2 MiB POST arrived whole after "
              << std::chrono::duration_cast<std::chrono::milliseconds>(took).count() << " ms\n";
    EXPECT_EQ(m_server.DeliverTextReply("T1", "OK").Code(), 0u);
    EXPECT_THAT(Results(*curl), ElementsAre("200 1"));
}

TEST_F(HttpServerWithCurlTest, AChunkedPostIsRefusedAndTheConnectionClosed) {
    m_files.WriteFile("upload", "some data");
    auto curl =
        Curl({"-A", "T1", "-H", "Expect:", "-H", "Transfer-Encoding: chunked", "--data-binary",
              "@" + (m_files / "upload"), "-D", m_files / "head", Url("/post")});
    EXPECT_THAT(Results(*curl), ElementsAre("500 1"));
    EXPECT_EQ(m_files.ReadFile("head"),
              "HTTP/1.1 500 Transfer-Encoding not supported\r\nContent-Length: 0\r\n\r\n");
    EXPECT_TRUE(m_requests.empty()) << "no chunk line was taken for a request";
}

}  // namespace
