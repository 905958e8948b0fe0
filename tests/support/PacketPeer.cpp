#include "PacketPeer.h"

#include <cstdio>

#include "MemoryConnection.h"
#include "platform/BufferedConnection.h"
#include "platform/NetworkInterface.h"
#include "tunnel/SerialManager.h"
#include "tunnel/Slip.h"

namespace {
// Reading stops after this many calls in a row without data: the buffered connection answers
// the call that refills it with nothing, so one empty call does not mean the line is quiet.
constexpr int kQuietReads = 3;
// Rounds without a packet handled or a byte on the line before an exchange counts as done.
constexpr int kQuietRounds = 3;
constexpr int kMaxRounds = 20000;
}  // namespace

TFrameLevel* NewLineStack(IConnection* lineEnd, TFrameOptions options) {
    return new TFrameLevel(new SLIP(new TBufferedConnection(lineEnd)), options);
}

TPacketPeer::TPacketPeer(IConnection* lineEnd)
    : m_frames(new SLIP(new TBufferedConnection(lineEnd))) {}

bool TPacketPeer::Send(const TSerialPacket& packet) {
    return m_frames.SendData(packet.BuildPacket());
}

void TPacketPeer::Pump() {
    for (int quiet = 0; quiet < kQuietReads;) {
        const T_BinaryData data = m_frames.ReceiveData();
        if (data.Length() == 0) {
            ++quiet;
            continue;
        }
        quiet = 0;
        m_input += data;
        for (;;) {
            TSerialPacket packet(m_input);
            if (packet.GetActionType() == 0) {
                break;
            }
            m_packets.push_back(packet);
        }
    }
}

std::vector<TSerialPacket> TPacketPeer::TakePackets() {
    std::vector<TSerialPacket> packets;
    packets.swap(m_packets);
    return packets;
}

void ExchangeUntilQuiet(TSerialManager& manager, TPacketPeer& peer, const TMemoryLine& line) {
    for (int quiet = 0, round = 0; quiet < kQuietRounds && round < kMaxRounds; ++round) {
        const bool handled = manager.ProcessContinuously();
        const bool traffic =
            line.PendingCount(TMemoryLine::A) + line.PendingCount(TMemoryLine::B) != 0;
        peer.Pump();
        quiet = handled || traffic ? 0 : quiet + 1;
    }
}

std::string Describe(const TSerialPacket& packet) {
    static const char* const kNames[] = {"NONE",   "CALL",  "LISTEN",  "CONNECTED", "CALL_RESULT",
                                         "CLOSED", "CLOSE", "DATA_IN", "DATA_OUT",  "RESET"};
    const unsigned action = packet.GetActionType();
    char text[96];
    const char* name = action < std::size(kNames) ? kNames[action] : "UNKNOWN";
    const unsigned long id = packet.GetSocketID();
    switch (action) {
        case ACTION_CALL:
        case ACTION_CONNECTED:
            std::snprintf(text, sizeof text, "%s %lu addr=%08lX port=%u", name, id,
                          packet.GetIpAddr(), packet.GetPort());
            break;
        case ACTION_LISTEN:
            std::snprintf(text, sizeof text, "%s %lu port=%u", name, id, packet.GetPort());
            break;
        case ACTION_CALL_RESULT:
            std::snprintf(text, sizeof text, "%s %lu err=%lu", name, id, packet.GetError());
            break;
        case ACTION_DATA_IN:
        case ACTION_DATA_OUT:
            std::snprintf(text, sizeof text, "%s %lu len=%lu", name, id, packet.GetData().Length());
            break;
        default:
            std::snprintf(text, sizeof text, "%s %lu", name, id);
            break;
    }
    return text;
}

std::vector<std::string> Describe(const std::vector<TSerialPacket>& packets) {
    std::vector<std::string> texts;
    for (const TSerialPacket& packet : packets) {
        texts.push_back(Describe(packet));
    }
    return texts;
}
