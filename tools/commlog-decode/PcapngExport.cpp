#include "PcapngExport.h"

#include <algorithm>
#include <cstdio>
#include <ctime>
#include <deque>
#include <map>
#include <memory>
#include <optional>

#include "CommLogReader.h"
#include "log/TcpConversation.h"
#include "log/TunnelCapture.h"
#include "tunnel/LineCutter.h"
#include "tunnel/SerialPacket.h"

namespace {

using TEndpoint = TTcpConversation::TEndpoint;
using TSide = TTcpConversation::TSide;

constexpr std::uint32_t kOtherLocalAddress = 0xC0000201;  // 192.0.2.1, for documentation
constexpr std::uint16_t kFirstLocalPort = 40000;

// One block of the capture, waiting for its time.
struct TRecord {
    TStamp stamp;
    // What the block needs to be built once its time is known.
    bool line = false;
    tunnelcapture::TLineDirection direction{};
    tunnelcapture::TLineKind kind{};
    bool outbound = false;
    std::vector<std::uint8_t> bytes;
};

// The peers that the terminal's packets name, in the order the connections came about.
struct TTunnelPeers {
    std::deque<TEndpoint> calls;        // calls the agent reported connected
    std::deque<std::uint16_t> listens;  // listening ports that accepted a peer
};

// Follows the tunnel packets of one direction of the serial log. Data frames whose number and
// data repeat the last one are not delivered twice.
class TPacketStream {
  public:
    template <typename OnPacket>
    void Frame(const T_BinaryData& frame, OnPacket onPacket) {
        const unsigned char* bytes = frame.GetData();
        if (frame.Length() < 6 || bytes[0] != 0x41 || frame.Length() < bytes[2] + 5u ||
            bytes[2] == 0) {
            return;
        }
        const T_BinaryData data = frame.Copy(3, bytes[2]);
        if (m_last && bytes[1] == *m_last && data == m_lastData) {
            return;
        }
        m_last = bytes[1];
        m_lastData = data;
        m_stream += data;
        for (;;) {
            TSerialPacket packet(m_stream);
            if (packet.GetActionType() == 0) {
                return;
            }
            onPacket(packet);
        }
    }

