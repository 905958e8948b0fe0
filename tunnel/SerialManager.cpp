#include "tunnel/SerialManager.h"

#include <algorithm>

#include "base/ErrorCodes.h"
#include "platform/Device.h"
#include "platform/LoopbackConnection.h"
#include "platform/NetworkInterface.h"
#include "platform/System.h"
#include "platform/Timer.h"
#include "platform/WaitSet.h"
#include "tunnel/FrameLevel.h"
#include "tunnel/SerialOutConnection.h"
#include "tunnel/SerialPacket.h"

namespace {

constexpr unsigned long kStepPeriodMs = 75;
constexpr unsigned long kLinkWaitMs = 3000;
// Largest block read from a TCP connection at once: whole packets' worth, so that a full read
// leaves no short packet behind.
constexpr unsigned long kReceiveBlock = 16 * TPacketLayout::kMaxDataPerPacket;
// A TCP connection is read only while less than this of its data waits for the serial line
// (about six seconds of the line at 115200 baud), and while all connections together have less
// than kMaxQueuedForLine waiting. Past it the data stays in the socket, and TCP's own window
// holds a fast sender back instead of this process's memory growing without bound.
constexpr unsigned long kMaxQueuedPerConnection = 64 * 1024;
constexpr unsigned long kMaxQueuedForLine = 512 * 1024;
// Most packets that wait for the line: room for the data of kMaxQueuedForLine in full packets
// and for the notices of thousands of connections besides. Only a peer that stopped
// acknowledging gets near it; past it the connections that have waited longest are given up.
constexpr unsigned long kMaxQueuedPackets = 4096;
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

TConnInfo::TConnInfo(IConnection* connection, bool calling, std::uint32_t address,
                     std::uint16_t port)
    : m_connection(connection),
      m_state(calling ? CONNSTATE_CONNECTING : CONNSTATE_LISTENING),
      m_calling(calling),
      m_address(address),
      m_port(port) {}

TConnectionFigures TConnInfo::Figures(std::uint32_t socketId) const {
    return TConnectionFigures{.socketId = socketId,
                              .calling = m_calling,
                              .state = m_state,
                              .closing = m_closing,
                              .address = m_address,
                              .peerAddress = m_peerAddress,
                              .port = m_port,
                              .bytesToPeer = m_bytesToPeer,
                              .bytesFromPeer = m_bytesFromPeer};
}

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
        m_bytesToPeer += static_cast<unsigned long>(taken);
        if (static_cast<unsigned long>(taken) < offered) {
            break;
        }
    }
    return m_pendingOutput.Length() <= kMaxPendingOutput;
}

TSerialManager::TSerialManager(TFrameLevel* frameLevel)
    : m_frameLevel(frameLevel),
      m_input([this](std::uint32_t socketId) {
          return m_boundConnections.contains(socketId) || m_serialConnections.contains(socketId);
      }),
      m_stepTimer(ISystem::Instance()->CreateTimer(kStepPeriodMs)) {
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
    m_progress = false;
    const unsigned long framesBefore = m_frameLevel->FramesReceived();
    for (;;) {
        ProcessBoundConnections();
        SendQueuedPackets();
        // Nothing past a break joins the input before the half packet in front of it is gone.
        if (!m_breakAhead) {
            const T_BinaryData arrival = m_frameLevel->ReceiveData();
            m_breakAhead = m_frameLevel->BreakFollows();
            if (const auto cut = m_input.Append(arrival)) {
                HandleCutShortPacket(*cut);
            }
        }
        const TSerialPacket packet(m_input.Bytes());
        if (Dispatch(packet)) {
            m_progress = true;
        } else if (m_breakAhead) {
            HandleStreamBreak();
            m_progress = true;
        } else {
            break;
        }
    }
    if (const auto cut = m_input.TakeAbandoned()) {
        HandleCutShortPacket(*cut);
        m_progress = true;
    }
    SendQueuedPackets();
    return m_progress || m_frameLevel->FramesReceived() != framesBefore;
}

