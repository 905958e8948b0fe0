#include "tunnel/PacketScheduler.h"

#include "tunnel/SerialPacket.h"

void TPacketScheduler::Push(const TSerialPacket& packet) {
    const auto socketId = static_cast<std::uint32_t>(packet.GetSocketID());
    const bool closed = packet.GetActionType() == ACTION_CLOSED;
    auto [it, started] = m_queues.try_emplace(socketId);
    TQueue& queue = it->second;
    if (started) {
        queue.started = m_queuesStarted++;
        m_byAge.emplace(queue.started, socketId);
    } else if (closed && queue.closedWaiting) {
        return;
    }
    queue.closedWaiting = queue.closedWaiting || closed;
    queue.packets.push_back(
        TOutboundPacket{socketId, packet.GetActionType(), packet.BuildPacket()});
    queue.bytes += queue.packets.back().bytes.Length();
    m_totalBytes += queue.packets.back().bytes.Length();
    ++m_totalPackets;
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
    --m_totalPackets;
    if (packet.action == ACTION_CLOSED) {
        queue.closedWaiting = false;
    }
    m_lastServed = it->first;
    if (queue.packets.empty()) {
        Erase(it);
    }
    return packet;
}

void TPacketScheduler::Drop(std::uint32_t socketId) {
    const auto it = m_queues.find(socketId);
    if (it != m_queues.end()) {
        m_totalBytes -= it->second.bytes;
        m_totalPackets -= it->second.packets.size();
        Erase(it);
    }
}

void TPacketScheduler::Erase(std::map<std::uint32_t, TQueue>::iterator queue) {
    m_byAge.erase(queue->second.started);
    m_queues.erase(queue);
}

void TPacketScheduler::Clear() {
    m_queues.clear();
    m_byAge.clear();
    m_totalBytes = 0;
    m_totalPackets = 0;
}

unsigned long TPacketScheduler::QueuedBytes(std::uint32_t socketId) const {
    const auto it = m_queues.find(socketId);
    return it == m_queues.end() ? 0 : it->second.bytes;
}

std::optional<std::uint32_t> TPacketScheduler::OldestSocketId() const {
    if (m_byAge.empty()) {
        return std::nullopt;
    }
    return m_byAge.begin()->second;
}
