#include "tunnel/SerialManager.h"

#include <algorithm>

#include "base/ErrorCodes.h"
#include "platform/Device.h"
#include "platform/NetworkInterface.h"
#include "platform/System.h"
#include "platform/Timer.h"
#include "tunnel/FrameLevel.h"
#include "tunnel/LoopbackConnection.h"
#include "tunnel/SerialOutConnection.h"
#include "tunnel/SerialPacket.h"

namespace {

constexpr unsigned long kStepPeriodMs = 75;
constexpr unsigned long kLinkWaitMs = 3000;
// Largest block read from a TCP connection, and so the most data one ACTION_DATA_IN carries.
constexpr unsigned long kReceiveBlock = 4096;
// TCP data is read only while the serial line is less than this far behind (about six seconds of
// the line at 115200 baud). Past it the data stays in the socket, and TCP's own window holds a
// fast sender back instead of this process's memory growing without bound.
constexpr unsigned long kMaxQueuedForLine = 64 * 1024;
// Listens on ports up to this one stay inside the terminal.
constexpr unsigned short kHighestLocalPort = 4095;
// Most bytes offered to a TCP connection at once. An accepted socket blocks until it has queued
// all it is offered; a socket that reports itself writable has room for this much.
constexpr unsigned long kSendBlock = 4096;
// Bytes the terminal may have sent ahead of a TCP peer that does not read: about a minute and
// a half of a full serial line. A peer further behind is treated as gone.
constexpr unsigned long kMaxPendingOutput = 1024 * 1024;

INetworkInterface* EthernetInterface() {
    IDevice* device = ISystem::Instance()->GetDeviceLayer()->GetDevice(DEVICE_ETHERNET, 0);
    return dynamic_cast<INetworkInterface*>(device);
}

}  // namespace

TConnInfo::TConnInfo(IConnection* connection, bool calling)
    : m_connection(connection), m_state(calling ? CONNSTATE_CONNECTING : CONNSTATE_LISTENING) {}

bool TConnInfo::QueueOutput(const T_BinaryData& data) {
    m_pendingOutput += data;
    return FlushOutput();
}

bool TConnInfo::FlushOutput() {
    while (m_pendingOutput.Length() != 0) {
        const unsigned long offered = std::min(m_pendingOutput.Length(), kSendBlock);
        const long taken = m_connection->Send(m_pendingOutput.GetData(), offered);
        if (taken < 0) {
            return false;
        }
        m_pendingOutput.Cut(0, static_cast<unsigned long>(taken));
        if (static_cast<unsigned long>(taken) < offered) {
            break;
        }
    }
    return m_pendingOutput.Length() <= kMaxPendingOutput;
}

TSerialManager::TSerialManager(TFrameLevel* frameLevel)
    : m_frameLevel(frameLevel), m_stepTimer(ISystem::Instance()->CreateTimer(kStepPeriodMs)) {
    SendResetFrame();
}

TSerialManager::~TSerialManager() {
    DeleteAllBoundConnections();
    // Tunnelled connections may outlive the stack; from now on they report themselves closed.
    for (auto& [id, connection] : m_serialConnections) {
        connection->DetachFromManager();
    }
}

bool TSerialManager::ProcessContinuously() {
    return ProcessSerialConnections();
}

bool TSerialManager::ProcessSerialConnections() {
    bool handled = false;
    for (;;) {
        ProcessBoundConnections();
        m_input += m_frameLevel->ReceiveData();
        const TSerialPacket packet(m_input);
        if (!Dispatch(packet)) {
            return handled;
        }
        handled = true;
    }
}

bool TSerialManager::Dispatch(const TSerialPacket& packet) {
    switch (packet.GetActionType()) {
        case ACTION_CALL:
        case ACTION_LISTEN:
            ProcessCallRequest(packet);
            return true;
        case ACTION_CONNECTED:
        case ACTION_CALL_RESULT:
        case ACTION_CLOSED:
        case ACTION_DATA_IN:
            ProcessPacketAtConnection(packet);
            return true;
        case ACTION_CLOSE:
            ProcessCloseRequest(packet);
            return true;
        case ACTION_DATA_OUT:
            ProcessDataOutRequest(packet);
            return true;
        case ACTION_RESET:
            ProcessReset();
            return true;
        default:
            // No complete packet yet, or one nobody acts on: the step ends here.
            return false;
    }
}

bool TSerialManager::Process() {
    if (!m_stepTimer->IsExpired()) {
        return false;
    }
    const bool handled = ProcessContinuously();
    m_stepTimer->Restart(kStepPeriodMs);
    return handled;
}

