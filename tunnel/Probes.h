#pragma once

#include <cstddef>
#include <cstdint>
#include <deque>

// The probes a sender has out: their numbers, when each must be answered to count, and when the
// next goes out while a question stays open. Answers come in order, so the answer of one probe
// tells that the probes before it were lost. Invariant: the probes out are in the order they
// were sent, and their serials ascend.
class TProbes {
  public:
    static constexpr std::size_t kRemembered = 8;
    // The first later probe goes out this long after the one before, each further one after
    // twice the gap before it.
    static constexpr unsigned long kFirstGapMs = 100;
    static constexpr unsigned long kNoDeadline = ~0UL;

    struct TAnswered {
        std::uint64_t serial;
        // It came by the time it had to, to tell anything about what was sent before it.
        bool prompt;
    };

    // A number for the next probe, given the sender's current portion number and how many of
    // its portions may be out: none a portion had lately or has next, so that no peer takes the
    // probe for a portion of the stream (nor for the empty portion a peer sends when its link
    // reset dropped one); none of the last probes', so that a late answer is not read as the
    // new one's; and as many bits away as possible from the numbers of the portions that may be
    // out, so that no damaged answer to it is read as theirs.
    std::uint8_t ChooseNumber(std::uint8_t current, unsigned long window) const;
    // Records a probe sent, whose answer counts when it comes by promptByMs; its serial.
    std::uint64_t Sent(std::uint8_t number, unsigned long promptByMs);
    bool IsOut(std::uint8_t number) const;
    // Takes the answer of the probe out with that number, and forgets the ones before it.
    TAnswered Answer(std::uint8_t number, unsigned long nowMs);

    // Whether a later probe is due now; when one is, the one after it is planned.
    bool TakeLaterDue(unsigned long nowMs);
    // No question is open: no later probe is planned.
    void StopLater();
    // When the next later probe is due; kNoDeadline if none is planned.
    unsigned long NextLaterMs() const { return m_nextMs; }

  private:
    struct TProbeOut {
        std::uint8_t number;
        std::uint64_t serial;
        unsigned long promptByMs;
    };

    std::deque<TProbeOut> m_out;
    std::deque<std::uint8_t> m_numbersUsed;
    std::uint64_t m_serials = 0;
    unsigned long m_nextMs = kNoDeadline;
    unsigned long m_gapMs = kFirstGapMs;
};
