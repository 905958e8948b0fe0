#pragma once

#include <cstdint>
#include <deque>
#include <map>
#include <optional>
#include <set>

#include "base/BinaryData.h"

class TSerialPacket;

// A tunnel packet waiting for the line, with what its sender must know should it be lost.
struct TOutboundPacket {
    std::uint32_t socketId;
    unsigned char action;
    T_BinaryData bytes;
};

// The packets waiting for the line, one queue per socket id. Each id's packets keep their
// order; the ids take turns, so a busy connection delays another's notices by one packet at
// most. An id has at most one ACTION_CLOSED waiting: a repeat is merged into it.
class TPacketScheduler {
  public:
    void Push(const TSerialPacket& packet);
    // The next packet: the oldest of the first id after the one served last that has any,
    // passing over the ids in skip.
    std::optional<TOutboundPacket> PopNext(const std::set<std::uint32_t>& skip = {});
    // Forgets every packet of the id.
    void Drop(std::uint32_t socketId);
    void Clear();
    bool IsEmpty() const { return m_queues.empty(); }
    unsigned long QueuedBytes(std::uint32_t socketId) const;
    unsigned long TotalBytes() const { return m_totalBytes; }
    unsigned long TotalPackets() const { return m_totalPackets; }
    // The id whose packets have waited longest: the one whose queue was started first.
    std::optional<std::uint32_t> OldestSocketId() const;

  private:
    struct TQueue {
        std::deque<TOutboundPacket> packets;
        unsigned long bytes = 0;
        std::uint64_t started = 0;  // key in m_byAge
        bool closedWaiting = false;
    };

    void Erase(std::map<std::uint32_t, TQueue>::iterator queue);

    // Only ids with packets have an entry.
    std::map<std::uint32_t, TQueue> m_queues;
    // The ids with packets by the order their queues were started.
    std::map<std::uint64_t, std::uint32_t> m_byAge;
    std::uint64_t m_queuesStarted = 0;
    std::optional<std::uint32_t> m_lastServed;
    unsigned long m_totalBytes = 0;
    unsigned long m_totalPackets = 0;
};
