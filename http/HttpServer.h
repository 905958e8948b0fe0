#pragma once

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
// customer, and addresses customers by their User-Agent. Nothing blocks:
// each GetRequest accepts, reads and hands over at most one request, and
// answers requests it cannot parse with status 500 itself.
class THttpServer {
  public:
    // Takes the interfaces that are up now: Ethernet when useEthernet, and
    // when useSerial is not 0 the USB tunnel, else the COM tunnel. An
    // interface that is not up is never used. The server starts accepting.
    THttpServer(unsigned short port, unsigned short useSerial, bool useEthernet);
    virtual ~THttpServer();
    THttpServer(const THttpServer&) = delete;
    THttpServer& operator=(const THttpServer&) = delete;

    // Accepting new connections on or off; customers are served either way.
    void Start() { m_started = true; }
    void Stop() { m_started = false; }

    // One pass of Process, then the first complete request of any customer:
    // its sender's name, type, serial number and payload (a GET's file name,
    // a POST's body). HTTP_SERVER_NO_REQUEST when none is waiting.
    virtual Error GetRequest(std::string& name, HTTP_REQUEST_TYPE& type, std::string& serial,
                             T_BinaryData& data);
    // Yields once, accepts new connections and reads what has arrived.
    void Process();
    void CheckNewConnections();
    // Reads every customer once; customers whose link failed are deleted.
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

    // Replies "200 OK" to the first customer of that name whose link takes
    // the reply; HTTP_SERVER_NO_CUSTOMER when none does.
    Error DeliverTextReply(const std::string& name, const std::string& text);
    // The whole file as the body; FILE_ERROR_OPEN, and no reply, for a null
    // file (an open that failed).
    Error DeliverFileReply(const std::string& name, IFileReadable* file);
    Error DeliverBinaryReply(const std::string& name, const T_BinaryData& data);
    // Replies "500 " + message without a body, addressed like the above,
    // then disconnects the customer: a reply without a length ends where
    // the connection does.
    Error DeliverErrorReply(const std::string& name, const std::string& message);

    THttpCustomer* GetCustomerByName(const std::string& name);
    // Reads the customers first, so that a customer that has gone is not
    // found.
    bool IsCustomerPresent(const std::string& name);
    void DeleteCustomer(const std::string& name);
    void ClearCustomers();

  protected:
    // Keeps a listen pending on iface and turns an accepted connection into
    // a customer.
    void ValidateIncomingConnection(INetworkInterface* iface,
                                    std::unique_ptr<IConnection>& listener);
    // Sends one reply; false when the customer's link failed, after which
    // the caller deletes the customer.
    bool DeliverHttpReplyToCustomer(THttpCustomer* customer, const std::string& status,
                                    const T_BinaryData& body);
    // A "500 " + message reply without a body.
    bool DeliverLocalReply(THttpCustomer* customer, const std::string& message);

  private:
    using TCustomerList = std::list<std::unique_ptr<THttpCustomer>>;

    TCustomerList::iterator FindCustomer(const std::string& name);
    Error DeliverToCustomer(const std::string& name, const std::string& status,
                            const T_BinaryData& body);

    INetworkInterface* m_ethernetInterface = nullptr;
    INetworkInterface* m_serialInterface = nullptr;
    unsigned short m_port;
    std::unique_ptr<IConnection> m_serialListener;
    std::unique_ptr<IConnection> m_ethernetListener;
    TCustomerList m_customers;
    bool m_started = true;
};