void TSerialManager::HandleStreamBreak() {
    m_breakAhead = false;
    ++m_counters.streamBreaks;
    // What is left before the break is the front of a packet whose rest was lost; what follows
    // it has just arrived, and is not abandoned for the silence before it.
    m_input.StartAfresh(m_frameLevel->ReceiveData());
    m_breakAhead = m_frameLevel->BreakFollows();
    // A peer whose stack started again begins with a reset, which drops every connection
    // anyway; new connections of its own may already be on the way under the old ids.
    const T_BinaryData reset = TSerialPacket(ACTION_RESET, 0, 0, 0, 0).BuildPacket();
    if (m_input.Bytes().Copy(0, reset.Length()) == reset) {
        return;
    }
    m_counters.closesAfterLoss += m_boundConnections.size() + m_serialConnections.size();
    CloseAllConnections();
}

void TSerialManager::HandleCutShortPacket(const TCutShortPacket& cut) {
    // None of its bytes reach the TCP peer. The terminal has given the connection up already
    // and will not close it: the agent does, and says so.
    if (cut.socketId) {
        CloseAfterLoss(*cut.socketId);
    }
}

void TSerialManager::CloseAllConnections() {
    while (!m_boundConnections.empty()) {
        CloseBoundConnection(m_boundConnections.begin()->first);
    }
    while (!m_serialConnections.empty()) {
        AbandonSerialConnection(m_serialConnections.begin()->first);
    }
}

void TSerialManager::CloseBoundConnection(std::uint32_t socketId) {
    m_outbound.Drop(socketId);
    DeleteBoundConnection(socketId);
    SendCloseFrame(socketId);
}

void TSerialManager::CloseAfterLoss(std::uint32_t socketId) {
    if (m_boundConnections.contains(socketId)) {
        ++m_counters.closesAfterLoss;
    }
    CloseBoundConnection(socketId);
}

void TSerialManager::GiveUpLongestWaiting() {
    const std::uint32_t socketId = *m_outbound.OldestSocketId();
    if (m_boundConnections.contains(socketId)) {
        // Its closed notice waits at the back, behind the newer ones.
        CloseAfterLoss(socketId);
        return;
    }
    m_outbound.Drop(socketId);
    if (const auto it = m_serialConnections.find(socketId); it != m_serialConnections.end()) {
        ++m_counters.closesAfterLoss;
        it->second->DetachFromManager();
        m_serialConnections.erase(it);
    }
}

void TSerialManager::AbandonSerialConnection(std::uint32_t socketId) {
    const auto it = m_serialConnections.find(socketId);
    const bool open = it == m_serialConnections.end() || it->second->IsOpen();
    if (it != m_serialConnections.end()) {
        // Cut loose, it reports itself closed and no late notice can open it again.
        it->second->DetachFromManager();
        m_serialConnections.erase(it);
    }
    m_outbound.Drop(socketId);
    if (open) {
        QueuePacket(TSerialPacket(ACTION_CLOSE, socketId, 0, 0, 0));
    }
}

void TSerialManager::SendQueuedPackets() {
    while (m_outbound.TotalPackets() > kMaxQueuedPackets) {
        GiveUpLongestWaiting();
    }
    bool lostBefore = false;
    for (;;) {
        // The notice a loss queues goes out at once: the terminal must hear of the close in
        // time, and a quiet loop may not step again for a while. After a second loss in the
        // same call the rest waits for the next step, or a line that fails every write would
        // resend the loss's own notice for ever.
        if (CheckPacketInFlight()) {
            if (lostBefore) {
                return;
            }
            lostBefore = true;
        }
        if (!m_frameLevel->IsReadyForPortion()) {
            return;
        }
        // One packet of an id on the way at a time: should it be lost, nothing of the same
        // connection behind it reaches the peer, so the peer's stream has no hole.
        std::optional<TOutboundPacket> next = m_outbound.PopNext(m_busyIds);
        if (!next) {
            return;
        }
        m_progress = true;
        const std::uint64_t tag = ++m_lastTag;
        const TPortionTerms terms{tag, MayRepeatAfterTimeOut(next->action),
                                  GoesOutTwiceAtOnce(next->action)};
        m_busyIds.insert(next->socketId);
        const auto placed = m_inFlight.emplace(tag, std::move(*next)).first;
        m_frameLevel->SendData(placed->second.bytes, terms);
    }
}

