#include <cstdint>
#include <cstdio>
#include <map>
#include <memory>
#include <set>
#include <utility>
#include <vector>

#include "LogDecoders.h"
#include "PacketText.h"
#include "base/Conversions.h"
#include "tunnel/FrameLevel.h"
#include "tunnel/SerialPacket.h"
#include "tunnel/SlipDecoder.h"

namespace {

using TLayer = TEvent::TLayer;

std::string Seq(unsigned seq) {
    return "seq " + std::to_string(seq);
}

// How a direction of the line reads in a sentence.
std::string Way(char mark) {
    return mark == '>' ? "sent" : "received";
}

// The socket ids of the tunnel, from their CALL or LISTEN to their end.
class TTunnelSockets {
  public:
    TTunnelSockets(TEventSink& sink, std::vector<TConnectionSummary>& ended)
        : m_sink(sink), m_ended(ended) {}

    void Packet(const TStamp& stamp, const TSerialPacket& packet) {
        const std::uint32_t id = static_cast<std::uint32_t>(packet.GetSocketID());
        const std::string name = "#" + std::to_string(id);
        switch (packet.GetActionType()) {
            case ACTION_CALL:
            case ACTION_LISTEN: {
                End(stamp, id, "replaced by a new request with the same id");
                const bool calling = packet.GetActionType() == ACTION_CALL;
                const std::string target =
                    calling
                        ? "CALL " + DottedAddress(static_cast<std::uint32_t>(packet.GetIpAddr())) +
                              ":" + std::to_string(packet.GetPort())
                        : "LISTEN port " + std::to_string(packet.GetPort());
                Open(stamp, id, target);
                break;
            }
            case ACTION_CONNECTED:
            case ACTION_CALL_RESULT:
                if (packet.GetError() != 0) {
                    m_sink.Problem(stamp, name + " failed: " + ErrorMeaning(packet.GetError()));
                    End(stamp, id, "failed: " + ErrorMeaning(packet.GetError()));
                } else {
                    Touch(stamp, id).up = true;
                }
                break;
            case ACTION_DATA_OUT:
                Touch(stamp, id).summary.bytesOut += packet.GetData().Length();
                break;
            case ACTION_DATA_IN:
                Touch(stamp, id).summary.bytesIn += packet.GetData().Length();
                break;
            case ACTION_CLOSED:
                Closed(stamp, id, name);
                break;
            case ACTION_CLOSE:
                End(stamp, id, "closed by the terminal (CLOSE)");
                break;
            case ACTION_RESET:
                // Every new stack starts with a reset, which finds nothing
                // open: only a reset that drops open connections is a problem.
                if (m_open.empty()) {
                    m_sink.Add(stamp, ' ', TLayer::Log, "a tunnel starts: RESET with nothing open");
                } else {
                    m_sink.Problem(stamp, "RESET drops " + OpenNames() + " while still open");
                }
                EndAll(stamp, "dropped by RESET");
                break;
            default:
                m_sink.Problem(stamp, "a packet with unknown action " +
                                          std::to_string(packet.GetActionType()) + " for " + name +
                                          " is ignored");
                break;
        }
    }

    void EndAll(const TStamp& stamp, const std::string& ending) {
        while (!m_open.empty()) {
            End(stamp, m_open.begin()->first, ending);
        }
    }

    // What is still open where the log ends.
    void Finish() {
        while (!m_open.empty()) {
            const TConnectionSummary& summary = m_open.begin()->second.summary;
            m_sink.Problem(summary.last,
                           summary.name + " never closed (still open where the log ends)");
            End(summary.last, m_open.begin()->first, "never closed");
        }
    }

  private:
    // "#1, #3" of the open socket ids.
    std::string OpenNames() const {
        std::string names;
        for (const auto& [id, open] : m_open) {
            names += (names.empty() ? "" : ", ") + open.summary.name;
        }
        return names;
    }

