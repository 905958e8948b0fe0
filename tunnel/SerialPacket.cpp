#include "tunnel/SerialPacket.h"

namespace {

bool CarriesAddress(unsigned char action) {
    return action == ACTION_CALL || action == ACTION_CONNECTED;
}

bool CarriesData(unsigned char action) {
    return action == ACTION_DATA_IN || action == ACTION_DATA_OUT;
}

}  // namespace

TSerialPacket::TSerialPacket(unsigned char actionType, unsigned long socketId, unsigned long ipAddr,
                             unsigned short port, unsigned long error)
    : m_actionType(actionType),
      m_socketId(static_cast<std::uint32_t>(socketId)),
      m_ipAddr(static_cast<std::uint32_t>(ipAddr)),
      m_port(port),
      m_error(static_cast<std::uint32_t>(error)) {}

TSerialPacket::TSerialPacket(unsigned char actionType, unsigned long socketId,
                             const T_BinaryData& data)
    : m_actionType(actionType), m_socketId(static_cast<std::uint32_t>(socketId)), m_data(data) {}

TSerialPacket::TSerialPacket(T_BinaryData& input) {
    if (input.Length() < TPacketLayout::kLengthSize) {
        return;
    }
    const unsigned long length = input.MsbWord(0);
    if (input.Length() < length + TPacketLayout::kLengthSize) {
        return;  // incomplete: wait for more bytes
    }
    // The packet's own bytes: fields sit at fixed offsets whatever the length says, and those
    // a short packet lacks read as 0, never as bytes of the packet after it.
    const T_BinaryData packet = input.Cut(0, length + TPacketLayout::kLengthSize);
    if (length >= TPacketLayout::kHeaderLength) {
        m_actionType = packet[TPacketLayout::kActionOffset];
        m_socketId = static_cast<std::uint32_t>(packet.MsbDword(TPacketLayout::kSocketIdOffset));
        if (CarriesAddress(m_actionType)) {
            m_ipAddr = static_cast<std::uint32_t>(packet.MsbDword(TPacketLayout::kFieldsOffset));
            m_port = packet.MsbWord(TPacketLayout::kPortAfterAddressOffset);
        } else if (m_actionType == ACTION_LISTEN) {
            m_port = packet.MsbWord(TPacketLayout::kFieldsOffset);
        } else if (m_actionType == ACTION_CALL_RESULT) {
            m_error = static_cast<std::uint32_t>(packet.MsbDword(TPacketLayout::kFieldsOffset));
        } else if (CarriesData(m_actionType)) {
            m_data =
                packet.Copy(TPacketLayout::kFieldsOffset, length - TPacketLayout::kHeaderLength);
        }
    }
}

T_BinaryData TSerialPacket::BuildPacket() const {
    T_BinaryData body(m_actionType);
    body += BinaryDataFromInt(m_socketId);
    if (CarriesAddress(m_actionType)) {
        body += BinaryDataFromInt(m_ipAddr);
        body += BinaryDataFromMsbWord(m_port);
    } else if (m_actionType == ACTION_LISTEN) {
        body += BinaryDataFromMsbWord(m_port);
    } else if (m_actionType == ACTION_CALL_RESULT) {
        body += BinaryDataFromInt(m_error);
    } else if (CarriesData(m_actionType)) {
        body += m_data;
    }
    return BinaryDataFromMsbWord(static_cast<unsigned short>(body.Length())) + body;
}
