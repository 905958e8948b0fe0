#include "http/HttpServer.h"

#include <algorithm>
#include <utility>

#include "platform/Device.h"
#include "platform/FileSystem.h"
#include "platform/System.h"

namespace {

// The device of that kind as a network interface, when it is up.
INetworkInterface* InterfaceIfUp(IDeviceLayer* layer, DEVICE kind) {
    auto* iface = dynamic_cast<INetworkInterface*>(layer->GetDevice(kind, 0));
    return iface != nullptr && iface->GetCurrentState() == INetworkInterface::kStateUp ? iface
                                                                                       : nullptr;
}

}  // namespace

THttpServer::THttpServer(unsigned short port, unsigned short useSerial, bool useEthernet)
    : m_port(port) {
    IDeviceLayer* layer = ISystem::Instance()->GetDeviceLayer();
    if (useEthernet) {
        m_ethernetInterface = InterfaceIfUp(layer, DEVICE_ETHERNET);
    }
    if (useSerial != 0) {
        m_serialInterface = InterfaceIfUp(layer, DEVICE_USB);
        if (m_serialInterface == nullptr) {
            m_serialInterface = InterfaceIfUp(layer, DEVICE_COM);
        }
    }
}

THttpServer::~THttpServer() {
    ClearCustomers();
}

Error THttpServer::GetRequest(std::string& name, HTTP_REQUEST_TYPE& type, std::string& serial,
                              T_BinaryData& data) {
    Process();
    return CheckPendingRequest(name, type, serial, data);
}

void THttpServer::Stop() {
    m_started = false;
    m_ethernetListener.reset();
    m_serialListener.reset();
}

void THttpServer::Process() {
    ISystem::Instance()->Idle();
    CheckNewConnections();
    CheckIncomingData();
}

void THttpServer::CheckNewConnections() {
    if (!m_started || m_port == 0) {
        return;
    }
    ValidateIncomingConnection(m_ethernetInterface, m_ethernetListener);
    ValidateIncomingConnection(m_serialInterface, m_serialListener);
}

void THttpServer::ValidateIncomingConnection(INetworkInterface* iface,
                                             std::unique_ptr<IConnection>& listener) {
    // A burst of connections is taken in one pass, not one per pass.
    for (unsigned accepted = 0; accepted < kAcceptsPerPass; ++accepted) {
        if (iface != nullptr && !listener) {
            IConnection* connection = nullptr;
            // a failed listen is tried again on the next pass
            static_cast<void>(iface->Listen(m_port, &connection));
            listener.reset(connection);
        }
        if (!listener) {
            return;
        }
        switch (listener->GetState()) {
            case CONNSTATE_CONNECTED:
                if (MakeRoomFor(listener->GetPeerAddress())) {
                    auto customer = std::make_unique<THttpCustomer>(listener.release());
                    customer->SetUploadStore(m_uploadStore);
                    customer->SetHeaderDeadline(m_headerDeadlineMsec);
                    m_customers.push_back(std::move(customer));
                } else {
                    listener.reset();  // refused at once: the peer sees its connection close
                }
                break;
            case CONNSTATE_DISCONNECTED:
                listener.reset();
                return;
            default:
                return;
        }
    }
}

bool THttpServer::MakeRoomFor(unsigned long address) {
    const auto sameAddress = [address](const THttpCustomer& c) {
        return c.PeerAddress() == address;
    };
    const auto anyone = [](const THttpCustomer&) { return true; };
    const auto ofAddress = static_cast<unsigned long>(std::count_if(
        m_customers.begin(), m_customers.end(), [&](const auto& c) { return sameAddress(*c); }));
    if (ofAddress >= m_maxPerAddress && !CloseLongestWaiting(sameAddress)) {
        return false;
    }
    return m_customers.size() < m_maxCustomers || CloseLongestWaiting(anyone);
}

bool THttpServer::CloseLongestWaiting(const std::function<bool(const THttpCustomer&)>& among) {
    auto longest = m_customers.end();
    for (auto it = m_customers.begin(); it != m_customers.end(); ++it) {
        const THttpCustomer& customer = **it;
        if (among(customer) && customer.IsWaitingForRequest() &&
            (longest == m_customers.end() || customer.WaitingMsec() > (*longest)->WaitingMsec())) {
            longest = it;
        }
    }
    if (longest == m_customers.end()) {
        return false;
    }
    m_customers.erase(longest);
    return true;
}

void THttpServer::SetLimits(unsigned long maxCustomers, unsigned long idleTimeoutMsec) {
    m_maxCustomers = maxCustomers;
    m_idleTimeoutMsec = idleTimeoutMsec;
}

void THttpServer::CheckIncomingData() {
    for (auto it = m_customers.begin(); it != m_customers.end();) {
        THttpCustomer& customer = **it;
        customer.TryToReadRawData();
        customer.FlushOutput();
        it = customer.IsDone(kStallLimitMs, m_idleTimeoutMsec) ? m_customers.erase(it)
                                                               : std::next(it);
    }
}

Error THttpServer::CheckPendingRequest(std::string& name, HTTP_REQUEST_TYPE& type,
                                       std::string& serial, T_BinaryData& data) {
    for (auto it = m_customers.begin(); it != m_customers.end();) {
        THttpCustomer& customer = **it;
        if (!customer.IsRequestReceived()) {
            ++it;
            continue;
        }
        if (customer.GetErrorMessage().empty()) {
            data = customer.ReadRequest(m_nextReplyOrder++);
            m_handedUpload = customer.TakeUpload();
            name = customer.GetName();
            type = customer.GetRequestType();
            serial = customer.GetSerialNumber();
            return Error(0);
        }
        const std::string message = customer.GetErrorMessage();
        customer.FlushRequest();
        if (m_rejectionListener) {
            m_rejectionListener(customer.GetName(), message);
        }
        if (customer.MustDisconnect()) {
            customer.DisconnectAfterReply();
        }
        if (!DeliverLocalReply(&customer, message)) {
            it = m_customers.erase(it);
        }
        // Otherwise the same customer is looked at again; it has nothing waiting now.
    }
    return Error(HTTP_SERVER_NO_REQUEST);
}

