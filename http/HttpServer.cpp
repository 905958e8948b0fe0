#include "http/HttpServer.h"

#include "platform/Device.h"
#include "platform/FileSystem.h"
#include "platform/System.h"

namespace {

constexpr unsigned cInterfaceUp = 3;

// The device of that kind as a network interface, when it is up.
INetworkInterface* InterfaceIfUp(IDeviceLayer* layer, DEVICE kind) {
    auto* iface = dynamic_cast<INetworkInterface*>(layer->GetDevice(kind, 0));
    return iface != nullptr && iface->GetCurrentState() == cInterfaceUp ? iface : nullptr;
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
    if (iface != nullptr && !listener) {
        IConnection* connection = nullptr;
        iface->Listen(m_port, &connection);  // a failed listen is tried again on the next pass
        listener.reset(connection);
    }
    if (!listener) {
        return;
    }
    switch (listener->GetState()) {
        case CONNSTATE_CONNECTED:
            m_customers.push_back(std::make_unique<THttpCustomer>(listener.release()));
            break;
        case CONNSTATE_DISCONNECTED:
            listener.reset();
            break;
        default:
            break;
    }
}

void THttpServer::CheckIncomingData() {
    for (auto it = m_customers.begin(); it != m_customers.end();) {
        (*it)->TryToReadRawData();
        it = (*it)->IsLinkAborted() ? m_customers.erase(it) : std::next(it);
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
            name = customer.GetName();
            type = customer.GetRequestType();
            data = customer.ReadRequest();
            serial = customer.GetSerialNumber();
            return Error(0);
        }
        const std::string message = customer.GetErrorMessage();
        customer.FlushRequest();
        if (!DeliverLocalReply(&customer, message) || customer.MustDisconnect()) {
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

Error THttpServer::DeliverBinaryReply(const std::string& name, const T_BinaryData& data) {
    return DeliverToCustomer(name, "200 OK", data);
}

Error THttpServer::DeliverErrorReply(const std::string& name, const std::string& message) {
    const Error result = DeliverToCustomer(name, "500 " + message, T_BinaryData());
    if (result.Code() == 0) {
        DeleteCustomer(name);  // the customers before it of that name have gone
    }
    return result;
}

Error THttpServer::DeliverToCustomer(const std::string& name, const std::string& status,
                                     const T_BinaryData& body) {
    for (auto it = m_customers.begin(); it != m_customers.end();) {
        if ((*it)->GetName() != name) {
            ++it;
        } else if (DeliverHttpReplyToCustomer(it->get(), status, body)) {
            return Error(0);
        } else {
            it = m_customers.erase(it);
        }
    }
    return Error(HTTP_SERVER_NO_CUSTOMER);
}

bool THttpServer::DeliverHttpReplyToCustomer(THttpCustomer* customer, const std::string& status,
                                             const T_BinaryData& body) {
    std::string head = "HTTP/1.1 " + status + "\r\n";
    if (body.Length() != 0) {
        head += "Content-Length: " + std::to_string(body.Length()) + "\r\n";
    }
    head += "\r\n";
    customer->DeliverReply(T_BinaryData(head) + body);
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
