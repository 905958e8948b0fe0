#include "tunnel/SerialManager.h"

#include <algorithm>

#include "platform/ActivityWait.h"
#include "platform/Timer.h"
#include "tunnel/FrameLevel.h"
#include "tunnel/SerialPacket.h"

namespace {

constexpr unsigned long kStepPeriodMs = 75;
constexpr unsigned long kLinkWaitMs = 3000;

}  // namespace

TSerialManager::TSerialManager(TFrameLevel* frameLevel, INetworkInterface* network,
                               ITimerSource& timers)
    : m_link(
          frameLevel,
          [this](std::uint32_t socketId) {
              return m_agent.Contains(socketId) || m_terminal.Contains(socketId);
          },
          *this, timers),
      m_agent(m_link, network),
      m_terminal(*this, m_link),
      m_stepTimer(timers.CreateTimer(kStepPeriodMs)),
      m_timers(timers) {
    SendResetFrame();
}

TSerialManager::~TSerialManager() {
    // The TCP connections go first; the tunnelled connections, which may outlive the stack,
    // are cut loose after them and from then on report themselves closed.
    DeleteAllBoundConnections();
}

bool TSerialManager::ProcessContinuously() {
    return ProcessSerialConnections();
}

bool TSerialManager::ProcessSerialConnections() {
    m_progress = false;
    // Whatever the table did outside a step is not this step's progress.
    m_agent.TakeProgress();
    const unsigned long framesBefore = m_link.Frames().FramesReceived();
    for (;;) {
        ProcessBoundConnections();
        SendQueuedPackets();
        if (const auto cut = m_link.TakeArrival()) {
            HandleCutShortPacket(*cut);
        }
        const TSerialPacket packet(m_link.Input());
        if (Dispatch(packet)) {
            m_progress = true;
        } else if (m_link.BreakAhead()) {
            HandleStreamBreak();
            m_progress = true;
        } else {
            break;
        }
    }
    if (const auto cut = m_link.TakeAbandoned()) {
        HandleCutShortPacket(*cut);
        m_progress = true;
    }
    SendQueuedPackets();
    return m_progress || m_link.Frames().FramesReceived() != framesBefore;
}

void TSerialManager::HandleStreamBreak() {
    ++m_counters.streamBreaks;
    // A peer whose stack started again begins with a reset, which drops every connection
    // anyway; new connections of its own may already be on the way under the old ids.
    if (m_link.ResyncAfterBreak()) {
        return;
    }
    m_counters.closesAfterLoss += m_agent.Size() + m_terminal.Size();
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
    while (!m_agent.IsEmpty()) {
        m_agent.CloseBoundConnection(m_agent.FirstSocketId());
    }
    while (!m_terminal.IsEmpty()) {
        m_terminal.AbandonSerialConnection(m_terminal.FirstSocketId());
    }
}

void TSerialManager::CloseAfterLoss(std::uint32_t socketId) {
    if (m_agent.Contains(socketId)) {
        ++m_counters.closesAfterLoss;
    }
    m_agent.CloseBoundConnection(socketId);
}

void TSerialManager::OnQueueOverflow() {
    const std::uint32_t socketId = *m_link.Queued().OldestSocketId();
    if (m_agent.Contains(socketId)) {
        // Its closed notice waits at the back, behind the newer ones.
        CloseAfterLoss(socketId);
        return;
    }
    m_link.Drop(socketId);
    if (m_terminal.GiveUp(socketId)) {
        ++m_counters.closesAfterLoss;
    }
}

void TSerialManager::SendQueuedPackets() {
    if (m_link.SendQueued()) {
        m_progress = true;
    }
}

void TSerialManager::OnPacketLost(const TOutboundPacket& packet) {
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
            m_counters.closesAfterLoss += m_terminal.Contains(packet.socketId) ? 1 : 0;
            m_terminal.AbandonSerialConnection(packet.socketId);
            break;
        default:
            break;
    }
}

void TSerialManager::AddWaits(TWaitSet& waits) const {
    m_agent.AddWaits(waits);
}

unsigned long TSerialManager::MillisecondsToNextDeadline() const {
    return std::min(m_link.Frames().MillisecondsToNextDeadline(),
                    m_link.MillisecondsToInputDeadline());
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
    const std::unique_ptr<ITimer> timer = m_timers.CreateTimer(kLinkWaitMs);
    bool online = false;
    do {
        ProcessContinuously();
        online = m_link.Frames().IsOnline();
        // Nothing here has a descriptor to sleep on: the link moves only while it is processed.
        TActivityWait(m_timers).Sleep(kLinkWaitMs);
    } while (!online && !timer->IsExpired());
    return online;
}

