#pragma once

#include <cstdint>
#include <functional>
#include <list>
#include <memory>
#include <string>

#include "base/BinaryData.h"
#include "base/Error.h"
#include "http/HttpCustomer.h"
#include "platform/Connection.h"
#include "platform/NetworkInterface.h"

class IFileReadable;

// Result codes of the HTTP server.
enum : unsigned long {
    HTTP_SERVER_TIMEOUT = 2002,
    HTTP_SERVER_NO_REQUEST = 41002,
    HTTP_SERVER_NO_CUSTOMER = 41003,
};

// A small polled HTTP/1.1 server through which an application serves
// terminals. It listens on one port through the Ethernet interface, the
// serial tunnel interface or both, keeps every accepted connection as a
// customer, and addresses replies by User-Agent to the customers whose
// requests await one. Nothing blocks: each GetRequest accepts, reads, sends
// what the connections take and hands over at most one request, and answers
// requests it cannot parse with status 500 itself. Every reply states its
// body's length. Customers that stop taking their reply, or stay silent
// with nothing to do, are dropped, and so are those whose request header
// misses its deadline or whose body comes too slowly. Customers are bounded
// in number, in all and per peer address; when a new connection finds no
// room, the customer of its bound that has waited longest without a
// complete request is closed for it, and without such a customer the new
// connection is closed at once. On the host's network a listen takes one
// peer; a server that must not refuse peers between two listens holds its
// port open (TSocketInterface::GetListeningSocket).
class THttpServer {
  public:
    // Takes the interfaces that are up now: Ethernet when useEthernet, and
    // when useSerial is not 0 the USB tunnel, else the COM tunnel. An
    // interface that is not up is never used. The server starts accepting.
    THttpServer(unsigned short port, unsigned short useSerial, bool useEthernet);
    virtual ~THttpServer();
    THttpServer(const THttpServer&) = delete;
    THttpServer& operator=(const THttpServer&) = delete;

    // How long a customer may take none of its reply before it is dropped.
    static constexpr unsigned long kStallLimitMs = 15000;
    static constexpr unsigned long kDefaultMaxCustomers = 64;
    static constexpr unsigned long kDefaultIdleTimeoutMs = 120000;
    static constexpr unsigned long kDefaultMaxPerAddress = 16;
    // Most connections accepted on one interface per pass.
    static constexpr unsigned kAcceptsPerPass = 64;

    // At most maxCustomers customers at a time; one that has no request
    // waiting, none awaiting a reply and nothing to send is dropped after
    // idleTimeoutMsec without a byte.
    void SetLimits(unsigned long maxCustomers, unsigned long idleTimeoutMsec);
    // At most maxPerAddress customers of one peer address at a time.
    void SetAddressLimit(unsigned long maxPerAddress) { m_maxPerAddress = maxPerAddress; }
    // How long a request header may take (THttpCustomer), for connections
    // accepted from now on.
    void SetHeaderDeadline(unsigned long msec) { m_headerDeadlineMsec = msec; }
    // POST bodies go to store as they arrive, instead of into memory; the
    // request's payload is then empty, and TakeUpload hands over the body.
    void SetUploadStore(THttpUploadStore store) { m_uploadStore = std::move(store); }
    // The upload holding the body of the request GetRequest handed over
    // last, when it went to the store; null otherwise.
    std::unique_ptr<IHttpUpload> TakeUpload() { return std::move(m_handedUpload); }
    // Told of every request the server answers with 500 itself: the
    // customer's name (that of its last complete request, or "") and the
    // reason.
    using TRejectionListener =
        std::function<void(const std::string& name, const std::string& message)>;
    void SetRejectionListener(TRejectionListener listener) {
        m_rejectionListener = std::move(listener);
    }

    // Accepting new connections on or off; customers are served either way.
    // Stop lets go of the connections waiting for a peer, so the port closes
    // once the last customer that came through it has gone.
    void Start() { m_started = true; }
    void Stop();

