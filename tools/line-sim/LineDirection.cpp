#include "line-sim/LineDirection.h"

#include <algorithm>
#include <cmath>
#include <limits>

namespace {

constexpr std::uint64_t kNever = std::numeric_limits<std::uint64_t>::max();

}  // namespace

TLineDirection::TLineDirection(double rate, std::uint64_t seed)
    : m_byteTime(rate > 0 ? std::chrono::duration_cast<TLineClock::duration>(
                                std::chrono::duration<double>(1.0 / rate))
                          : TLineClock::duration::zero()),
      m_random(seed) {
    SetFaults(0, 0);
}

void TLineDirection::SetFaults(double ber, double drop) {
    m_ber = ber;
    m_drop = drop;
    m_bitsToNextFlip = NextGap(m_ber);
    m_bytesToNextDrop = NextGap(m_drop);
}

// How many trials pass before the next hit, for a fixed chance per trial:
// drawing the gaps instead of one number per bit keeps low rates cheap.
std::uint64_t TLineDirection::NextGap(double chance) {
    if (chance <= 0) {
        return kNever;
    }
    if (chance >= 1) {
        return 0;
    }
    return std::geometric_distribution<std::uint64_t>(chance)(m_random);
}

void TLineDirection::Accept(const std::uint8_t* data, std::size_t length,
                            TLineClock::time_point now) {
    m_counts.sent += length;
    for (std::size_t i = 0; i < length; ++i) {
        m_frames.Feed(data[i]);
        if (now < m_silentUntil) {
            ++m_counts.silencedBytes;
            continue;
        }
        std::uint8_t byte = data[i];
        while (m_bitsToNextFlip < 8) {
            byte ^= static_cast<std::uint8_t>(1u << m_bitsToNextFlip);
            ++m_counts.flippedBits;
            const std::uint64_t gap = NextGap(m_ber);
            m_bitsToNextFlip = gap == kNever ? kNever : m_bitsToNextFlip + 1 + gap;
        }
        if (m_bitsToNextFlip != kNever) {
            m_bitsToNextFlip -= 8;
        }
        if (m_bytesToNextDrop == 0) {
            ++m_counts.droppedBytes;
            m_bytesToNextDrop = NextGap(m_drop);
            continue;
        }
        if (m_bytesToNextDrop != kNever) {
            --m_bytesToNextDrop;
        }
        Transmit(byte, now);
    }
}

void TLineDirection::InjectGarbage(std::size_t length, TLineClock::time_point now) {
    std::uniform_int_distribution<int> anyByte(0, 255);
    for (std::size_t i = 0; i < length; ++i) {
        Transmit(static_cast<std::uint8_t>(anyByte(m_random)), now);
    }
    m_counts.garbageBytes += length;
}

void TLineDirection::Transmit(std::uint8_t byte, TLineClock::time_point now) {
    m_lineFreeAt = std::max(m_lineFreeAt, now) + m_byteTime;
    m_queue.push_back({byte, m_lineFreeAt});
}

std::optional<TLineClock::time_point> TLineDirection::NextArrival(
    TLineClock::time_point now) const {
    // Arrival times never decrease along the queue.
    const auto next = std::partition_point(m_queue.begin(), m_queue.end(),
                                           [now](const TQueuedByte& byte) { return byte.visible <= now; });
    if (next == m_queue.end()) {
        return std::nullopt;
    }
    return next->visible;
}

std::size_t TLineDirection::InFlight(TLineClock::time_point now) const {
    const auto next = std::partition_point(m_queue.begin(), m_queue.end(),
                                           [now](const TQueuedByte& byte) { return byte.visible <= now; });
    return static_cast<std::size_t>(m_queue.end() - next);
}

std::size_t TLineDirection::PeekVisible(std::uint8_t* buffer, std::size_t size,
                                        TLineClock::time_point now) const {
    std::size_t count = 0;
    for (auto it = m_queue.begin(); it != m_queue.end() && count < size && it->visible <= now;
         ++it) {
        buffer[count++] = it->value;
    }
    return count;
}

void TLineDirection::Consume(std::size_t count) {
    count = std::min(count, m_queue.size());
    m_queue.erase(m_queue.begin(), m_queue.begin() + static_cast<std::ptrdiff_t>(count));
    m_counts.delivered += count;
}