bool TSerialManager::WaitInterfaceReady() {
    const std::unique_ptr<ITimer> timer(ISystem::Instance()->CreateTimer(kLinkWaitMs));
    bool online = false;
    do {
        ProcessContinuously();
        online = m_frameLevel->IsOnline();
        ISystem::Instance()->Idle();
    } while (!online && !timer->IsExpired());
    return online;
}

void TSerialManager::SetStreamMode(bool on) {
    m_frameLevel->SetStreamMode(on);
}

bool TSerialManager::HaveSerialConnections() const {
    return !m_serialConnections.empty();
}

bool TSerialManager::SendData(const T_BinaryData& data) {
    return m_frameLevel->SendData(data);
}

unsigned long TSerialManager::QueuedForLine() const {
    return m_frameLevel->QueuedLength();
}

bool TSerialManager::SendPacket(const TSerialPacket& packet) {
    return SendData(packet.BuildPacket());
}

TSerialOutConnection* TSerialManager::AddCallingConnection(unsigned long socketId,
                                                           unsigned long ipAddr,
                                                           unsigned short port) {
    return AddSerialConnection(TSerialPacket(ACTION_CALL, socketId, ipAddr, port, 0));
}

IConnection* TSerialManager::AddListeningConnection(unsigned long socketId, unsigned short port) {
    if (port <= kHighestLocalPort) {
        auto* loopback = new TLoopbackConnection(nullptr);
        m_localListeners[port] = loopback;
        return loopback;
    }
    return AddSerialConnection(TSerialPacket(ACTION_LISTEN, socketId, 0, port, 0));
}

TSerialOutConnection* TSerialManager::AddSerialConnection(const TSerialPacket& request) {
    const unsigned long socketId = request.GetSocketID();
    auto* connection = new TSerialOutConnection(this, socketId, CONNSTATE_CONNECTING);
    // An older connection under the same id no longer hears from the agent. Cut loose, it can
    // neither close the new one with its own close request nor take its entry when deleted.
    if (const auto older = m_serialConnections.find(static_cast<std::uint32_t>(socketId));
        older != m_serialConnections.end()) {
        older->second->DetachFromManager();
    }
    DeleteSerialConnection(socketId);
    m_serialConnections[static_cast<std::uint32_t>(socketId)] = connection;
    SendPacket(request);
    return connection;
}

void TSerialManager::DeleteSerialConnection(unsigned long socketId) {
    m_serialConnections.erase(static_cast<std::uint32_t>(socketId));
}

void TSerialManager::ProcessPacketAtConnection(const TSerialPacket& packet) {
    const auto it = m_serialConnections.find(static_cast<std::uint32_t>(packet.GetSocketID()));
    if (it != m_serialConnections.end()) {
        it->second->ProcessIncomingPacket(packet);
    }
}

void TSerialManager::ProcessCallRequest(const TSerialPacket& packet) {
    const unsigned long socketId = packet.GetSocketID();
    const bool calling = packet.GetActionType() == ACTION_CALL;
    const unsigned long refusal = m_callFilter
                                      ? m_callFilter(static_cast<std::uint32_t>(socketId),
                                                     static_cast<std::uint32_t>(packet.GetIpAddr()),
                                                     packet.GetPort(), calling)
                                      : 0;
    const Error result = refusal != 0 ? Error(refusal)
                                      : CreateBoundConnection(socketId, packet.GetIpAddr(),
                                                              packet.GetPort(), calling);
    if (result.Code() != 0) {
        DeleteBoundConnection(socketId);
        SendCallErrorFrame(socketId, result.Code());
    }
}

Error TSerialManager::CreateBoundConnection(unsigned long socketId, unsigned long ipAddr,
                                            unsigned short port, bool calling) {
    Error result(kErrorNoNetworkInterface);
    IConnection* connection = nullptr;
    if (INetworkInterface* ethernet = EthernetInterface()) {
        if (calling) {
            result = ethernet->Call(TNetworkHostParam(ipAddr, port, false, nullptr, nullptr),
                                    &connection);
        } else {
            result = ethernet->Listen(port, &connection);
        }
    }
    if (connection != nullptr) {
        DeleteBoundConnection(socketId);
        m_boundConnections[static_cast<std::uint32_t>(socketId)] =
            std::make_unique<TConnInfo>(connection, calling);
    }
    return result;
}