    // One pass of Process, then the first complete request of any customer:
    // its sender's name, type, serial number and payload (a GET's file name,
    // a POST's body). HTTP_SERVER_NO_REQUEST when none is waiting.
    virtual Error GetRequest(std::string& name, HTTP_REQUEST_TYPE& type, std::string& serial,
                             T_BinaryData& data);
    // Yields once, accepts new connections, reads what has arrived and sends
    // queued replies on.
    void Process();
    void CheckNewConnections();
    // Reads every customer once and sends what its connection takes of its
    // queued reply; customers whose link failed, that have stalled or idled
    // past their limits, or that were to go once answered are deleted.
    void CheckIncomingData();
    // Answers every rejected request with a 500 reply, then hands over the
    // first complete one.
    Error CheckPendingRequest(std::string& name, HTTP_REQUEST_TYPE& type, std::string& serial,
                              T_BinaryData& data);
    // Collects requests until one from sender comes (data is its payload) or
    // the time is up (HTTP_SERVER_TIMEOUT). Requests of other senders
    // collected meanwhile are dropped unanswered.
    Error GetTextRequestFromSpecificSender(unsigned long timeoutMsec, const std::string& sender,
                                           T_BinaryData& data);

    // Replies "200 OK" to the customer of that name whose collected request
    // is the oldest still awaiting a reply, or, should its link fail, to the
    // next; HTTP_SERVER_NO_CUSTOMER when none takes it. A customer whose
    // request has not been collected is never answered. The reply is queued
    // and goes out as the connection takes it; these calls return at once.
    Error DeliverTextReply(const std::string& name, const std::string& text);
    // The whole file, read now, as the body; FILE_ERROR_OPEN, and no reply,
    // for a null file (an open that failed). The caller keeps the file.
    Error DeliverFileReply(const std::string& name, IFileReadable* file);
    // The rest of the file from its position as the body, read piece by
    // piece as the connection takes it; the server keeps the file until
    // then. FILE_ERROR_OPEN for a null file or one whose length is unknown.
    Error DeliverFileReply(const std::string& name, std::unique_ptr<IFileReadable> file);
    Error DeliverBinaryReply(const std::string& name, const T_BinaryData& data);
    // Replies "500 " + message without a body, addressed like the above;
    // once the reply has gone, the customer is disconnected.
    Error DeliverErrorReply(const std::string& name, const std::string& message);

    THttpCustomer* GetCustomerByName(const std::string& name);
    // Reads the customers first, so that a customer that has gone is not
    // found.
    bool IsCustomerPresent(const std::string& name);
    void DeleteCustomer(const std::string& name);
    void ClearCustomers();

  protected:
    // Keeps a listen pending on iface and turns accepted connections into
    // customers, while there is room for them.
    void ValidateIncomingConnection(INetworkInterface* iface,
                                    std::unique_ptr<IConnection>& listener);
    // Queues one reply; false when the customer's link failed, after which
    // the caller deletes the customer.
    bool DeliverHttpReplyToCustomer(THttpCustomer* customer, const std::string& status,
                                    const T_BinaryData& body);
    // A "500 " + message reply without a body.
    bool DeliverLocalReply(THttpCustomer* customer, const std::string& message);
    // The status line and the header of a reply with a body of that length.
    static T_BinaryData ReplyHead(const std::string& status, unsigned long bodyLength);

  private:
    using TCustomerList = std::list<std::unique_ptr<THttpCustomer>>;

    TCustomerList::iterator FindCustomer(const std::string& name);
    // Whether a customer of that peer address fits in, after closing the
    // customer that has waited longest without a request where one must go.
    bool MakeRoomFor(unsigned long address);
    // Closes the customer among those `among` picks that has waited longest
    // without a complete request; false when there is none.
    bool CloseLongestWaiting(const std::function<bool(const THttpCustomer&)>& among);
    // The customer of that name whose request has awaited a reply longest.
    TCustomerList::iterator FindAddressee(const std::string& name);
    // Hands the addressee to deliver, which queues the reply (false: it has
    // none to give); a customer whose link fails at once is dropped and the
    // next addressee tried.
    Error DeliverToCustomer(const std::string& name,
                            const std::function<bool(THttpCustomer&)>& deliver);

    INetworkInterface* m_ethernetInterface = nullptr;
    INetworkInterface* m_serialInterface = nullptr;
    unsigned short m_port;
    std::unique_ptr<IConnection> m_serialListener;
    std::unique_ptr<IConnection> m_ethernetListener;
    TCustomerList m_customers;
    bool m_started = true;
    unsigned long m_maxCustomers = kDefaultMaxCustomers;
    unsigned long m_idleTimeoutMsec = kDefaultIdleTimeoutMs;
    unsigned long m_maxPerAddress = kDefaultMaxPerAddress;
    unsigned long m_headerDeadlineMsec = THttpCustomer::kDefaultHeaderDeadlineMs;
    THttpUploadStore m_uploadStore;
    std::unique_ptr<IHttpUpload> m_handedUpload;
    std::uint64_t m_nextReplyOrder = 0;
    TRejectionListener m_rejectionListener;
};
