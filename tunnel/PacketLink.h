#pragma once

#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <optional>
#include <set>

#include "base/BinaryData.h"
#include "tunnel/PacketInput.h"
#include "tunnel/PacketScheduler.h"

class TFrameLevel;
class TSerialPacket;

// What a packet link reports about packets that left its queue without reaching the peer.
class IPacketLosses {
  public:
    virtual ~IPacketLosses() = default;
    // The frame level gave the packet up: it may not have reached the peer.
    virtual void OnPacketLost(const TOutboundPacket& packet) = 0;
    // The queue is past its bound: the packets of the id that has waited longest
    // (OldestSocketId) must go, and with them what they belonged to.
    virtual void OnQueueOverflow() = 0;
};

// The packet stream over the frame level, both ways. Incoming bytes are reassembled into
// packets, and the stream is brought back in step after a break; outgoing packets wait in a
// scheduler and go to the frame level one portion each, at most one packet of a socket id on
// its way at a time, each known by its tag until its outcome is taken.
class TPacketLink {
  public:
    // Takes ownership of frameLevel. isInUse tells whether a socket id names a connection in
    // use; losses hears of packets given up; timers time the peer's silences.
    TPacketLink(TFrameLevel* frameLevel, std::function<bool(std::uint32_t)> isInUse,
                IPacketLosses& losses, ITimerSource& timers);
    ~TPacketLink();
    TPacketLink(const TPacketLink&) = delete;
    TPacketLink& operator=(const TPacketLink&) = delete;

    TFrameLevel& Frames() { return *m_frameLevel; }
    const TFrameLevel& Frames() const { return *m_frameLevel; }

    // Takes what the frame level received, unless a break waits ahead of the packet in front.
    // Returns the packet the arrival cut short, if it started afresh, or the broken packet in
    // front that was dropped for being longer than a peer builds.
    [[nodiscard]] std::optional<TCutShortPacket> TakeArrival();
    // The bytes that wait for packets to be taken off their front.
    T_BinaryData& Input() { return m_input.Bytes(); }
    // Whether the frame level reported a break after the waiting bytes.
    bool BreakAhead() const { return m_breakAhead; }
    // Drops the half packet in front of a break and takes what follows it. True when the peer
    // restarted: what follows begins with a reset.
    bool ResyncAfterBreak();
    // Drops and returns a partial packet the peer gave up on (TPacketInput::TakeAbandoned).
    [[nodiscard]] std::optional<TCutShortPacket> TakeAbandoned() { return m_input.TakeAbandoned(); }
    // Time until a waiting partial packet counts as abandoned.
    unsigned long MillisecondsToInputDeadline() const { return m_input.MillisecondsToDeadline(); }

    // Queues a packet only; SendQueued hands it to the frame level.
    void Queue(const TSerialPacket& packet) { m_outbound.Push(packet); }
    // Forgets the queued packets of the id.
    void Drop(std::uint32_t socketId) { m_outbound.Drop(socketId); }
    const TPacketScheduler& Queued() const { return m_outbound; }
    // Hands queued packets to the frame level while it is ready for one, after reporting the
    // losses among the packets it holds. True when a packet was handed over.
    bool SendQueued();
    // Drops every queued packet, those the frame level still holds, and what is known of them.
    void DropAll();
    // Forgets the packets the frame level holds; their outcomes are not looked for.
    void ForgetPacketsInFlight();

  private:
    // Takes the outcomes of the packets the frame level holds; true when one was given up.
    bool CheckPacketsInFlight();
    // Whether a packet whose answer stays out may go out again: only when its second
    // delivery changes nothing at the peer.
    static bool MayRepeatAfterTimeOut(unsigned char action);
    // Whether each transmission of a packet goes out twice at once.
    static bool GoesOutTwiceAtOnce(unsigned char action);

    std::unique_ptr<TFrameLevel> m_frameLevel;
    IPacketLosses& m_losses;
    // Bytes from the frame level that do not form a complete packet yet.
    TPacketInput m_input;
    // The frame level reported a break after what m_input holds.
    bool m_breakAhead = false;
    // Packets not yet handed to the frame level.
    TPacketScheduler m_outbound;
    // The packets the frame level holds until the peer acknowledges them, by tag, and their ids.
    std::map<std::uint64_t, TOutboundPacket> m_inFlight;
    std::set<std::uint32_t> m_busyIds;
    std::uint64_t m_lastTag = 0;
};
