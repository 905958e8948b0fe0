#pragma once

#include <string>
#include <vector>

#include "base/BinaryData.h"
#include "platform/Connection.h"
#include "tunnel/FrameLevel.h"
#include "tunnel/SerialPacket.h"

class TMemoryLine;
class INetworkInterface;
class TSerialManager;

// The far end of a tunnel line, played by a test: a frame level (so frames are acknowledged as
// the real peer would) whose tunnel packets the test sends and reads one by one.
//
//     TMemoryLine line;
//     TSerialManager agent(...line.NewEnd(TMemoryLine::A)...);
//     TPacketPeer terminal(line.NewEnd(TMemoryLine::B));
//     terminal.Send(TSerialPacket(ACTION_CALL, 1, 0x7F000001, 80, 0));
//     ... agent.ProcessContinuously(); terminal.Pump(); ...
//     std::vector<TSerialPacket> notices = terminal.TakePackets();
class TPacketPeer {
  public:
    // Takes ownership of the line end.
    explicit TPacketPeer(IConnection* lineEnd);

    // Queues the packet on the frame level; false while the link is down.
    bool Send(const TSerialPacket& packet);
    // Reads every frame the line holds now, answering them, and collects the complete packets.
    void Pump();
    // The packets collected since the last call.
    std::vector<TSerialPacket> TakePackets();

    TFrameLevel& Frames() { return m_frames; }

  private:
    TFrameLevel m_frames;
    T_BinaryData m_input;
    std::vector<TSerialPacket> m_packets;
};

// The frame level of a tunnel stack (buffered connection, SLIP, frame level) on a line end,
// which it owns: what a serial manager is built on.
TFrameLevel* NewLineStack(IConnection* lineEnd, TFrameOptions options = TFrameOptions());

// Steps of the manager on one end of the line, each answered by the peer on the other, until the
// line has stayed quiet for a few rounds.
void ExchangeUntilQuiet(TSerialManager& manager, TPacketPeer& peer, const TMemoryLine& line);

// A packet as short text for test expectations: "CALL_RESULT 1 err=0", "DATA_IN 2 len=4096",
// "CLOSED 7", "CONNECTED 3 addr=0100007F port=0".
std::string Describe(const TSerialPacket& packet);
std::vector<std::string> Describe(const std::vector<TSerialPacket>& packets);