bool TSerialManager::MayRepeatAfterTimeOut(unsigned char action) {
    switch (action) {
        // Notices that only set a connection's state or address: a second delivery sets the
        // same again. No other packet of the id goes out while one is on the way, so the
        // repeat follows the first copy directly.
        case ACTION_CALL_RESULT:
        case ACTION_CONNECTED:
        case ACTION_CLOSED:
        // Requests of the terminal side: the agent's frame level drops a repeat of the portion
        // it accepted last.
        case ACTION_CALL:
        case ACTION_LISTEN:
        case ACTION_CLOSE:
        case ACTION_DATA_OUT:
            return true;
        // Data would be delivered twice by a terminal that takes every good frame, and a
        // second reset would drop connections opened after the first.
        case ACTION_DATA_IN:
        case ACTION_RESET:
        default:
            return false;
    }
}

bool TSerialManager::GoesOutTwiceAtOnce(unsigned char action) {
    // The notices and requests that open or close a connection: short, and a second delivery
    // changes nothing. Data is left alone, so small interactive packets keep their line time.
    return MayRepeatAfterTimeOut(action) && action != ACTION_DATA_OUT;
}

bool TSerialManager::CheckPacketInFlight() {
    bool lost = false;
    while (const auto outcome = m_frameLevel->TakeOutcome()) {
        const auto it = m_inFlight.find(outcome->tag);
        if (it == m_inFlight.end()) {
            continue;
        }
        const TOutboundPacket packet = std::move(it->second);
        m_inFlight.erase(it);
        m_busyIds.erase(packet.socketId);
        if (!outcome->delivered) {
            HandleLostPacket(packet);
            lost = true;
        }
    }
    return lost;
}

void TSerialManager::ForgetPacketsInFlight() {
    m_inFlight.clear();
    m_busyIds.clear();
}

void TSerialManager::HandleLostPacket(const TOutboundPacket& packet) {
    switch (packet.action) {
        case ACTION_CONNECTED:
        case ACTION_CALL_RESULT:
        case ACTION_CLOSED:
        case ACTION_DATA_IN:
            // The terminal may wait for this notice for ever, or hold a stream with a hole.
            CloseAfterLoss(packet.socketId);
            break;
        case ACTION_CALL:
        case ACTION_LISTEN:
        case ACTION_CLOSE:
        case ACTION_DATA_OUT:
            m_counters.closesAfterLoss += m_serialConnections.contains(packet.socketId) ? 1 : 0;
            AbandonSerialConnection(packet.socketId);
            break;
        default:
            break;
    }
}

void TSerialManager::AddWaits(TWaitSet& waits) const {
    for (const auto& [socketId, info] : m_boundConnections) {
        const auto* pollable = dynamic_cast<const IPollable*>(info->Connection());
        if (pollable == nullptr || pollable->GetDescriptor() < 0) {
            continue;
        }
        unsigned interests = info->HasPendingOutput() ? unsigned{READINESS_WRITABLE} : 0U;
        if (info->State() == CONNSTATE_CONNECTING) {
            interests |= READINESS_WRITABLE;
        } else if (info->State() == CONNSTATE_LISTENING) {
            interests |= READINESS_READABLE;
        } else if (!info->IsClosing() && WouldRead(socketId)) {
            interests |= READINESS_READABLE;
        }
        if (interests != 0) {
            waits.Add(pollable->GetDescriptor(), interests);
        }
    }
}

unsigned long TSerialManager::MillisecondsToNextDeadline() const {
    return std::min(m_frameLevel->MillisecondsToNextDeadline(), m_input.MillisecondsToDeadline());
}

