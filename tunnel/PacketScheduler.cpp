#include "tunnel/PacketScheduler.h"

#include "tunnel/SerialPacket.h"

void TPacketScheduler::Push(const TSerialPacket& packet) {
    const auto socketId = static_cast<std::uint32_t>(packet.GetSocketID());
    TQueue& queue = m_queues[socketId];
    queue.packets.push_back(
        TOutboundPacket{socketId, packet.GetActionType(), packet.BuildPacket()});
    queue.bytes += queue.packets.back().bytes.Length();
    m_totalBytes += queue.packets.back().bytes.Length();
}

std::optional<TOutboundPacket> TPacketScheduler::PopNext(const std::set<std::uint32_t>& skip) {
    if (m_queues.empty()) {
        return std::nullopt;
    }
    auto it = m_lastServed ? m_queues.upper_bound(*m_lastServed) : m_queues.begin();
    for (std::size_t looked = 0;; ++looked) {
        if (looked == m_queues.size()) {
            return std::nullopt;
        }
        if (it == m_queues.end()) {
            it = m_queues.begin();
        }
        if (skip.count(it->first) == 0) {
            break;
        }
        ++it;
    }
    TQueue& queue = it->second;
    TOutboundPacket packet = queue.packets.front();
    queue.packets.pop_front();
    queue.bytes -= packet.bytes.Length();
    m_totalBytes -= packet.bytes.Length();
    m_lastServed = it->first;
    if (queue.packets.empty()) {
        m_queues.erase(it);
    }
    return packet;
}

void TPacketScheduler::Drop(std::uint32_t socketId) {
    const auto it = m_queues.find(socketId);
    if (it != m_queues.end()) {
        m_totalBytes -= it->second.bytes;
        m_queues.erase(it);
    }
}

void TPacketScheduler::Clear() {
    m_queues.clear();
    m_totalBytes = 0;
}

unsigned long TPacketScheduler::QueuedBytes(std::uint32_t socketId) const {
    const auto it = m_queues.find(socketId);
    return it == m_queues.end() ? 0 : it->second.bytes;
}