  private:
    std::optional<unsigned char> m_last;
    T_BinaryData m_lastData;
    T_BinaryData m_stream;
};

void AddLineRecord(std::vector<TRecord>& records, const TStamp& stamp,
                   tunnelcapture::TLineDirection direction, TLineCutter::TKind kind,
                   const T_BinaryData& bytes) {
    TRecord record;
    record.stamp = stamp;
    record.line = true;
    record.direction = direction;
    record.kind = kind == TLineCutter::TKind::Frame ? tunnelcapture::TLineKind::Frame
                                                    : tunnelcapture::TLineKind::Garbage;
    record.bytes.assign(bytes.GetData(), bytes.GetData() + bytes.Length());
    records.push_back(std::move(record));
}

// The serial log's records, and the peers its packets name.
std::vector<TRecord> LineRecords(const TCommLog& log, TTunnelPeers& peers) {
    std::vector<TRecord> records;
    std::map<std::uint32_t, TEndpoint> calling;  // by socket id
    std::map<std::uint32_t, std::uint16_t> listening;
    TPacketStream fromTerminal;
    TPacketStream toTerminal;
    const TStamp* stamp = nullptr;
    auto cutter = [&](tunnelcapture::TLineDirection direction) {
        return TLineCutter([&records, &stamp, direction, &fromTerminal, &toTerminal, &calling,
                            &listening,
                            &peers](TLineCutter::TKind kind, const T_BinaryData& bytes) {
            AddLineRecord(records, *stamp, direction, kind, bytes);
            if (kind != TLineCutter::TKind::Frame) {
                return;
            }
            if (direction == tunnelcapture::TLineDirection::FromTerminal) {
                fromTerminal.Frame(bytes, [&](const TSerialPacket& packet) {
                    if (packet.GetActionType() == ACTION_CALL) {
                        calling[static_cast<std::uint32_t>(packet.GetSocketID())] = TEndpoint{
                            static_cast<std::uint32_t>(packet.GetIpAddr()), packet.GetPort()};
                    } else if (packet.GetActionType() == ACTION_LISTEN) {
                        listening[static_cast<std::uint32_t>(packet.GetSocketID())] =
                            packet.GetPort();
                    }
                });
            } else {
                toTerminal.Frame(bytes, [&](const TSerialPacket& packet) {
                    const auto id = static_cast<std::uint32_t>(packet.GetSocketID());
                    if (packet.GetActionType() == ACTION_CALL_RESULT && packet.GetError() == 0 &&
                        calling.contains(id)) {
                        peers.calls.push_back(calling[id]);
                        calling.erase(id);
                    } else if (packet.GetActionType() == ACTION_CONNECTED &&
                               listening.contains(id)) {
                        peers.listens.push_back(listening[id]);
                        listening.erase(id);
                    }
                });
            }
        });
    };
    TLineCutter received = cutter(tunnelcapture::TLineDirection::FromTerminal);
    TLineCutter sent = cutter(tunnelcapture::TLineDirection::ToTerminal);
    for (const TLogEntry& entry : log.entries) {
        stamp = &entry.stamp;
        if (entry.kind == TLogEntry::TKind::Sent) {
            sent.Feed(entry.bytes.GetData(), entry.bytes.Length());
        } else if (entry.kind == TLogEntry::TKind::Received) {
            received.Feed(entry.bytes.GetData(), entry.bytes.Length());
        }
    }
    return records;
}

// An IPv4 address in dotted text, or nothing.
std::optional<std::uint32_t> DottedAddress(const std::string& text) {
    unsigned a = 0, b = 0, c = 0, d = 0;
    char rest = 0;
    if (std::sscanf(text.c_str(), "%u.%u.%u.%u%c", &a, &b, &c, &d, &rest) != 4 || a > 255 ||
        b > 255 || c > 255 || d > 255) {
        return std::nullopt;
    }
    return a << 24 | b << 16 | c << 8 | d;
}

TEndpoint LocalFor(std::uint32_t peer, std::uint16_t port) {
    return TEndpoint{(peer >> 24) == 127 ? peer : kOtherLocalAddress, port};
}

// A socket log's connections as TCP conversations.
std::vector<TRecord> SocketRecords(const TCommLog& log, TTunnelPeers& peers,
                                   std::uint16_t& nextLocalPort) {
    std::vector<TRecord> records;
    std::unique_ptr<TTcpConversation> conversation;
    TSide agent = TSide::Client;
    const TStamp* stamp = nullptr;
    auto sink = [&records, &stamp, &agent](TSide from, const std::vector<std::uint8_t>& packet) {
        TRecord record;
        record.stamp = *stamp;
        record.outbound = from == agent;
        record.bytes = packet;
        records.push_back(std::move(record));
    };
    auto start = [&](TEndpoint client, TEndpoint server, TSide agentSide) {
        agent = agentSide;
        conversation = std::make_unique<TTcpConversation>(
            client, server, static_cast<std::uint32_t>(nextLocalPort) << 16, sink);
    };
    for (const TLogEntry& entry : log.entries) {
        stamp = &entry.stamp;
        switch (entry.kind) {
            case TLogEntry::TKind::Connected: {
                const std::uint16_t localPort = nextLocalPort++;
                if (const auto peer = DottedAddress(entry.text)) {
                    std::uint16_t port = 0;
                    if (!peers.listens.empty()) {
                        port = peers.listens.front();
                        peers.listens.pop_front();
                    }
                    start(TEndpoint{*peer, localPort}, LocalFor(*peer, port), TSide::Server);
                } else {
                    TEndpoint callee{kOtherLocalAddress, 0};
                    if (!peers.calls.empty()) {
                        callee = peers.calls.front();
                        peers.calls.pop_front();
                    }
                    start(LocalFor(callee.address, localPort), callee, TSide::Client);
                }
                conversation->Open();
                break;
            }
            case TLogEntry::TKind::Sent:
            case TLogEntry::TKind::Received:
                if (conversation) {
                    const TSide from =
                        entry.kind == TLogEntry::TKind::Sent
                            ? agent
                            : (agent == TSide::Client ? TSide::Server : TSide::Client);
                    conversation->Data(from, entry.bytes.GetData(), entry.bytes.Length());
                }
                break;
            case TLogEntry::TKind::Error:
                // An error while connected is a broken connection; before, a failed call,
                // whose peer the log does not know.
                if (conversation) {
                    conversation->Reset(agent == TSide::Client ? TSide::Server : TSide::Client);
                    conversation.reset();
                }
                break;
            case TLogEntry::TKind::Disconnected:
                if (conversation) {
                    conversation->Close(agent);
                    conversation->Close(agent == TSide::Client ? TSide::Server : TSide::Client);
                    conversation.reset();
                }
                break;
            case TLogEntry::TKind::Other:
                break;
        }
    }
    return records;
}

// Midnight of 1 January of the current year, in seconds since 1970, UTC.
std::int64_t StartOfThisYear() {
    const std::time_t now = std::time(nullptr);
    std::tm today{};
    gmtime_r(&now, &today);
    std::tm start{};
    start.tm_year = today.tm_year;
    start.tm_mday = 1;
    return static_cast<std::int64_t>(timegm(&start));
}

std::uint64_t Microseconds(const TStamp& stamp, std::int64_t yearStart) {
    std::tm moment{};
    moment.tm_year = 70;
    moment.tm_mon = stamp.month - 1;
    moment.tm_mday = stamp.day;
    std::tm january{};
    january.tm_year = 70;
    january.tm_mday = 1;
    const std::int64_t intoYear =
        static_cast<std::int64_t>(timegm(&moment)) - static_cast<std::int64_t>(timegm(&january));
    const std::int64_t seconds =
        yearStart + intoYear + stamp.hour * 3600 + stamp.minute * 60 + stamp.second;
    return static_cast<std::uint64_t>(std::max<std::int64_t>(seconds, 0)) * 1000000u;
}

}  // namespace