bool TSerialManager::WouldRead(std::uint32_t socketId) const {
    return m_outbound.QueuedBytes(socketId) < kMaxQueuedPerConnection &&
           m_outbound.TotalBytes() < kMaxQueuedForLine;
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

bool TSerialManager::IsOnline() const {
    return m_frameLevel->IsOnline();
}

TTunnelCounters TSerialManager::Counters() const {
    TTunnelCounters counters = m_frameLevel->Counters();
    counters += m_counters;
    return counters;
}

void TSerialManager::ListConnections(std::vector<TConnectionFigures>& into) const {
    into.clear();
    for (const auto& [socketId, info] : m_boundConnections) {
        into.push_back(info->Figures(socketId));
    }
}

bool TSerialManager::HaveSerialConnections() const {
    return !m_serialConnections.empty();
}

bool TSerialManager::SendPacket(const TSerialPacket& packet) {
    QueuePacket(packet);
    SendQueuedPackets();
    return m_frameLevel->IsOnline();
}

void TSerialManager::QueuePacket(const TSerialPacket& packet) {
    m_outbound.Push(packet);
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
    // Nothing queued for the older connection may reach the agent's new one.
    m_outbound.Drop(static_cast<std::uint32_t>(socketId));
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
    // Nothing queued for an older connection under the id may reach the terminal's new one.
    m_outbound.Drop(static_cast<std::uint32_t>(socketId));
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
        ++m_counters.callsRefused;
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
        m_boundConnections[static_cast<std::uint32_t>(socketId)] = std::make_unique<TConnInfo>(
            connection, calling, calling ? static_cast<std::uint32_t>(ipAddr) : 0, port);
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
    // The terminal no longer listens to this id: what waits for the line for it is dropped.
    m_outbound.Drop(static_cast<std::uint32_t>(packet.GetSocketID()));
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
    ++m_counters.peerResets;
    for (auto& [id, connection] : m_serialConnections) {
        connection->MarkClosed();
    }
    DeleteAllBoundConnections();
    // Every packet waiting, or on the way, speaks of a connection the peer has forgotten.
    m_outbound.Clear();
    // Nor may the frame level repeat one of them to a connection of the same id opened since.
    m_frameLevel->DropOutgoing();
    ForgetPacketsInFlight();
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
            const unsigned long pendingBefore = info.PendingOutputLength();
            const bool flushed = info.FlushOutput();
            m_progress = m_progress || info.PendingOutputLength() != pendingBefore;
            state = flushed ? ProcessReceive(socketId, info) : CONNSTATE_DISCONNECTED;
        }
        if (state == CONNSTATE_DISCONNECTED) {
            // One close per visit: the connections after this one wait for the next visit. The
            // notice follows the connection's data still waiting for the line.
            m_progress = true;
            m_boundConnections.erase(it);
            SendCloseFrame(socketId);
            return;
        }
        ++it;
    }
}

void TSerialManager::ReportEstablished(std::uint32_t socketId, TConnInfo& info) {
    if (info.State() != CONNSTATE_CONNECTED) {
        m_progress = true;
    }
    if (info.State() == CONNSTATE_CONNECTING) {
        QueuePacket(TSerialPacket(ACTION_CALL_RESULT, socketId, 0, 0, 0));
    } else if (info.State() == CONNSTATE_LISTENING) {
        const unsigned long peer = info.Connection()->GetPeerAddress();
        info.SetPeerAddress(static_cast<std::uint32_t>(peer));
        QueuePacket(TSerialPacket(ACTION_CONNECTED, socketId, peer, 0, 0));
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

CONNSTATE TSerialManager::ProcessReceive(std::uint32_t socketId, TConnInfo& info) {
    unsigned char block[kReceiveBlock];
    while (WouldRead(socketId)) {
        const long received = info.Connection()->Receive(block, sizeof block);
        if (received < 0) {
            return CONNSTATE_DISCONNECTED;
        }
        if (received == 0) {
            return CONNSTATE_CONNECTED;
        }
        m_progress = true;
        const auto count = static_cast<unsigned long>(received);
        info.CountReceived(count);
        for (unsigned long offset = 0; offset < count; offset += TPacketLayout::kMaxDataPerPacket) {
            const T_BinaryData data(block + offset,
                                    std::min(TPacketLayout::kMaxDataPerPacket, count - offset), 0);
            QueuePacket(TSerialPacket(ACTION_DATA_IN, socketId, data));
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
    // Ahead of everything waiting, and ahead of the answer to anything the peer sent before:
    // a peer that saw its own reset acknowledged first would count its next requests as
    // made after ours and lose them to it. The link reset right after drops it from the
    // frame level.
    m_frameLevel->SendDataFirst(TSerialPacket(ACTION_RESET, 0, 0, 0, 0).BuildPacket());
    m_frameLevel->ResetLink();
    ForgetPacketsInFlight();
}

void TSerialManager::SendCloseFrame(unsigned long socketId) {
    QueuePacket(TSerialPacket(ACTION_CLOSED, socketId, 0, 0, 0));
}

void TSerialManager::SendCallErrorFrame(unsigned long socketId, unsigned long error) {
    QueuePacket(TSerialPacket(ACTION_CALL_RESULT, socketId, 0, 0, error));
}
