#include "tunnel/SerialOutConnection.h"

#include <algorithm>

#include "tunnel/ReceiveBuffer.h"
#include "tunnel/SerialManager.h"
#include "tunnel/SerialPacket.h"
#include "tunnel/TunnelErrors.h"

namespace {
// Data packets from the terminal carry at most one frame's worth of bytes.
constexpr unsigned long kMaxPieceLength = 255;
}  // namespace

TSerialOutConnection::TSerialOutConnection(TSerialManager* manager, unsigned long socketId,
                                           CONNSTATE state)
    : manager_(manager),
      socketId_(static_cast<std::uint32_t>(socketId)),
      lastError_(kErrorNoCallResult),
      state_(state) {}

TSerialOutConnection::~TSerialOutConnection() {
    if (manager_ == nullptr) {
        return;
    }
    if ((state_ == CONNSTATE_CONNECTING || state_ == CONNSTATE_CONNECTED) && SendClosePacket()) {
        manager_->WaitInterfaceReady();
    }
    manager_->DeleteSerialConnection(socketId_);
    manager_->ProcessContinuously();
}

void TSerialOutConnection::DetachFromManager() {
    manager_ = nullptr;
    state_ = CONNSTATE_DISCONNECTED;
}

void TSerialOutConnection::RunTunnelStep() {
    if (manager_ != nullptr) {
        manager_->ProcessContinuously();
    }
}

long TSerialOutConnection::Send(const unsigned char* data, unsigned long length) {
    RunTunnelStep();
    if (state_ == CONNSTATE_DISCONNECTED) {
        return -1;
    }
    for (unsigned long offset = 0; offset < length; offset += kMaxPieceLength) {
        const unsigned long piece = std::min(kMaxPieceLength, length - offset);
        if (!SendPacket(
                TSerialPacket(ACTION_DATA_OUT, socketId_, T_BinaryData(data + offset, piece, 0)))) {
            // The link is down; the pieces already handed over stay sent.
            state_ = CONNSTATE_DISCONNECTED;
            return -1;
        }
    }
    manager_->WaitInterfaceReady();
    return static_cast<long>(length);
}

long TSerialOutConnection::Receive(unsigned char* buffer, unsigned long length) {
    RunTunnelStep();
    if (state_ == CONNSTATE_DISCONNECTED && receiveBuffer_.Length() == 0) {
        return -1;
    }
    return static_cast<long>(MoveFrontBytes(receiveBuffer_, buffer, length));
}

unsigned long TSerialOutConnection::GetPeerAddress() {
    return peerAddress_;
}

CONNSTATE TSerialOutConnection::GetState() {
    RunTunnelStep();
    return state_;
}

Error TSerialOutConnection::GetLastError() {
    return Error(lastError_);
}

void TSerialOutConnection::ProcessIncomingPacket(const TSerialPacket& packet) {
    switch (packet.GetActionType()) {
        case ACTION_CONNECTED:
            peerAddress_ = static_cast<std::uint32_t>(packet.GetIpAddr());
            state_ = CONNSTATE_CONNECTED;
            break;
        case ACTION_CALL_RESULT:
            lastError_ = static_cast<std::uint32_t>(packet.GetError());
            state_ = lastError_ != 0 ? CONNSTATE_DISCONNECTED : CONNSTATE_CONNECTED;
            break;
        case ACTION_CLOSED:
            state_ = CONNSTATE_DISCONNECTED;
            break;
        case ACTION_DATA_IN:
            receiveBuffer_ += packet.GetData();
            break;
        default:
            break;
    }
}

bool TSerialOutConnection::SendPacket(const TSerialPacket& packet) {
    return manager_ != nullptr && manager_->SendData(packet.BuildPacket());
}

bool TSerialOutConnection::SendClosePacket() {
    return SendPacket(TSerialPacket(ACTION_CLOSE, socketId_, 0, 0, 0));
}