    struct TOpen {
        TConnectionSummary summary;
        bool up = false;  // answered by CALL_RESULT ok or CONNECTED
    };

    TOpen& Open(const TStamp& stamp, std::uint32_t id, const std::string& target) {
        TOpen& open = m_open[id];
        open.summary = TConnectionSummary{
            m_sink.Source(), "#" + std::to_string(id), target, stamp, stamp, 0, 0, ""};
        return open;
    }

    // The open socket id, or one whose request lies before the log's start.
    TOpen& Touch(const TStamp& stamp, std::uint32_t id) {
        const auto found = m_open.find(id);
        if (found == m_open.end()) {
            TOpen& open = Open(stamp, id, "(requested before the log starts)");
            open.up = true;
            return open;
        }
        found->second.summary.last = stamp;
        return found->second;
    }

    void Closed(const TStamp& stamp, std::uint32_t id, const std::string& name) {
        const auto found = m_open.find(id);
        if (found == m_open.end()) {
            m_sink.Problem(stamp, "CLOSED for " + name + ", which is not open");
        } else if (!found->second.up) {
            m_sink.Problem(stamp, name + " failed: closed before it was connected");
            End(stamp, id, "failed: closed before it was connected");
        } else {
            End(stamp, id, "closed from the network side (CLOSED)");
        }
    }

    void End(const TStamp& stamp, std::uint32_t id, const std::string& ending) {
        const auto found = m_open.find(id);
        if (found == m_open.end()) {
            return;
        }
        TConnectionSummary summary = found->second.summary;
        summary.last = stamp;
        summary.ending = ending;
        m_ended.push_back(summary);
        m_open.erase(found);
    }

    TEventSink& m_sink;
    std::vector<TConnectionSummary>& m_ended;
    std::map<std::uint32_t, TOpen> m_open;
};

// The frames of one direction of the line and the packets in their data.
struct TDirection {
    explicit TDirection(char directionMark) : mark(directionMark) {}

    char mark;
    TSlipDecoder slip;
    T_BinaryData packets;  // delivered data not yet forming a whole packet
    // The last data frame, to recognise its retransmission.
    bool haveLast = false;
    std::uint8_t lastSeq = 0;
    T_BinaryData lastData;
    bool lastGood = false;
    bool lastDelivered = false;
    int lastNaks = 0;
    // The last data frame with a good CRC, to find gaps in the numbering.
    bool haveGood = false;
    std::uint8_t lastGoodSeq = 0;
    // The number of the last data frame with data: the current portion.
    bool havePortion = false;
    std::uint8_t portionSeq = 0;
    // The last frame was an ACK of this number (to tell a doubled ACK).
    bool lastWasAck = false;
    std::uint8_t lastAckSeq = 0;
    // Numbers this side has acknowledged (to tell a refreshed ACK).
    std::set<std::uint8_t> acknowledged;
    std::map<std::uint8_t, TStamp> unanswered;  // data frames by sequence number
};

// One opening of the serial port: both directions from scratch.
class TLineSession {
  public:
    TLineSession(TEventSink& sink, TTunnelSockets& sockets) : m_sink(sink), m_sockets(sockets) {}

    void Bytes(const TStamp& stamp, bool sent, const T_BinaryData& bytes) {
        TDirection& direction = sent ? m_sent : m_received;
        for (unsigned long i = 0; i < bytes.Length(); ++i) {
            if (direction.slip.Feed(bytes[i])) {
                Frame(stamp, direction, sent ? m_received : m_sent, direction.slip.TakeFrame());
            }
        }
        if (const unsigned long dropped = direction.slip.TakeDroppedCount()) {
            m_sink.Problem(stamp, std::to_string(dropped) + " " + Way(direction.mark) +
                                      " bytes outside any frame are ignored");
        }
    }