void TSerialManager::ProcessDataOutRequest(const TSerialPacket& packet) {
    const unsigned long socketId = packet.GetSocketID();
    const auto it = m_boundConnections.find(static_cast<std::uint32_t>(socketId));
    if (it == m_boundConnections.end() || it->second->IsClosing()) {
        SendCloseFrame(socketId);
        return;
    }
    // Bytes the socket cannot take yet (connect still running, peer not accepted, send buffer
    // full) wait in the record and go out on later visits.
    if (!it->second->QueueOutput(packet.GetData())) {
        SendCloseFrame(socketId);
        DeleteBoundConnection(socketId);
    }
}

void TSerialManager::ProcessCloseRequest(const TSerialPacket& packet) {
    const auto it = m_boundConnections.find(static_cast<std::uint32_t>(packet.GetSocketID()));
    if (it == m_boundConnections.end()) {
        return;
    }
    // Bytes still owed to a connected (or connecting) peer go out before the socket closes. A
    // listen that has no peer yet is dropped with its bytes: kept, it could take the peer of a
    // newer listen on the same port.
    if (it->second->HasPendingOutput() && it->second->State() != CONNSTATE_LISTENING) {
        it->second->MarkClosing();
    } else {
        m_boundConnections.erase(it);
    }
}

void TSerialManager::ProcessReset() {
    for (auto& [id, connection] : m_serialConnections) {
        connection->MarkClosed();
    }
    DeleteAllBoundConnections();
}

void TSerialManager::ProcessBoundConnections() {
    for (auto it = m_boundConnections.begin(); it != m_boundConnections.end();) {
        const std::uint32_t socketId = it->first;
        TConnInfo& info = *it->second;
        if (info.IsClosing()) {
            it = DrainClosing(info) ? m_boundConnections.erase(it) : std::next(it);
            continue;
        }
        CONNSTATE state = info.Connection()->GetState();
        if (state == CONNSTATE_CONNECTED) {
            ReportEstablished(socketId, info);
            state = info.FlushOutput() ? ProcessReceive(socketId, info.Connection())
                                       : CONNSTATE_DISCONNECTED;
        }
        if (state == CONNSTATE_DISCONNECTED) {
            // One close per visit: the connections after this one wait for the next visit.
            SendCloseFrame(socketId);
            m_boundConnections.erase(it);
            return;
        }
        ++it;
    }
}

void TSerialManager::ReportEstablished(std::uint32_t socketId, TConnInfo& info) {
    if (info.State() == CONNSTATE_CONNECTING) {
        SendPacket(TSerialPacket(ACTION_CALL_RESULT, socketId, 0, 0, 0));
    } else if (info.State() == CONNSTATE_LISTENING) {
        SendPacket(
            TSerialPacket(ACTION_CONNECTED, socketId, info.Connection()->GetPeerAddress(), 0, 0));
    }
    info.SetState(CONNSTATE_CONNECTED);
}

bool TSerialManager::DrainClosing(TConnInfo& info) {
    const CONNSTATE state = info.Connection()->GetState();
    if (state == CONNSTATE_DISCONNECTED) {
        return true;
    }
    if (state != CONNSTATE_CONNECTED) {
        return false;
    }
    return !info.FlushOutput() || !info.HasPendingOutput();
}

CONNSTATE TSerialManager::ProcessReceive(unsigned long socketId, IConnection* connection) {
    unsigned char block[kReceiveBlock];
    while (QueuedForLine() < kMaxQueuedForLine) {
        const long received = connection->Receive(block, sizeof block);
        if (received < 0) {
            return CONNSTATE_DISCONNECTED;
        }
        if (received == 0) {
            return CONNSTATE_CONNECTED;
        }
        const T_BinaryData data(block, static_cast<unsigned long>(received), 0);
        if (!SendPacket(TSerialPacket(ACTION_DATA_IN, socketId, data))) {
            // The link is down: what was read cannot reach the terminal.
            return CONNSTATE_DISCONNECTED;
        }
    }
    return CONNSTATE_CONNECTED;
}

void TSerialManager::DeleteBoundConnection(unsigned long socketId) {
    m_boundConnections.erase(static_cast<std::uint32_t>(socketId));
}

void TSerialManager::DeleteAllBoundConnections() {
    m_boundConnections.clear();
}

void TSerialManager::SendResetFrame() {
    SendPacket(TSerialPacket(ACTION_RESET, 0, 0, 0, 0));
    m_frameLevel->ResetLink();
}

void TSerialManager::SendCloseFrame(unsigned long socketId) {
    SendPacket(TSerialPacket(ACTION_CLOSED, socketId, 0, 0, 0));
}

void TSerialManager::SendCallErrorFrame(unsigned long socketId, unsigned long error) {
    SendPacket(TSerialPacket(ACTION_CALL_RESULT, socketId, 0, 0, error));
}
