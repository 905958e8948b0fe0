#include "tunnel/LoopbackConnection.h"

#include "tunnel/ReceiveBuffer.h"

namespace {
constexpr unsigned long kLoopbackAddress = 0x7F000001;
}

TLoopbackConnection::TLoopbackConnection(TLoopbackConnection* partner) : partner_(partner) {
    if (partner_ != nullptr) {
        partner_->Couple(this);
    }
}

TLoopbackConnection::~TLoopbackConnection() {
    if (partner_ != nullptr) {
        partner_->Couple(nullptr);
    }
}

long TLoopbackConnection::Send(const unsigned char* data, unsigned long length) {
    if (partner_ == nullptr) {
        return -1;
    }
    partner_->AddData(T_BinaryData(data, length, 0));
    return static_cast<long>(length);
}

long TLoopbackConnection::Receive(unsigned char* buffer, unsigned long length) {
    const unsigned long moved = MoveFrontBytes(receiveBuffer_, buffer, length);
    if (moved == 0 && partner_ == nullptr) {
        return -1;
    }
    return static_cast<long>(moved);
}

unsigned long TLoopbackConnection::GetPeerAddress() {
    return kLoopbackAddress;
}

CONNSTATE TLoopbackConnection::GetState() {
    return partner_ != nullptr ? CONNSTATE_CONNECTED : CONNSTATE_LISTENING;
}

Error TLoopbackConnection::GetLastError() {
    return Error(0);
}
