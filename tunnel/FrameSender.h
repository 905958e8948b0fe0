#pragma once

#include <cstdint>
#include <deque>
#include <optional>

#include "base/BinaryData.h"
#include "tunnel/AnswerReader.h"
#include "tunnel/DamagedAnswers.h"
#include "tunnel/FrameOptions.h"
#include "tunnel/FrameWriter.h"
#include "tunnel/PortionTerms.h"
#include "tunnel/Probes.h"
#include "tunnel/TunnelCounters.h"

// The sending half of the frame level: portions out, their terms and answers, the repair of
// damaged answers, and the probes that ask whether the peer read a portion whose answer is
// overdue. Invariant: every portion out has been transmitted, oldest first, and carries the
// number it went out under; one at most outside stream mode.
//
// A peer answers every data frame it reads, ACK or NAK, in the order they arrived, and a data
// frame without data delivers nothing. So when a portion's answer is overdue, a probe (an empty
// data frame under a number that is no portion's) is sent, and the answer to it tells:
// - the portion's answer came first: the portion was taken, or refused;
// - only frames read whole came before the probe's answer, and the probe was answered in time:
//   the peer never read the portion, which goes out again under its own number;
// - frames that could not be read came before it: they are read as the portion's ACK or NAK if
//   they are close to one and far from the other; otherwise the question stays open.
// An open question, or a probe answered late (a cut of the line may have swallowed the
// portion's answer and the probe with it), is settled only by the portion's own answer; a
// portion that stays unanswered ends as it would without the probe.
class TFrameSender {
  public:
    static constexpr unsigned long kPortionSize = 255;
    // How long a portion that may be repeated waits for its answer before it goes out again.
    static constexpr unsigned long kFrameTimeoutMs = 2000;
    // How long a portion that is never repeated waits for its answer before its data is given
    // up: waiting costs no line time, and a peer may not look at the line for seconds.
    static constexpr unsigned long kUnrepeatedTimeoutMs = 4000;
    // Enough that a portion gets through a line with one bit in ten thousand wrong (where
    // about one frame in five is damaged), and a silent peer is given up after 16 s.
    static constexpr std::uint8_t kTransmissionsPerPortion = 8;
    // Unanswered portions out at once in stream mode: a few portions' line time, so a loop
    // that sends is never held up for long by a line that cannot take more.
    static constexpr unsigned long kStreamWindow = 4;
    // How long an answer may take once the frame it answers has left: the peer may be writing a
    // frame of its own first (about 23 ms for the longest) and looks at the line every few ms.
    static constexpr unsigned long kAnswerAllowanceMs = 60;
    static constexpr unsigned long kNoDeadline = ~0UL;

    // writer, counters and the options must outlive the sender.
    TFrameSender(TFrameWriter& writer, const TFrameOptions& options, TTunnelCounters& counters);

    // Queues data as portions of its own and sends the next portion when nothing is
    // outstanding (or always, in stream mode).
    void Queue(const T_BinaryData& data, TPortionTerms terms);
    // Reads a frame that is no data frame as an answer. False when it could not be read; it is
    // then kept as a possible damaged answer of the portions out.
    bool TakeAnswer(const T_BinaryData& frame);
    // Whether a whole answer that waits for its closing END should be taken now.
    bool ExpectsAnswer(const TFrameHeader& header) const;
    // The peer's data was accepted: a reset still out may no longer go out again.
    void PeerSentData();
    // Deals with portions whose answer is overdue: probes, repeats and losses.
    void CheckOverdue();
    bool IsReadyForPortion() const;
    bool HasOutstanding() const { return !m_inFlight.empty() || !m_sendQueue.empty(); }
    std::optional<TPortionOutcome> TakeOutcome();
    // Time until the next probe, repeat or loss is due; kNoDeadline if none is.
    unsigned long MillisecondsToNextDeadline() const;
    void SetStreamMode(bool on) { m_streamMode = on; }
    // Link state: down after a reset, until the peer acknowledges the current portion or data
    // arrives.
    bool IsLinkDown() const { return m_linkDown; }
    void MarkLinkUp() { m_linkDown = false; }
    void ResetLink();
    void DropOutgoing();

  private:
    struct TQueuedPortion {
        T_BinaryData data;
        TPortionTerms terms;
        // The last portion of its Queue call: its acknowledgement delivers the call's data.
        bool endsData;
    };
    // The question whether the peer read a portion, since its last transmission.
    struct TQuestion {
        // The first probe sent after the transmission; 0 while none was.
        std::uint64_t askedBy = 0;
        // The answers to probes can no longer settle it.
        bool open = false;
        // Frames that could not be read since the transmission.
        TDamagedAnswers unreadable;
    };
    struct TPortionOut {
        TQueuedPortion portion;
        std::uint8_t sequence;
        std::uint8_t transmissionsLeft;
        // Times on the writer's clock, of the last transmission.
        unsigned long sentMs = 0;
        unsigned long answerDueMs = 0;
        TQuestion question;
        // Data came from the peer since its first transmission.
        bool peerSpokeSince = false;
    };

    // What ReadPortionAnswer must know of the portions out.
    TAnswerContext AnswerContext() const;
    // A whole answer to a probe out, at the front or behind a damaged END.
    std::optional<std::uint8_t> ReadProbeAnswer(const T_BinaryData& frame) const;
    bool AnswersPortionOut(const TFrameHeader& header) const;
    void ProcessAck(std::uint8_t sequence);
    void ProcessNak(std::uint8_t sequence);
    void ProcessProbeAnswer(std::uint8_t number);
    // Answers come in order: the portions before index lost theirs, or were never read. Without
    // probes they are given up; with them, asked about at once. Returns where the portion at
    // index stands now.
    std::size_t MissedAnswersBefore(std::size_t index);
    void SendProbeIfDue();
    void SendProbe();
    bool ProbesOn() const { return m_options.probeUnanswered; }
    unsigned long TimeoutMs(const TPortionOut& out) const;
    void SendNextDataPortion();
    void Transmit(TPortionOut& out);
    // Sends a refused or unread portion again, or gives it up when it has no transmission left.
    void Repeat(std::size_t index);
    // Gives up the data of the portion out at index, with whatever of it is still queued.
    void LosePortion(std::size_t index);
    void Report(const TPortionTerms& terms, bool delivered);
    // Gives up everything outgoing and resets the link, on the layer's own account.
    void GiveUpOutgoing();

    TFrameWriter& m_writer;
    const TFrameOptions& m_options;
    TTunnelCounters& m_counters;
    std::uint8_t m_sequence = 0;
    bool m_linkDown = false;
    bool m_streamMode = false;
    // Portions not yet sent, in order.
    std::deque<TQueuedPortion> m_sendQueue;
    // Portions sent and not yet answered, oldest first.
    std::deque<TPortionOut> m_inFlight;
    std::deque<TPortionOutcome> m_outcomes;
    TProbes m_probes;
};
