#pragma once

#include <chrono>
#include <cstddef>
#include <cstdint>
#include <deque>
#include <optional>
#include <random>

#include "line-sim/FrameCounter.h"

using TLineClock = std::chrono::steady_clock;

// What happened to the bytes of one direction.
struct TDirectionCounts {
    std::uint64_t sent = 0;       // bytes the sender wrote
    std::uint64_t delivered = 0;  // bytes the receiver was given
    std::uint64_t flippedBits = 0;
    std::uint64_t droppedBytes = 0;
    std::uint64_t garbageBytes = 0;   // injected by a garbage burst
    std::uint64_t silencedBytes = 0;  // lost while the line was silent
};

// One direction of a serial line: bytes the sender writes become visible to
// the receiver once their transmission time at `rate` bytes per second has
// passed, one after the other, with faults injected on the way. Time is
// given by the caller, so the pacing can be checked without waiting.
class TLineDirection {
  public:
    // rate 0: no pacing, bytes are visible at once.
    TLineDirection(double rate, std::uint64_t seed);

    // ber: chance of each bit to flip; drop: chance of each byte to be lost.
    void SetFaults(double ber, double drop);
    // Bytes written by the sender at `now`.
    void Accept(const std::uint8_t* data, std::size_t length, TLineClock::time_point now);
    // Random bytes on the line, as a burst of noise starting at `now`.
    void InjectGarbage(std::size_t length, TLineClock::time_point now);
    // Everything sent before `until` is lost.
    void SilenceUntil(TLineClock::time_point until) { m_silentUntil = until; }

    // Bytes in transmission or waiting for the receiver.
    std::size_t Backlog() const { return m_queue.size(); }
    // Bytes still in transmission at `now`.
    std::size_t InFlight(TLineClock::time_point now) const;
    // When the first byte not yet visible becomes visible; none when every
    // queued byte is visible or nothing is queued.
    std::optional<TLineClock::time_point> NextArrival(TLineClock::time_point now) const;
    // Copies up to `size` bytes visible at `now`, oldest first, without taking them.
    std::size_t PeekVisible(std::uint8_t* buffer, std::size_t size,
                            TLineClock::time_point now) const;
    // The receiver took the first `count` visible bytes.
    void Consume(std::size_t count);

    const TDirectionCounts& Counts() const { return m_counts; }
    const TFrameCounts& Frames() const { return m_frames.Counts(); }

  private:
    struct TQueuedByte {
        std::uint8_t value;
        TLineClock::time_point visible;
    };

    void Transmit(std::uint8_t byte, TLineClock::time_point now);
    std::uint64_t NextGap(double chance);

    TLineClock::duration m_byteTime;
    std::mt19937_64 m_random;
    double m_ber = 0;
    double m_drop = 0;
    std::uint64_t m_bitsToNextFlip = 0;
    std::uint64_t m_bytesToNextDrop = 0;
    TLineClock::time_point m_lineFreeAt{};
    TLineClock::time_point m_silentUntil{};
    std::deque<TQueuedByte> m_queue;
    TDirectionCounts m_counts;
    TFrameCounter m_frames;
};