    // Reports what the session leaves unfinished.
    void End(const TStamp& stamp) {
        for (TDirection* direction : {&m_sent, &m_received}) {
            const std::string way = Way(direction->mark);
            for (const auto& [seq, at] : direction->unanswered) {
                m_sink.Problem(stamp, "DATA " + Seq(seq) + " " + way + " at " + at.Text() +
                                          " was never answered");
            }
            // An END after a frame's closing END opens nothing worth telling: the agent
            // ends every frame with END END.
            if (direction->slip.InFrame() && direction->slip.Collected().Length() != 0) {
                m_sink.Problem(stamp, "a " + way + " frame was never completed");
            }
            if (direction->packets.Length() != 0) {
                m_sink.Problem(stamp, std::to_string(direction->packets.Length()) + " " + way +
                                          " bytes of an incomplete packet are left");
            }
        }
    }

  private:
    void Frame(const TStamp& stamp, TDirection& direction, TDirection& answered,
               const T_BinaryData& frame) {
        const unsigned long length = frame.Length() >= TFrameHeader::kSize ? frame[2] : 0;
        if (frame.Length() < length + TFrameHeader::kSize + 2) {
            m_sink.Add(stamp, direction.mark, TLayer::Frame,
                       "frame of " + std::to_string(frame.Length()) + " bytes");
            m_sink.Problem(stamp, "a frame too short for its header and CRC is dropped");
            return;
        }
        const std::uint8_t type = frame[0];
        const std::uint8_t seq = frame[1];
        const bool followsData = std::exchange(m_lastDataFrom, nullptr) == &direction;
        const unsigned long checked = TFrameHeader::kSize + length;
        const bool good =
            CountCrc(frame.GetData(), checked) == MSB_TO_WORD(frame.GetData() + checked);
        const T_BinaryData data(frame.GetDataRef(), TFrameHeader::kSize, length);
        switch (type) {
            case TFrameHeader::kData:
                // An ACK of this frame is a first answer, never a refresh.
                answered.acknowledged.erase(seq);
                DataFrame(stamp, direction, seq, data, good, followsData);
                return;
            case TFrameHeader::kAck:
            case TFrameHeader::kNak:
                Answer(stamp, direction, answered, type == TFrameHeader::kAck, seq, good);
                return;
            default: {
                char text[64];
                std::snprintf(text, sizeof text, "a frame of unknown type 0x%02X is ignored", type);
                m_sink.Add(stamp, direction.mark, TLayer::Frame,
                           "frame type " + std::to_string(type));
                m_sink.Problem(stamp, text);
                return;
            }
        }
    }

    // The log's owner is the agent: what it sent ('>') is its side.
    static bool IsAgent(const TDirection& direction) { return direction.mark == '>'; }

    // An empty data frame: a probe (under a number that is neither the
    // sender's current portion's nor the next; the agent and our own half of
    // the tunnel send them), or the terminal's empty portion, under its
    // current number its answer to a NAK when it had nothing out, under the
    // next one the sign that its link reset dropped that portion. None of them
    // carries data. True when the frame was one of them and has been told.
    bool EmptyPortion(const TStamp& stamp, TDirection& direction, std::uint8_t seq,
                      const T_BinaryData& data, bool good) {
        if (!good || data.Length() != 0 || !direction.havePortion) {
            return false;
        }
        const bool current = seq == direction.portionSeq;
        const bool next = seq == static_cast<std::uint8_t>(direction.portionSeq + 1);
        if (!current && !next) {
            m_sink.Add(stamp, direction.mark, TLayer::Frame,
                       "DATA " + Seq(seq) + ", 0 bytes, CRC ok, probe");
            m_sink.Measure(stamp, "probe",
                           "DATA " + Seq(seq) + " without data asks for an overdue answer");
            return true;
        }
        if (IsAgent(direction)) {
            return false;
        }
        m_sink.Add(stamp, direction.mark, TLayer::Frame,
                   "DATA " + Seq(seq) + ", 0 bytes, CRC ok, " +
                       (current ? "nothing was out" : "an empty portion"));
        if (next) {
            m_sink.Problem(stamp, "DATA " + Seq(seq) +
                                      " without data: the terminal's link reset dropped its "
                                      "portion and what was queued behind it");
            direction.haveGood = true;
            direction.lastGoodSeq = seq;
        }
        direction.unanswered[seq] = stamp;
        return true;
    }

