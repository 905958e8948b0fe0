#include "platform/LoopbackConnection.h"

#include "platform/NetworkInterface.h"
#include "platform/ReceiveBuffer.h"

TLoopbackConnection::TLoopbackConnection(TLoopbackConnection* partner) : m_partner(partner) {
    if (m_partner != nullptr) {
        // An end that was coupled already loses its old partner, which is left alone rather
        // than pointing at an end that no longer answers to it.
        if (m_partner->m_partner != nullptr) {
            m_partner->m_partner->Couple(nullptr);
        }
        m_partner->Couple(this);
    }
}

TLoopbackConnection::~TLoopbackConnection() {
    if (m_partner != nullptr && m_partner->m_partner == this) {
        m_partner->Couple(nullptr);
    }
}

long TLoopbackConnection::Send(const unsigned char* data, unsigned long length) {
    if (m_partner == nullptr) {
        return -1;
    }
    m_partner->AddData(T_BinaryData(data, length, 0));
    return static_cast<long>(length);
}

long TLoopbackConnection::Receive(unsigned char* buffer, unsigned long length) {
    const unsigned long moved = MoveFrontBytes(m_receiveBuffer, buffer, length);
    if (moved == 0 && m_partner == nullptr) {
        return -1;
    }
    return static_cast<long>(moved);
}

unsigned long TLoopbackConnection::GetPeerAddress() {
    return kLoopbackAddress;
}

CONNSTATE TLoopbackConnection::GetState() {
    return m_partner != nullptr ? CONNSTATE_CONNECTED : CONNSTATE_LISTENING;
}

Error TLoopbackConnection::GetLastError() {
    return Error(0);
}
