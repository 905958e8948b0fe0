// The probe: when the answer of a portion is overdue, the frame level asks the peer with an
// empty data frame, and sends the portion again only when the answer shows it was never read.
// The agent's frame level talks to a terminal on an in-memory line under the fake clock; the
// line drops or damages chosen frames, and each case checks what the terminal's application
// received, byte for byte, and how the agent's data ended.

#include <gtest/gtest.h>

#include <bit>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "base/Conversions.h"
#include "support/HexBytes.h"
#include "support/MemoryConnection.h"
#include "support/TerminalModel.h"
#include "support/TestSystem.h"
#include "tunnel/FrameLevel.h"
#include "tunnel/Probes.h"

namespace {

using TWire = std::vector<unsigned char>;

constexpr unsigned char kEnd = SLIP::END;
constexpr unsigned long kStepMs = 5;

// What the line does to one frame an end writes (each write is one frame).
struct TFault {
    enum Kind {
        Portion,      // the number-th data frame with data, repeats counted
        Probe,        // the number-th probe
        Answer,       // the ACK or NAK of portion number, both copies where ours sends two
        ProbeAnswer,  // the same of the number-th probe
    };
    enum Damage {
        Drop,      // lost whole, as only a cut of the line does
        TypeBits,  // two bits of its type damaged
        Ends,      // its opening END and the first END after it damaged
        DataBit,   // one bit of its data damaged
    };
    Kind kind;
    int number;
    Damage damage = Drop;
};
using TFaults = std::vector<TFault>;

bool IsDataFrame(const TWire& wire) {
    return wire.size() > 3 && wire[1] == TFrameHeader::kData;
}
bool IsProbeFrame(const TWire& wire) {
    return IsDataFrame(wire) && wire[3] == 0;
}

void Damage(TWire& wire, TFault::Damage damage) {
    switch (damage) {
        case TFault::Drop:
            wire.clear();
            break;
        case TFault::TypeBits:
            wire[1] ^= 0x60;
            break;
        case TFault::DataBit:
            wire[5] ^= 0x01;
            break;
        case TFault::Ends: {
            int ends = 0;
            for (unsigned char& byte : wire) {
                if (byte == kEnd && ends++ < 2) {
                    byte = 0x40;
                }
            }
            break;
        }
    }
}

// Counts the frames of one end by kind and applies the faults to the ones they name.
class TFaultyEnd {
  public:
    explicit TFaultyEnd(TFaults faults) : m_faults(std::move(faults)) {}

    void operator()(TWire& wire) {
        int number = 0;
        TFault::Kind kind = TFault::Answer;
        if (IsProbeFrame(wire)) {
            kind = TFault::Probe;
            number = ++m_probes;
        } else if (IsDataFrame(wire)) {
            kind = TFault::Portion;
            number = ++m_portions;
        } else if (wire.size() > 2 && wire[2] <= kPortions) {
            number = wire[2];
        } else if (wire.size() > 2) {
            kind = TFault::ProbeAnswer;
            if (wire[2] != m_lastProbeAnswered) {
                m_lastProbeAnswered = wire[2];
                ++m_probeAnswers;
            }
            number = m_probeAnswers;
        }
        for (std::size_t i = 0; i < m_faults.size(); ++i) {
            const TFault& fault = m_faults[i];
            if (fault.kind == kind && fault.number == number && m_hits[i]++ < kAnswerCopies) {
                Damage(wire, fault.damage);
            }
        }
    }

    static constexpr int kPortions = 3;
    // Our half sends each answer twice at once; later copies (its refreshes) go through.
    static constexpr int kAnswerCopies = 2;

  private:
    TFaults m_faults;
    std::vector<int> m_hits = std::vector<int>(m_faults.size());
    int m_portions = 0;
    int m_probes = 0;
    int m_probeAnswers = 0;
    unsigned char m_lastProbeAnswered = 0;
};

T_BinaryData Portion(int index) {
    T_BinaryData data;
    for (int i = 0; i < 40; ++i) {
        data.AddDirectBytes(static_cast<unsigned char>(index * 16 + i % 16), 1);
    }
    return data;
}

// The agent's frame level on end A; the terminal, the model or our own half, on end B.
class ProbeRig {
  public:
    ProbeRig(bool model, const TFaults& toTerminal, const TFaults& toAgent, bool streamMode)
        : m_agent(new SLIP(m_line.NewEnd(TMemoryLine::A))) {
        m_line.Switches(TMemoryLine::A).tap = TFaultyEnd(toTerminal);
        m_line.Switches(TMemoryLine::B).tap = TFaultyEnd(toAgent);
        m_agent.SetStreamMode(streamMode);
        if (model) {
            m_model = std::make_unique<TModelFrameLevel>(
                std::make_unique<TModelSlip>(
                    std::unique_ptr<IConnection>(m_line.NewEnd(TMemoryLine::B))),
                m_modelCounters);
        } else {
            m_ours = std::make_unique<TFrameLevel>(new SLIP(m_line.NewEnd(TMemoryLine::B)));
        }
    }

    TTestSystem system;
    TFrameLevel& Agent() { return m_agent; }

