#pragma once

#include <string>

#include "base/BinaryData.h"
#include "platform/FileSystem.h"
#include "platform/linux/LinFileSystem.h"
#include "support/TestSystem.h"
#include "tunnel/SerialPacket.h"

// Traffic logs written by the system's own logger, as a connection writes
// them, at a time of day the test sets; for decoding them back.
class TTrafficLogs {
  public:
    // Entries from now on carry this time of day (HHMMSS), on 5 September.
    void At(unsigned long time) { static_cast<void>(m_system.SetDateTime(20260905, time)); }

    void Opened(const std::string& log, const char* text = nullptr);
    void Closed(const std::string& log);
    void Failed(const std::string& log, unsigned long code);
    void Sent(const std::string& log, const T_BinaryData& bytes);
    void Received(const std::string& log, const T_BinaryData& bytes);

    std::string Text(const std::string& log) const;

  private:
    TTestSystem m_system;
    TLinFileSystem m_files{m_system.Home().c_str()};
};

// A frame as the frame level puts it on the line: SLIP-framed header, data
// and CRC; a damaged frame carries a wrong CRC.
T_BinaryData WireFrame(unsigned char type, unsigned char seq, const T_BinaryData& data,
                       bool damaged = false);
// A data frame carrying the bytes of the packets.
T_BinaryData DataFrame(unsigned char seq, const T_BinaryData& data, bool damaged = false);
T_BinaryData Ack(unsigned char seq);
T_BinaryData Nak(unsigned char seq);
T_BinaryData PacketBytes(const TSerialPacket& packet);
