#include "tunnel/PacketLink.h"

#include <utility>

#include "tunnel/FrameLevel.h"
#include "tunnel/SerialPacket.h"

namespace {

// Most packets that wait for the line: room for the data of the agent's whole read-ahead in
// full packets and for the notices of thousands of connections besides. Only a peer that
// stopped acknowledging gets near it; past it the connections that have waited longest are
// given up.
constexpr unsigned long kMaxQueuedPackets = 4096;

}  // namespace

TPacketLink::TPacketLink(TFrameLevel* frameLevel, std::function<bool(std::uint32_t)> isInUse,
                         IPacketLosses& losses, ITimerSource& timers)
    : m_frameLevel(frameLevel), m_losses(losses), m_input(std::move(isInUse), timers) {}

TPacketLink::~TPacketLink() = default;

std::optional<TCutShortPacket> TPacketLink::TakeArrival() {
    // Nothing past a break joins the input before the half packet in front of it is gone.
    if (!m_breakAhead) {
        const T_BinaryData arrival = m_frameLevel->ReceiveData();
        m_breakAhead = m_frameLevel->BreakFollows();
        if (auto cut = m_input.Append(arrival)) {
            return cut;  // what starts afresh begins with well-formed packets
        }
    }
    return m_input.DropOverlongFront();
}

bool TPacketLink::ResyncAfterBreak() {
    m_breakAhead = false;
    // What is left before the break is the front of a packet whose rest was lost; what follows
    // it has just arrived, and is not abandoned for the silence before it.
    m_input.StartAfresh(m_frameLevel->ReceiveData());
    m_breakAhead = m_frameLevel->BreakFollows();
    const T_BinaryData reset = TSerialPacket(ACTION_RESET, 0, 0, 0, 0).BuildPacket();
    return m_input.Bytes().Copy(0, reset.Length()) == reset;
}

bool TPacketLink::SendQueued() {
    while (m_outbound.TotalPackets() > kMaxQueuedPackets) {
        m_losses.OnQueueOverflow();
    }
    bool handed = false;
    bool lostBefore = false;
    for (;;) {
        // The notice a loss queues goes out at once: the terminal must hear of the close in
        // time, and a quiet loop may not step again for a while. After a second loss in the
        // same call the rest waits for the next step, or a line that fails every write would
        // resend the loss's own notice for ever.
        if (CheckPacketsInFlight()) {
            if (lostBefore) {
                return handed;
            }
            lostBefore = true;
        }
        if (!m_frameLevel->IsReadyForPortion()) {
            return handed;
        }
        // One packet of an id on the way at a time: should it be lost, nothing of the same
        // connection behind it reaches the peer, so the peer's stream has no hole.
        std::optional<TOutboundPacket> next = m_outbound.PopNext(m_busyIds);
        if (!next) {
            return handed;
        }
        handed = true;
        const std::uint64_t tag = ++m_lastTag;
        const TPortionTerms terms{tag, MayRepeatAfterTimeOut(next->action),
                                  GoesOutTwiceAtOnce(next->action)};
        m_busyIds.insert(next->socketId);
        const auto placed = m_inFlight.emplace(tag, std::move(*next)).first;
        m_frameLevel->SendData(placed->second.bytes, terms);
    }
}

bool TPacketLink::MayRepeatAfterTimeOut(unsigned char action) {
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

bool TPacketLink::GoesOutTwiceAtOnce(unsigned char action) {
    // The notices and requests that open or close a connection: short, and a second delivery
    // changes nothing. Data is left alone, so small interactive packets keep their line time.
    return MayRepeatAfterTimeOut(action) && action != ACTION_DATA_OUT;
}

bool TPacketLink::CheckPacketsInFlight() {
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
            m_losses.OnPacketLost(packet);
            lost = true;
        }
    }
    return lost;
}

void TPacketLink::ForgetPacketsInFlight() {
    m_inFlight.clear();
    m_busyIds.clear();
}

void TPacketLink::DropAll() {
    m_outbound.Clear();
    m_frameLevel->DropOutgoing();
    ForgetPacketsInFlight();
}
