#pragma once

#include <cstdint>

#include "base/BinaryData.h"

// What a tunnel packet asks for or reports; one byte on the wire.
enum ACTION_TYPE : unsigned char {
    ACTION_CALL = 1,         // terminal: open a TCP connection to address:port
    ACTION_LISTEN = 2,       // terminal: accept one incoming connection on a port
    ACTION_CONNECTED = 3,    // agent: an incoming connection was accepted
    ACTION_CALL_RESULT = 4,  // agent: outcome of a call, or failure of a call or listen
    ACTION_CLOSED = 5,       // agent: the connection is closed or unknown
    ACTION_CLOSE = 6,        // terminal: close the connection
    ACTION_DATA_IN = 7,      // agent: bytes received from the network
    ACTION_DATA_OUT = 8,     // terminal: bytes to send to the network
    ACTION_RESET = 9,        // either side: drop every tunnelled connection
};

// Offsets in a packet's wire form, counted from its length field.
struct TPacketLayout {
    static constexpr unsigned long kLengthSize = 2;
    static constexpr unsigned long kActionOffset = 2;
    static constexpr unsigned long kSocketIdOffset = 3;
    static constexpr unsigned long kFieldsOffset = 7;
    static constexpr unsigned long kPortAfterAddressOffset = 11;
    // Action byte and socket id: the least a packet must carry after its length.
    static constexpr unsigned long kHeaderLength = 5;
    // The most data one ACTION_DATA_IN or ACTION_DATA_OUT packet of ours carries: with its 7
    // bytes in front it fills one frame's 255-byte portion, so a portion lost on the line takes
    // whole packets with it and the far end's packet stream stays in step.
    static constexpr unsigned long kMaxDataPerPacket = 255 - kFieldsOffset;
};

// One request or notice about one tunnelled connection, and its wire form:
// a 16-bit length L of what follows, the action, the socket id and the
// action's fields, all most significant byte first.
class TSerialPacket {
  public:
    // A packet without data; fields the action does not carry are ignored.
    TSerialPacket(unsigned char actionType, unsigned long socketId, unsigned long ipAddr,
                  unsigned short port, unsigned long error);
    // A data packet (ACTION_DATA_IN or ACTION_DATA_OUT).
    TSerialPacket(unsigned char actionType, unsigned long socketId, const T_BinaryData& data);
    // Takes the first packet off the front of input. While input holds no
    // complete packet, nothing is consumed and the action type is 0; a packet
    // too short to carry an action is consumed with action type 0.
    explicit TSerialPacket(T_BinaryData& input);

    T_BinaryData BuildPacket() const;

    unsigned char GetActionType() const { return m_actionType; }
    unsigned long GetSocketID() const { return m_socketId; }
    unsigned long GetIpAddr() const { return m_ipAddr; }
    unsigned short GetPort() const { return m_port; }
    unsigned long GetError() const { return m_error; }
    const T_BinaryData& GetData() const { return m_data; }

  private:
    std::uint8_t m_actionType = 0;
    std::uint32_t m_socketId = 0;
    std::uint32_t m_ipAddr = 0;
    std::uint16_t m_port = 0;
    std::uint32_t m_error = 0;
    T_BinaryData m_data;
};
