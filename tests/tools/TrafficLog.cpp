#include "TrafficLog.h"

#include <fstream>
#include <iterator>

#include "base/Conversions.h"
#include "base/LogEvent.h"
#include "platform/linux/LinFileSystem.h"
#include "platform/linux/LoggerToFile.h"
#include "tunnel/FrameLevel.h"
#include "tunnel/Slip.h"

namespace {

void Log(TLinFileSystem& files, const std::string& log, const TLogEvent& event) {
    TLoggerToFile(log.c_str(), &files, 0).LogData(event);
}

}  // namespace

void TTrafficLogs::Opened(const std::string& log, const char* text) {
    Log(m_files, log, T_LE_Connected(text));
}

void TTrafficLogs::Closed(const std::string& log) {
    Log(m_files, log, T_LE_Disconnected());
}

void TTrafficLogs::Failed(const std::string& log, unsigned long code) {
    Log(m_files, log, T_LE_ComError(code));
}

void TTrafficLogs::Sent(const std::string& log, const T_BinaryData& bytes) {
    Log(m_files, log, T_LE_Sent(bytes.GetData(), static_cast<int>(bytes.Length())));
}

void TTrafficLogs::Received(const std::string& log, const T_BinaryData& bytes) {
    Log(m_files, log, T_LE_Received(bytes.GetData(), static_cast<int>(bytes.Length())));
}

std::string TTrafficLogs::Text(const std::string& log) const {
    std::ifstream file(m_system.Home() + "/" + log, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(file), std::istreambuf_iterator<char>());
}

T_BinaryData WireFrame(unsigned char type, unsigned char seq, const T_BinaryData& data,
                       bool damaged) {
    T_BinaryData frame(type);
    frame.AddDirectBytes(seq, 1);
    frame.AddDirectBytes(static_cast<unsigned char>(data.Length()), 1);
    frame += data;
    const std::uint16_t crc = CountCrc(frame.GetData(), frame.Length());
    frame += BinaryDataFromMsbWord(damaged ? crc ^ 0x0101 : crc);
    T_BinaryData wire(SLIP::END);
    wire += SLIP::EscapeSpecialCharacters(frame);
    wire.AddDirectBytes(SLIP::END, 1);
    return wire;
}

T_BinaryData DataFrame(unsigned char seq, const T_BinaryData& data, bool damaged) {
    return WireFrame(TFrameHeader::kData, seq, data, damaged);
}

T_BinaryData Ack(unsigned char seq) {
    return WireFrame(TFrameHeader::kAck, seq, T_BinaryData());
}

T_BinaryData Nak(unsigned char seq) {
    return WireFrame(TFrameHeader::kNak, seq, T_BinaryData());
}

T_BinaryData PacketBytes(const TSerialPacket& packet) {
    return packet.BuildPacket();
}