void TSerialManager::SetStreamMode(bool on) {
    m_link.Frames().SetStreamMode(on);
}

bool TSerialManager::IsOnline() const {
    return m_link.Frames().IsOnline();
}

TTunnelCounters TSerialManager::Counters() const {
    TTunnelCounters counters = m_link.Frames().Counters();
    counters += m_counters;
    counters.callsRefused += m_agent.CallsRefused();
    counters.bytesToPeers += m_agent.BytesToPeers();
    counters.bytesFromPeers += m_agent.BytesFromPeers();
    return counters;
}

void TSerialManager::ListConnections(std::vector<TConnectionFigures>& into) const {
    into.clear();
    m_agent.ListConnections(into);
}

bool TSerialManager::HaveSerialConnections() const {
    return !m_terminal.IsEmpty();
}

bool TSerialManager::SendPacket(const TSerialPacket& packet) {
    m_link.Queue(packet);
    SendQueuedPackets();
    return m_link.Frames().IsOnline();
}

TSerialOutConnection* TSerialManager::AddCallingConnection(unsigned long socketId,
                                                           unsigned long ipAddr,
                                                           unsigned short port) {
    return m_terminal.AddCallingConnection(socketId, ipAddr, port);
}

IConnection* TSerialManager::AddListeningConnection(unsigned long socketId, unsigned short port) {
    return m_terminal.AddListeningConnection(socketId, port);
}

void TSerialManager::DeleteSerialConnection(unsigned long socketId) {
    m_terminal.DeleteSerialConnection(socketId);
}

void TSerialManager::ProcessPacketAtConnection(const TSerialPacket& packet) {
    m_terminal.ProcessPacketAtConnection(packet);
}

void TSerialManager::ProcessCallRequest(const TSerialPacket& packet) {
    m_agent.ProcessCallRequest(packet);
}

Error TSerialManager::CreateBoundConnection(unsigned long socketId, unsigned long ipAddr,
                                            unsigned short port, bool calling) {
    return m_agent.CreateBoundConnection(socketId, ipAddr, port, calling);
}

void TSerialManager::ProcessDataOutRequest(const TSerialPacket& packet) {
    m_agent.ProcessDataOutRequest(packet);
}

void TSerialManager::ProcessCloseRequest(const TSerialPacket& packet) {
    m_agent.ProcessCloseRequest(packet);
}

void TSerialManager::ProcessReset() {
    ++m_counters.peerResets;
    m_terminal.MarkAllClosed();
    DeleteAllBoundConnections();
    // Every packet waiting, or on the way, speaks of a connection the peer has forgotten; nor
    // may the frame level repeat one of them to a connection of the same id opened since.
    m_link.DropAll();
}

void TSerialManager::ProcessBoundConnections() {
    m_agent.ProcessBoundConnections();
    if (m_agent.TakeProgress()) {
        m_progress = true;
    }
}

CONNSTATE TSerialManager::ProcessReceive(std::uint32_t socketId, TConnInfo& info) {
    return m_agent.ProcessReceive(socketId, info);
}

void TSerialManager::DeleteBoundConnection(unsigned long socketId) {
    m_agent.DeleteBoundConnection(socketId);
}

void TSerialManager::DeleteAllBoundConnections() {
    m_agent.DeleteAllBoundConnections();
}

void TSerialManager::SendResetFrame() {
    // The link goes down until the peer answers; the reset goes out ahead of everything, and
    // ahead of the answer to anything the peer sent before: a peer that saw its own reset
    // acknowledged first would count its next requests as made after ours and lose them to it.
    // It is never sent again on a time-out, as a second one would drop connections opened
    // after the first, but it is when a probe shows the peer never read it and nothing came
    // from the peer since.
    m_link.ForgetPacketsInFlight();
    m_link.Frames().ResetLink();
    TPortionTerms terms;
    terms.resetsPeer = true;
    m_link.Frames().SendDataFirst(TSerialPacket(ACTION_RESET, 0, 0, 0, 0).BuildPacket(), terms);
}

void TSerialManager::SendCloseFrame(unsigned long socketId) {
    m_agent.SendCloseFrame(socketId);
}

void TSerialManager::SendCallErrorFrame(unsigned long socketId, unsigned long error) {
    m_agent.SendCallErrorFrame(socketId, error);
}