Error THttpServer::GetTextRequestFromSpecificSender(unsigned long timeoutMsec,
                                                    const std::string& sender, T_BinaryData& data) {
    std::unique_ptr<ITimer> timer(ISystem::Instance()->CreateTimer(timeoutMsec));
    Error result(HTTP_SERVER_TIMEOUT);
    while (result.Code() == HTTP_SERVER_TIMEOUT && !timer->IsExpired()) {
        std::string name;
        HTTP_REQUEST_TYPE type;
        std::string serial;
        T_BinaryData payload;
        if (GetRequest(name, type, serial, payload).Code() == 0 && name == sender) {
            data = payload;
            result = Error(0);
        }
    }
    return result;
}

Error THttpServer::DeliverTextReply(const std::string& name, const std::string& text) {
    return DeliverBinaryReply(name, T_BinaryData(text));
}

Error THttpServer::DeliverFileReply(const std::string& name, IFileReadable* file) {
    if (file == nullptr) {
        return Error(FILE_ERROR_OPEN);  // what a failed open hands over
    }
    return DeliverBinaryReply(name, T_BinaryData(*file));
}

Error THttpServer::DeliverFileReply(const std::string& name, std::unique_ptr<IFileReadable> file) {
    if (!file) {
        return Error(FILE_ERROR_OPEN);
    }
    const long position = file->Tell();
    const long length = file->GetLength();
    if (position < 0 || length < position) {
        return Error(FILE_ERROR_OPEN);
    }
    const auto bodyLength = static_cast<unsigned long>(length - position);
    // The file goes with the first reply; should that customer's link fail
    // at once, the file has gone with it and no other customer can have it.
    return DeliverToCustomer(name, [&](THttpCustomer& customer) {
        if (!file) {
            return false;
        }
        customer.DeliverFileReply(ReplyHead("200 OK", bodyLength), std::move(file), bodyLength);
        return true;
    });
}

Error THttpServer::DeliverBinaryReply(const std::string& name, const T_BinaryData& data) {
    return DeliverToCustomer(name, [&](THttpCustomer& customer) {
        // Head and body go out as two pieces: no copy of a large body is made.
        customer.DeliverReply(ReplyHead("200 OK", data.Length()));
        customer.DeliverReply(data);
        return true;
    });
}

Error THttpServer::DeliverErrorReply(const std::string& name, const std::string& message) {
    return DeliverToCustomer(name, [&](THttpCustomer& customer) {
        customer.DisconnectAfterReply();
        customer.DeliverReply(ReplyHead("500 " + message, 0));
        return true;
    });
}

Error THttpServer::DeliverToCustomer(const std::string& name,
                                     const std::function<bool(THttpCustomer&)>& deliver) {
    for (;;) {
        const auto it = FindAddressee(name);
        if (it == m_customers.end() || !deliver(**it)) {
            return Error(HTTP_SERVER_NO_CUSTOMER);
        }
        if (!(*it)->IsLinkAborted()) {
            return Error(0);
        }
        m_customers.erase(it);
    }
}

THttpServer::TCustomerList::iterator THttpServer::FindAddressee(const std::string& name) {
    auto found = m_customers.end();
    for (auto it = m_customers.begin(); it != m_customers.end(); ++it) {
        const THttpCustomer& customer = **it;
        if (customer.IsAwaitingReply() && customer.GetName() == name &&
            (found == m_customers.end() || customer.GetReplyOrder() < (*found)->GetReplyOrder())) {
            found = it;
        }
    }
    return found;
}

T_BinaryData THttpServer::ReplyHead(const std::string& status, unsigned long bodyLength) {
    // The length is always given, 0 too, so that every client finds the
    // reply's end without waiting for the connection's.
    return T_BinaryData("HTTP/1.1 " + status + "\r\nContent-Length: " + std::to_string(bodyLength) +
                        "\r\n\r\n");
}

bool THttpServer::DeliverHttpReplyToCustomer(THttpCustomer* customer, const std::string& status,
                                             const T_BinaryData& body) {
    customer->DeliverReply(ReplyHead(status, body.Length()) + body);
    return !customer->IsLinkAborted();
}

bool THttpServer::DeliverLocalReply(THttpCustomer* customer, const std::string& message) {
    return DeliverHttpReplyToCustomer(customer, "500 " + message, T_BinaryData());
}

THttpServer::TCustomerList::iterator THttpServer::FindCustomer(const std::string& name) {
    auto it = m_customers.begin();
    while (it != m_customers.end() && (*it)->GetName() != name) {
        ++it;
    }
    return it;
}

THttpCustomer* THttpServer::GetCustomerByName(const std::string& name) {
    const auto it = FindCustomer(name);
    return it == m_customers.end() ? nullptr : it->get();
}

bool THttpServer::IsCustomerPresent(const std::string& name) {
    CheckIncomingData();
    return GetCustomerByName(name) != nullptr;
}

void THttpServer::DeleteCustomer(const std::string& name) {
    const auto it = FindCustomer(name);
    if (it != m_customers.end()) {
        m_customers.erase(it);
    }
}

void THttpServer::ClearCustomers() {
    m_customers.clear();
}