    // The terminal does not look at the line for this long from now.
    void PauseTerminal(unsigned long ms) { m_pausedUntil = m_now + ms; }
    // Steps both ends for a while.
    void Run(unsigned long ms) {
        for (unsigned long t = 0; t < ms; t += kStepMs) {
            system.Clock().Advance(kStepMs);
            m_now += kStepMs;
            m_agentReceived += m_agent.ReceiveData();
            if (m_now < m_pausedUntil) {
                continue;
            }
            // A terminal handles one frame per call; it calls a few times per step.
            for (int call = 0; call < 4; ++call) {
                if (m_model) {
                    const TModelBytes bytes = m_model->ReceiveData();
                    m_delivered +=
                        T_BinaryData(bytes.data(), static_cast<unsigned long>(bytes.size()));
                } else {
                    m_delivered += m_ours->ReceiveData();
                    m_breaks += m_ours->BreakFollows() ? 1 : 0;
                }
            }
        }
    }

    // The terminal's application hands data to its frame level.
    void TerminalSends(const T_BinaryData& data) {
        if (m_model) {
            m_model->SendData(TModelBytes(data.GetData(), data.GetData() + data.Length()));
        } else {
            m_ours->SendData(data);
        }
    }
    // What the agent received from the terminal so far.
    const T_BinaryData& AgentReceived() const { return m_agentReceived; }
    const T_BinaryData& Delivered() const { return m_delivered; }
    int Breaks() const { return m_breaks; }
    unsigned long Now() const { return m_now; }

    std::string Outcomes() {
        std::string text;
        while (const auto outcome = m_agent.TakeOutcome()) {
            text += (text.empty() ? "" : " ") + std::string(outcome->delivered ? "+" : "-") +
                    std::to_string(outcome->tag);
        }
        return text;
    }