    // followsData: the frame before it on the line was this direction's last data frame.
    void DataFrame(const TStamp& stamp, TDirection& direction, std::uint8_t seq,
                   const T_BinaryData& data, bool good, bool followsData) {
        direction.lastWasAck = false;
        if (EmptyPortion(stamp, direction, seq, data, good)) {
            return;
        }
        m_lastDataFrom = &direction;
        const bool retransmission = direction.haveLast && direction.lastSeq == seq &&
                                    (!direction.lastGood || direction.lastData == data);
        m_sink.Add(stamp, direction.mark, TLayer::Frame,
                   "DATA " + Seq(seq) + ", " + std::to_string(data.Length()) + " bytes, CRC " +
                       (good ? "ok" : "BAD") + (retransmission ? ", retransmitted" : ""));
        if (!good) {
            m_sink.Problem(stamp, "bad CRC on DATA " + Seq(seq) + ": its data is dropped");
        }
        // A copy right behind the first is a doubled notice; one after a NAK or a probe
        // answers a portion that was refused or never read.
        if (retransmission && IsAgent(direction) && followsData && direction.lastData == data) {
            m_sink.Measure(stamp, "doubled notice", "DATA " + Seq(seq) + " goes out twice");
        } else if (retransmission && !IsAgent(direction)) {
            // The terminal never sends again by itself: this answers a NAK of the agent.
        } else if (retransmission) {
            m_sink.Problem(stamp, "DATA " + Seq(seq) + " is sent again");
        } else {
            direction.lastNaks = 0;
            direction.lastDelivered = false;
            if (good && direction.haveGood &&
                seq != static_cast<std::uint8_t>(direction.lastGoodSeq + 1)) {
                m_sink.Problem(
                    stamp, "sequence gap: " + Seq(seq) + " follows " + Seq(direction.lastGoodSeq));
            }
        }
        const bool deliver = good && !(retransmission && direction.lastDelivered);
        direction.haveLast = true;
        direction.lastSeq = seq;
        direction.lastData = data;
        direction.lastGood = good;
        direction.lastDelivered = direction.lastDelivered || deliver;
        if (good) {
            direction.haveGood = true;
            direction.lastGoodSeq = seq;
        }
        if (good && data.Length() != 0) {
            direction.havePortion = true;
            direction.portionSeq = seq;
        }
        direction.unanswered[seq] = stamp;
        if (deliver) {
            direction.packets += data;
            Packets(stamp, direction);
        }
    }

    void Answer(const TStamp& stamp, TDirection& direction, TDirection& answered, bool ack,
                std::uint8_t seq, bool good) {
        m_sink.Add(stamp, direction.mark, TLayer::Frame,
                   std::string(ack ? "ACK " : "NAK ") + Seq(seq) + (good ? "" : ", CRC BAD"));
        answered.unanswered.erase(seq);
        const bool doubled = direction.lastWasAck && direction.lastAckSeq == seq;
        direction.lastWasAck = ack;
        direction.lastAckSeq = seq;
        if (ack) {
            if (IsAgent(direction) && doubled) {
                m_sink.Measure(stamp, "doubled ACK", "ACK " + Seq(seq) + " goes out twice");
            } else if (IsAgent(direction) && direction.acknowledged.contains(seq)) {
                m_sink.Measure(stamp, "ACK refresh", "ACK " + Seq(seq) + " once more");
            }
            direction.acknowledged.insert(seq);
            return;
        }
        direction.acknowledged.erase(seq);
        if (IsAgent(direction)) {
            // A damaged copy of that portion came last: the damage is the problem, this
            // its refusal. Otherwise the agent asks for a portion that may be lost whole.
            if (answered.haveLast && answered.lastSeq == seq && !answered.lastGood) {
                m_sink.Measure(stamp, "refusal", "NAK " + Seq(seq) + " refuses a damaged copy");
            } else {
                m_sink.Measure(stamp, "poll", "NAK " + Seq(seq) + " asks for a portion lost whole");
            }
        } else {
            m_sink.Problem(stamp, "NAK for DATA " + Seq(seq) + ": its receiver found a bad CRC");
        }
        if (answered.haveLast && answered.lastSeq == seq && ++answered.lastNaks == 3) {
            m_sink.Problem(stamp, "third NAK for " + Seq(seq) +
                                      ": the sender resets the link and drops its queued data");
        }
    }

