#include "tunnel/Slip.h"

SLIP::SLIP(IConnection* connection) : m_connection(connection) {}

SLIP::~SLIP() = default;

bool SLIP::SendData(const T_BinaryData& payload) {
    T_BinaryData frame(END);
    frame += EscapeSpecialCharacters(payload);
    frame.AddDirectBytes(END, m_doubleDelimiters ? 2 : 1);
    const long sent = m_connection->Send(frame.GetData(), frame.Length());
    if (sent > 0) {
        m_bytesWritten += static_cast<unsigned long>(sent);
    }
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