  private:
    TMemoryLine m_line;
    TFrameLevel m_agent;
    TModelCounters m_modelCounters;
    std::unique_ptr<TModelFrameLevel> m_model;
    std::unique_ptr<TFrameLevel> m_ours;
    T_BinaryData m_delivered;
    T_BinaryData m_agentReceived;
    int m_breaks = 0;
    unsigned long m_now = 0;
    unsigned long m_pausedUntil = 0;
};

// Which portions the terminal's application holds, in order, and how each ended for the agent.
struct TResult {
    std::vector<int> delivered;
    const char* outcomes;
};

struct TProbeCase {
    const char* name;
    TFaults toTerminal;
    TFaults toAgent;
    // The terminal looks away from the line for this long once the second portion is out.
    unsigned long pauseMs;
    bool streamMode;
    // Against the terminal model, and whether the agent had to probe; against our own half,
    // whose polls and refreshes recover some losses before the agent asks.
    TResult model;
    bool probed;
    TResult ours;
};

const TResult kAll{{1, 2, 3}, "+1 +2 +3"};
const TResult kSecondGivenUp{{1, 3}, "+1 -2 +3"};

// Three portions of data that must never be delivered twice, one after the other (all at once in
// stream mode).
const TProbeCase kCases[] = {
    {"clean line", {}, {}, 0, false, kAll, false, kAll},
    {"portion dropped", {{TFault::Portion, 2}}, {}, 0, false, kAll, true, kAll},
    {"portion refused", {{TFault::Portion, 2, TFault::DataBit}}, {}, 0, false, kAll, false, kAll},
    {"portion with both ENDs damaged",
     {{TFault::Portion, 2, TFault::Ends}},
     {},
     0,
     false,
     kAll,
     true,
     kAll},
    {"ACK damaged beyond repair",
     {},
     {{TFault::Answer, 2, TFault::TypeBits}},
     0,
     false,
     kAll,
     true,
     kAll},
    {"ACK with both ENDs damaged",
     {},
     {{TFault::Answer, 2, TFault::Ends}},
     0,
     false,
     kAll,
     false,
     kAll},
    // A cut of the line that takes the ACK and the first probe: the question stays open, and
    // the portion is given up rather than delivered twice. Our half refreshes its ACK.
    {"ACK and the first probe cut off",
     {{TFault::Probe, 1}},
     {{TFault::Answer, 2}},
     0,
     false,
     {{1, 2, 3}, "+1 -2 +3"},
     true,
     kAll},
    // Only the first probe's prompt answer tells that the portion was never read. Our half
    // asks for a portion it lacks by itself.
    {"portion and the first probe dropped",
     {{TFault::Portion, 2}, {TFault::Probe, 1}},
     {},
     0,
     false,
     kSecondGivenUp,
     true,
     kAll},
    {"portion dropped and the probe's answer cut off",
     {{TFault::Portion, 2}},
     {{TFault::ProbeAnswer, 1}},
     0,
     false,
     kSecondGivenUp,
     true,
     kAll},
    {"terminal away for 3 s", {}, {}, 3000, false, kAll, true, kAll},
    {"terminal away for 3 s, portion dropped",
     {{TFault::Portion, 2}},
     {},
     3000,
     false,
     kSecondGivenUp,
     true,
     kSecondGivenUp},
    // Each portion holds whole packets of one connection, so the one sent again behind a newer
    // one puts no connection's bytes out of order.
    {"stream mode, portion dropped",
     {{TFault::Portion, 2}},
     {},
     0,
     true,
     {{1, 3, 2}, "+1 +3 +2"},
     true,
     {{1, 3, 2}, "+1 +3 +2"}},
    {"stream mode, ACK damaged",
     {},
     {{TFault::Answer, 2, TFault::TypeBits}},
     0,
     true,
     {{1, 2, 3}, "+1 +3 +2"},
     true,
     {{1, 2, 3}, "+1 +3 +2"}},
};

class ProbeTest : public ::testing::TestWithParam<bool> {};

TEST_P(ProbeTest, APortionGoesOutAgainOnlyWhenTheTerminalNeverReadIt) {
    const bool model = GetParam();
    for (const TProbeCase& c : kCases) {
        SCOPED_TRACE(c.name);
        ProbeRig rig(model, c.toTerminal, c.toAgent, c.streamMode);
        for (int portion = 1; portion <= 3; ++portion) {
            rig.Agent().SendData(Portion(portion),
                                 TPortionTerms{static_cast<std::uint64_t>(portion)});
            if (portion == 2) {
                rig.PauseTerminal(c.pauseMs);
            }
            if (!c.streamMode) {
                rig.Run(500);
            }
        }
        rig.Run(6000);
        const TResult& result = model ? c.model : c.ours;
        T_BinaryData expected;
        for (const int portion : result.delivered) {
            expected += Portion(portion);
        }
        EXPECT_EQ(rig.Delivered(), expected);
        EXPECT_EQ(rig.Outcomes(), result.outcomes);
        if (model) {
            EXPECT_EQ(rig.Agent().Counters().probesSent != 0, c.probed);
        } else if (!c.streamMode) {
            // A probe is no portion of the stream: only a portion given up breaks it.
            EXPECT_EQ(rig.Breaks(), result.delivered.size() == 3 ? 0 : 1);
        }
    }
}

// A reset read late undoes what the terminal began meanwhile: it goes out again only while the
// terminal has said nothing since.
TEST_P(ProbeTest, AResetThatWasNeverReadGoesOutAgainOnlyWhileTheTerminalSaidNothingSince) {
    TPortionTerms reset;
    reset.resetsPeer = true;
    for (const bool terminalSpoke : {false, true}) {
        SCOPED_TRACE(terminalSpoke ? "the terminal called meanwhile" : "the terminal was quiet");
        ProbeRig rig(GetParam(), {{TFault::Portion, 1}}, {}, false);
        rig.Agent().SendData(Portion(9), reset);
        if (terminalSpoke) {
            rig.TerminalSends(Portion(5));
        }
        rig.Run(6000);
        EXPECT_EQ(rig.AgentReceived(), terminalSpoke ? Portion(5) : T_BinaryData());
        EXPECT_EQ(rig.Delivered(), terminalSpoke ? T_BinaryData() : Portion(9));
        EXPECT_NE(rig.Agent().Counters().probesSent, 0u);
        // The probe came before anything else: our half takes it as nothing, so the reset that
        // follows it is no gap (a gap would close the connections the terminal opens).
        EXPECT_EQ(rig.Breaks(), 0);
    }
}

// The numbers of probes: never one a portion had lately or has next (a peer would take the probe
// for a portion of the stream, or for the empty portion of a link reset), never one of the last
// probes' (a late answer would be read as the new one's), and at least three bits away from the
// numbers of the portions that may be out (a damaged answer would be read as theirs).
TEST(ProbeNumbersTest, StayClearOfThePortionsAndOfTheLastProbes) {
    constexpr unsigned long kWindow = TFrameSender::kStreamWindow;
    for (unsigned current = 0; current < 256; ++current) {
        TProbes probes;
        std::vector<std::uint8_t> used;
        for (int probe = 0; probe < 20; ++probe) {
            const std::uint8_t number =
                probes.ChooseNumber(static_cast<std::uint8_t>(current), kWindow);
            const auto back = static_cast<std::uint8_t>(current - number);
            ASSERT_GT(back, 2 * kWindow) << current;
            ASSERT_NE(number, static_cast<std::uint8_t>(current + 1)) << current;
            for (std::size_t last =
                     used.size() > TProbes::kRemembered ? used.size() - TProbes::kRemembered : 0;
                 last < used.size(); ++last) {
                ASSERT_NE(number, used[last]) << current;
            }
            for (unsigned long out = 0; out <= kWindow; ++out) {
                const unsigned bits = static_cast<unsigned>(std::popcount(
                    static_cast<unsigned>(number ^ static_cast<std::uint8_t>(current - out))));
                ASSERT_GE(bits, 3u) << current;
            }
            used.push_back(number);
            static_cast<void>(probes.Sent(number, 0));
        }
    }
}

INSTANTIATE_TEST_SUITE_P(Terminals, ProbeTest, ::testing::Values(true, false),
                         [](const auto& info) { return info.param ? "Model" : "Ours"; });

}  // namespace
