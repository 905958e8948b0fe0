#include "tunnel/Probes.h"

#include <algorithm>
#include <bit>
#include <iterator>

namespace {

unsigned HammingDistance(std::uint8_t a, std::uint8_t b) {
    return static_cast<unsigned>(std::popcount(static_cast<unsigned>(a ^ b)));
}

}  // namespace

std::uint8_t TProbes::ChooseNumber(std::uint8_t current, unsigned long window) const {
    const auto next = static_cast<std::uint8_t>(current + 1);
    const auto lately = [&](std::uint8_t number) {
        return static_cast<std::uint8_t>(current - number) <= 2 * window || number == next;
    };
    const auto used = [&](std::uint8_t number) {
        return std::find(m_numbersUsed.begin(), m_numbersUsed.end(), number) != m_numbersUsed.end();
    };
    std::uint8_t best = 0;
    unsigned bestDistance = 0;
    for (unsigned candidate = 0; candidate < 256; ++candidate) {
        const auto number = static_cast<std::uint8_t>(candidate);
        if (lately(number) || used(number)) {
            continue;
        }
        unsigned distance = HammingDistance(number, next);
        for (unsigned long back = 0; back <= window; ++back) {
            distance = std::min(distance,
                                HammingDistance(number, static_cast<std::uint8_t>(current - back)));
        }
        if (distance > bestDistance) {
            best = number;
            bestDistance = distance;
        }
    }
    return best;
}

std::uint64_t TProbes::Sent(std::uint8_t number, unsigned long promptByMs) {
    m_out.push_back(TProbeOut{number, ++m_serials, promptByMs});
    if (m_out.size() > kRemembered) {
        m_out.pop_front();
    }
    m_numbersUsed.push_back(number);
    if (m_numbersUsed.size() > kRemembered) {
        m_numbersUsed.pop_front();
    }
    return m_serials;
}

bool TProbes::IsOut(std::uint8_t number) const {
    return std::any_of(m_out.begin(), m_out.end(),
                       [&](const TProbeOut& probe) { return probe.number == number; });
}

TProbes::TAnswered TProbes::Answer(std::uint8_t number, unsigned long nowMs) {
    const auto probe = std::find_if(m_out.begin(), m_out.end(),
                                    [&](const TProbeOut& out) { return out.number == number; });
    const TAnswered answered{probe->serial, nowMs <= probe->promptByMs};
    m_out.erase(m_out.begin(), std::next(probe));
    return answered;
}

bool TProbes::TakeLaterDue(unsigned long nowMs) {
    if (m_nextMs == kNoDeadline) {
        m_nextMs = nowMs + m_gapMs;
        m_gapMs *= 2;
        return false;
    }
    if (nowMs < m_nextMs) {
        return false;
    }
    m_nextMs = nowMs + m_gapMs;
    m_gapMs *= 2;
    return true;
}

void TProbes::StopLater() {
    m_nextMs = kNoDeadline;
    m_gapMs = kFirstGapMs;
}
