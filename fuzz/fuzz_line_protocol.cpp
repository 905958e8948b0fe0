// Feeds arbitrary input through the serial line stack: buffered connection,
// SLIP, frame level and tunnel packet parsing. The input is read as a small
// program of steps, so that bytes arriving on the line mix with sends, clock
// ticks, mode switches and a misbehaving line in any order.

#include <cstddef>
#include <cstdint>

#include "base/Conversions.h"
#include "platform/BufferedConnection.h"
#include "support/MemoryConnection.h"
#include "support/TestSystem.h"
#include "tunnel/FrameLevel.h"
#include "tunnel/SerialPacket.h"

namespace {

class Program {
  public:
    Program(const std::uint8_t* data, std::size_t size) : m_data(data), m_size(size) {}

    bool Done() const { return m_offset >= m_size; }
    std::uint8_t Byte() { return Done() ? 0 : m_data[m_offset++]; }
    T_BinaryData Bytes(std::size_t count) {
        count = count < m_size - m_offset ? count : m_size - m_offset;
        T_BinaryData bytes(m_data + m_offset, count);
        m_offset += count;
        return bytes;
    }

  private:
    const std::uint8_t* m_data;
    std::size_t m_size;
    std::size_t m_offset = 0;
};

// A frame as a peer would put it on the line, with a good check unless
// damaged, so that the frame level's deeper paths are reached at once.
T_BinaryData PeerFrame(Program& program) {
    static constexpr unsigned char kTypes[] = {TFrameHeader::kData, TFrameHeader::kAck,
                                               TFrameHeader::kNak, 0x00};
    const std::uint8_t kind = program.Byte();
    T_BinaryData frame(kTypes[kind & 3]);
    frame.AddDirectBytes(program.Byte(), 1);
    const T_BinaryData data = program.Bytes(program.Byte());
    frame.AddDirectBytes(static_cast<unsigned char>(data.Length()), 1);
    frame += data;
    const std::uint16_t damage = kind & 4 ? 1 : 0;
    frame += BinaryDataFromMsbWord(CountCrc(frame.GetData(), frame.Length()) ^ damage);
    T_BinaryData wire(SLIP::END);
    wire += SLIP::EscapeSpecialCharacters(frame);
    wire.AddDirectBytes(SLIP::END, 1);
    return wire;
}

// A packet must survive being built and parsed again unchanged.
void CheckRoundTrip(const TSerialPacket& packet) {
    T_BinaryData wire = packet.BuildPacket();
    const TSerialPacket again(wire);
    if (again.GetActionType() != packet.GetActionType() ||
        again.GetSocketID() != packet.GetSocketID() || again.GetIpAddr() != packet.GetIpAddr() ||
        again.GetPort() != packet.GetPort() || again.GetError() != packet.GetError() ||
        !(again.GetData() == packet.GetData()) || wire.Length() != 0) {
        __builtin_trap();
    }
}

// Cuts every complete packet off the front of input, as the serial manager does.
void ParsePackets(T_BinaryData& input) {
    for (;;) {
        const unsigned long before = input.Length();
        const TSerialPacket packet(input);
        if (input.Length() == before) {
            return;
        }
        if (packet.GetActionType() != 0) {
            CheckRoundTrip(packet);
        }
    }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    // One system for the whole run, its clock set back for every input.
    static TTestSystem system;
    system.Clock().Set(0);
    TMemoryLine line;
    TMemoryLine::EndSwitches& wire = line.Switches(TMemoryLine::A);
    TFrameLevel level(new SLIP(new TBufferedConnection(line.NewEnd(TMemoryLine::A))));
    T_BinaryData packets;
    bool streamMode = false;

    Program program(data, size);
    while (!program.Done()) {
        switch (program.Byte() % 9) {
            case 0:  // bytes arrive on the line
                line.Inject(TMemoryLine::A, program.Bytes(program.Byte()));
                break;
            case 1:
                level.SendData(program.Bytes(program.Byte() * 4u));
                break;
            case 2:
                packets += level.ReceiveData();
                ParsePackets(packets);
                break;
            case 3:
                system.Clock().Advance(program.Byte() * 16u);
                break;
            case 4:
                streamMode = !streamMode;
                level.SetStreamMode(streamMode);
                break;
            case 5:
                level.ResetLink();
                break;
            case 6: {  // the line misbehaves for a while
                const std::uint8_t how = program.Byte();
                wire.maxSendChunk = how & 0x0F ? how & 0x0F : TMemoryLine::EndSwitches::kUnlimited;
                wire.zeroSends = (how >> 4) & 0x03;
                wire.sendFailure = how & 0x40 ? -1 : 0;
                wire.receiveFailure = how & 0x80 ? -2 : 0;
                break;
            }
            case 7:  // packet bytes straight from the input
                packets += program.Bytes(program.Byte());
                ParsePackets(packets);
                break;
            case 8:
                line.Inject(TMemoryLine::A, PeerFrame(program));
                break;
        }
        line.TakePending(TMemoryLine::B);  // whatever the stack sent is gone
    }
    return 0;
}
