#include "tunnel/Slip.h"

SLIP::SLIP(IConnection* connection) : m_connection(connection) {}

SLIP::~SLIP() = default;

T_BinaryData SLIP::EscapeSpecialCharacters(const T_BinaryData& payload) {
    T_BinaryData stuffed;
    for (unsigned long i = 0; i < payload.Length(); ++i) {
        const unsigned char byte = payload[i];
        if (byte == END) {
            stuffed.AddDirectBytes(ESC, 1);
            stuffed.AddDirectBytes(ESC_END, 1);
        } else if (byte == ESC) {
            stuffed.AddDirectBytes(ESC, 1);
            stuffed.AddDirectBytes(ESC_ESC, 1);
        } else {
            stuffed.AddDirectBytes(byte, 1);
        }
    }
    return stuffed;
}

T_BinaryData SLIP::RemoveEscapedCharacters(const T_BinaryData& stuffed) {
    T_BinaryData payload;
    bool escapePending = false;
    for (unsigned long i = 0; i < stuffed.Length(); ++i) {
        const unsigned char byte = stuffed[i];
        if (byte == ESC) {
            escapePending = true;
        } else if (escapePending) {
            escapePending = false;
            if (byte == ESC_END) {
                payload.AddDirectBytes(END, 1);
            } else if (byte == ESC_ESC) {
                payload.AddDirectBytes(ESC, 1);
            }
        } else {
            payload.AddDirectBytes(byte, 1);
        }
    }
    return payload;
}

bool SLIP::SendData(const T_BinaryData& payload) {
    T_BinaryData frame(END);
    frame += EscapeSpecialCharacters(payload);
    frame.AddDirectBytes(END, m_doubleDelimiters ? 2 : 1);
    const long sent = m_connection->Send(frame.GetData(), frame.Length());
    return sent >= 0 && static_cast<unsigned long>(sent) == frame.Length();
}

T_BinaryData SLIP::ReceiveData() {
    unsigned char byte = 0;
    while (m_connection->Receive(&byte, 1) > 0) {
        if (m_decoder.Feed(byte)) {
            return ReturnAndFlushReceivedData();
        }
    }
    return T_BinaryData();
}

T_BinaryData SLIP::ReturnAndFlushReceivedData() {
    return m_decoder.TakeFrame();
}

T_BinaryData SLIP::PendingFrame(unsigned long maxRaw) const {
    const T_BinaryData& collected = m_decoder.Collected();
    if (!m_decoder.InFrame() || collected.Length() > maxRaw) {
        return T_BinaryData();
    }
    return RemoveEscapedCharacters(collected);
}