std::string ExportPcapng(const std::vector<TLogFile>& files) {
    TTunnelPeers peers;
    std::vector<std::vector<TRecord>> perFile;
    std::string lineName = "serial line";
    // Serial logs first: their packets name the peers of the socket logs' connections.
    for (const TLogFile& file : files) {
        if (!file.name.starts_with("sock")) {
            perFile.push_back(LineRecords(ReadCommLog(file.text), peers));
            lineName = file.name;
        }
    }
    std::uint16_t nextLocalPort = kFirstLocalPort;
    for (const TLogFile& file : files) {
        if (file.name.starts_with("sock")) {
            perFile.push_back(SocketRecords(ReadCommLog(file.text), peers, nextLocalPort));
        }
    }

    std::string capture;
    const pcapng::TBytes header = tunnelcapture::Header(
        "Converted by commlog-decode from the traffic logs of pinpad-agent. The logs stamp "
        "whole seconds and carry no year: times are the logs' seconds in the year of the "
        "conversion, records a microsecond apart within a second in the logs' order. TCP "
        "headers and the PC's own address and ports are reconstructed.",
        lineName);
    capture.append(header.begin(), header.end());
    const std::int64_t yearStart = StartOfThisYear();
    std::vector<std::size_t> next(perFile.size(), 0);
    std::uint64_t last = 0;
    for (;;) {
        const std::size_t best = EarliestNext(perFile, next);
        if (best == perFile.size()) {
            return capture;
        }
        const TRecord& record = perFile[best][next[best]++];
        last = std::max(last + 1, Microseconds(record.stamp, yearStart));
        const pcapng::TBytes block =
            record.line ? tunnelcapture::LineBlock(last, record.direction, record.kind,
                                                   record.bytes.data(), record.bytes.size())
                        : tunnelcapture::TcpBlock(last, record.outbound, record.bytes);
        capture.append(block.begin(), block.end());
    }
}
