#include "agent/CapturingNetwork.h"

#include <netinet/in.h>
#include <sys/socket.h>

#include <memory>
#include <optional>

#include "log/TcpConversation.h"
#include "platform/WaitSet.h"

namespace {

using TEndpoint = TTcpConversation::TEndpoint;
using TSide = TTcpConversation::TSide;

// The address a socket call reports for the descriptor, or nothing.
template <typename Call>
std::optional<TEndpoint> SocketEndpoint(int descriptor, Call call) {
    sockaddr_in address{};
    socklen_t size = sizeof address;
    if (descriptor < 0 || call(descriptor, reinterpret_cast<sockaddr*>(&address), &size) != 0 ||
        address.sin_family != AF_INET) {
        return std::nullopt;
    }
    return TEndpoint{ntohl(address.sin_addr.s_addr), ntohs(address.sin_port)};
}

// One connection of the PIN pad, recorded as it goes.
class TCapturedConnection : public IConnection, public IPollable {
  public:
    // An outgoing connection knows its peer from the call; an incoming one learns both ends
    // when it accepts.
    TCapturedConnection(IConnection* inner, TCaptureRecorder& recorder,
                        std::optional<TEndpoint> callee)
        : m_inner(inner),
          m_pollable(dynamic_cast<const IPollable*>(inner)),
          m_recorder(recorder),
          m_outgoing(callee.has_value()) {
        if (m_outgoing) {
            // The connect in progress has bound the socket already.
            const TEndpoint local =
                SocketEndpoint(GetDescriptor(), getsockname).value_or(TEndpoint{});
            Start(local, *callee);
        }
    }

    // The agent lets go of the connection: it closes its half.
    ~TCapturedConnection() override {
        if (m_conversation && (m_lastState == CONNSTATE_CONNECTED || m_peerClosed)) {
            m_conversation->Close(AgentSide());
        }
    }

    long Send(const unsigned char* data, unsigned long length) override {
        const long sent = m_inner->Send(data, length);
        if (sent > 0 && m_conversation) {
            m_conversation->Data(AgentSide(), data, static_cast<std::size_t>(sent));
        } else if (sent < 0) {
            Broken();
        }
        return sent;
    }

    long Receive(unsigned char* buffer, unsigned long length) override {
        const long received = m_inner->Receive(buffer, length);
        if (received > 0 && m_conversation) {
            m_conversation->Data(PeerSide(), buffer, static_cast<std::size_t>(received));
        } else if (received == kPeerClosed && m_lastState == CONNSTATE_CONNECTED) {
            m_conversation->Close(PeerSide());
            m_peerClosed = true;
            m_lastState = CONNSTATE_DISCONNECTED;
        } else if (received < 0) {
            Broken();
        }
        return received;
    }

    unsigned long GetPeerAddress() override { return m_inner->GetPeerAddress(); }
    Error GetLastError() override { return m_inner->GetLastError(); }

    CONNSTATE GetState() override {
        const CONNSTATE state = m_inner->GetState();
        if (state != m_lastState) {
            Follow(state);
        }
        return state;
    }

    int GetDescriptor() const override {
        return m_pollable != nullptr ? m_pollable->GetDescriptor() : -1;
    }

  private:
    // What a socket connection's Receive returns when the peer has closed.
    static constexpr long kPeerClosed = -2;

    TSide AgentSide() const { return m_outgoing ? TSide::Client : TSide::Server; }
    TSide PeerSide() const { return m_outgoing ? TSide::Server : TSide::Client; }

    void Start(TEndpoint client, TEndpoint server) {
        TCaptureRecorder& recorder = m_recorder;
        const TSide agent = AgentSide();
        m_conversation = std::make_unique<TTcpConversation>(
            client, server, static_cast<std::uint32_t>(recorder.Now()),
            [&recorder, agent](TSide from, const std::vector<std::uint8_t>& packet) {
                recorder.RecordTcp(from == agent, packet);
            });
    }

    // Records the change from the last state seen to state.
    void Follow(CONNSTATE state) {
        const CONNSTATE before = m_lastState;
        m_lastState = state;
        if (state == CONNSTATE_CONNECTED && !m_outgoing && !m_conversation) {
            const int descriptor = GetDescriptor();
            Start(SocketEndpoint(descriptor, getpeername).value_or(TEndpoint{}),
                  SocketEndpoint(descriptor, getsockname).value_or(TEndpoint{}));
        }
        if (!m_conversation) {
            return;
        }
        if (state == CONNSTATE_CONNECTED && before != CONNSTATE_CONNECTED) {
            m_conversation->Open();
        } else if (state == CONNSTATE_DISCONNECTED && before == CONNSTATE_CONNECTING) {
            m_conversation->Refuse();
        } else if (state == CONNSTATE_DISCONNECTED && before == CONNSTATE_CONNECTED) {
            m_conversation->Reset(PeerSide());
        }
    }

    void Broken() {
        if (m_conversation && m_lastState == CONNSTATE_CONNECTED) {
            m_conversation->Reset(PeerSide());
        }
        m_lastState = CONNSTATE_DISCONNECTED;
    }

    std::unique_ptr<IConnection> m_inner;
    // The inner connection as the poller sees it; null when it is not pollable.
    const IPollable* m_pollable;
    TCaptureRecorder& m_recorder;
    bool m_outgoing;
    CONNSTATE m_lastState = m_outgoing ? CONNSTATE_CONNECTING : CONNSTATE_LISTENING;
    // The peer closed its half in order; the connection did not break.
    bool m_peerClosed = false;
    std::unique_ptr<TTcpConversation> m_conversation;
};

}  // namespace

Error TCapturingNetwork::Call(const TNetworkHostParam& host, IConnection** connection) {
    const Error result = m_network.Call(host, connection);
    if (*connection != nullptr) {
        *connection =
            new TCapturedConnection(*connection, m_recorder, TEndpoint{host.address, host.port});
    }
    return result;
}

Error TCapturingNetwork::Listen(unsigned short port, IConnection** connection) {
    const Error result = m_network.Listen(port, connection);
    if (*connection != nullptr) {
        *connection = new TCapturedConnection(*connection, m_recorder, std::nullopt);
    }
    return result;
}