    void Packets(const TStamp& stamp, TDirection& direction) {
        for (;;) {
            const unsigned long before = direction.packets.Length();
            const unsigned long announced =
                before >= 2 ? MSB_TO_WORD(direction.packets.GetData()) : 0;
            const TSerialPacket packet(direction.packets);
            if (direction.packets.Length() == before) {
                return;
            }
            if (packet.GetActionType() == 0) {
                m_sink.Problem(stamp, "a packet of length " + std::to_string(announced) +
                                          ", too short for an action, is dropped");
                continue;
            }
            m_sink.Add(stamp, direction.mark, TLayer::Packet, DescribePacket(packet));
            m_sockets.Packet(stamp, packet);
        }
    }

    TEventSink& m_sink;
    TTunnelSockets& m_sockets;
    // The direction whose data frame was the line's last frame, if one was.
    const TDirection* m_lastDataFrom = nullptr;
    TDirection m_sent{'>'};
    TDirection m_received{'<'};
};

}  // namespace

TFileDecode DecodeLineLog(const std::string& source, const TCommLog& log) {
    TEventSink sink(source);
    TFileDecode result;
    TTunnelSockets sockets(sink, result.connections);
    std::unique_ptr<TLineSession> session = std::make_unique<TLineSession>(sink, sockets);
    bool portOpen = false;
    TStamp last;
    for (const TLogEntry& entry : log.entries) {
        last = entry.stamp;
        switch (entry.kind) {
            case TLogEntry::TKind::Connected:
                if (portOpen) {
                    session->End(entry.stamp);
                    sink.Problem(entry.stamp,
                                 "the port is opened again without being closed: the program "
                                 "before ended abruptly");
                    sockets.EndAll(entry.stamp, "lost when the program ended abruptly");
                }
                session = std::make_unique<TLineSession>(sink, sockets);
                portOpen = true;
                sink.Add(entry.stamp, ' ', TLayer::Log, "port opened");
                break;
            case TLogEntry::TKind::Disconnected:
                sink.Add(entry.stamp, ' ', TLayer::Log, "port closed");
                session->End(entry.stamp);
                sockets.EndAll(entry.stamp, "dropped when the port was closed");
                session = std::make_unique<TLineSession>(sink, sockets);
                portOpen = false;
                break;
            case TLogEntry::TKind::Sent:
            case TLogEntry::TKind::Received:
                session->Bytes(entry.stamp, entry.kind == TLogEntry::TKind::Sent, entry.bytes);
                break;
            case TLogEntry::TKind::Error:
                sink.Add(entry.stamp, ' ', TLayer::Log, "Error " + entry.text);
                sink.Problem(entry.stamp, "the serial port reported an error");
                break;
            case TLogEntry::TKind::Other:
                sink.Add(entry.stamp, ' ', TLayer::Log, entry.text);
                break;
        }
    }
    session->End(last);
    sockets.Finish();
    result.events = sink.Take();
    return result;
}
