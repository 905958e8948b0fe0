#include "tunnel/SerialPacket.h"

namespace {

// Offsets inside a packet, counted from its length field.
constexpr unsigned long kLengthSize = 2;
constexpr unsigned long kActionOffset = 2;
constexpr unsigned long kSocketIdOffset = 3;
constexpr unsigned long kFieldsOffset = 7;
constexpr unsigned long kPortAfterAddressOffset = 11;
// Action byte and socket id: the least a packet must carry after its length.
constexpr unsigned long kHeaderLength = 5;

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
    if (input.Length() < kLengthSize) {
        return;
    }
    const unsigned long length = input.MsbWord(0);
    if (input.Length() < length + kLengthSize) {
        return;  // incomplete: wait for more bytes
    }
    if (length >= kHeaderLength) {
        m_actionType = input[kActionOffset];
        m_socketId = static_cast<std::uint32_t>(input.MsbDword(kSocketIdOffset));
        // Fields sit at fixed offsets whatever the length says; missing bytes read as 0.
        if (CarriesAddress(m_actionType)) {
            m_ipAddr = static_cast<std::uint32_t>(input.MsbDword(kFieldsOffset));
            m_port = input.MsbWord(kPortAfterAddressOffset);
        } else if (m_actionType == ACTION_LISTEN) {
            m_port = input.MsbWord(kFieldsOffset);
        } else if (m_actionType == ACTION_CALL_RESULT) {
            m_error = static_cast<std::uint32_t>(input.MsbDword(kFieldsOffset));
        } else if (CarriesData(m_actionType)) {
            m_data = input.Copy(kFieldsOffset, length - kHeaderLength);
        }
    }
    input.Cut(0, length + kLengthSize);
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
