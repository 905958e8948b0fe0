#include "tunnel/SerialNetworkInterface.h"

#include "platform/Device.h"
#include "platform/RS232.h"
#include "platform/System.h"
#include "tunnel/BufferedConnection.h"
#include "tunnel/FrameLevel.h"
#include "tunnel/SerialManager.h"
#include "tunnel/SerialOutConnection.h"
#include "tunnel/Slip.h"
#include "tunnel/TunnelErrors.h"

namespace {
constexpr unsigned long kLineBaudRate = 115200;
constexpr unsigned char kLineDataBits = 8;
constexpr unsigned kStateUp = 3;
constexpr unsigned kStateFailed = 4;
constexpr unsigned long kErrorNotSupported = 2;
constexpr unsigned long kLoopbackAddress = 0x7F000001;
// The first port of the machine runs its frames in stream mode.
constexpr unsigned short kStreamModePort = 1;
}  // namespace

TSerialNetworkInterface::TSerialNetworkInterface(unsigned short port) : port_(port) {}

TSerialNetworkInterface::~TSerialNetworkInterface() {
    Cleanup();
}

void TSerialNetworkInterface::InitSerialManager(bool waitForLink) {
    if (manager_) {
        return;
    }
    auto* serialPort = dynamic_cast<IRS232Interface*>(
        ISystem::Instance()->GetDeviceLayer()->GetDevice(DEVICE_RS232, port_));
    if (serialPort == nullptr) {
        return;
    }
    IConnection* line = nullptr;
    serialPort->Connect(
        TRs232Params(port_, kLineBaudRate, kLineDataBits, PARITY_NONE, STOPBITS_ONE), &line);
    if (line == nullptr) {
        return;
    }
    manager_ =
        std::make_unique<TSerialManager>(new TFrameLevel(new SLIP(new TBufferedConnection(line))));
    if (waitForLink && !manager_->WaitInterfaceReady()) {
        Close();
        return;
    }
    manager_->SetStreamMode(port_ == kStreamModePort);
}

Error TSerialNetworkInterface::OpenAsService() {
    InitSerialManager(false);
    return Error(manager_ ? 0 : kErrorInterfaceNotOpened);
}

Error TSerialNetworkInterface::Open() {
    InitSerialManager(true);
    return Error(manager_ ? 0 : kErrorInterfaceNotOpened);
}

void TSerialNetworkInterface::RunOneStep() {
    if (manager_) {
        manager_->ProcessContinuously();
    }
}

void TSerialNetworkInterface::Close() {
    // Tunnelled connections still in use keep the stack up.
    if (manager_ && manager_->HaveSerialConnections()) {
        return;
    }
    Cleanup();
}

void TSerialNetworkInterface::Cleanup() {
    manager_.reset();
}

unsigned TSerialNetworkInterface::GetCurrentState() {
    return manager_ ? kStateUp : kStateFailed;
}

Error TSerialNetworkInterface::GetNetworkError() {
    return Error(kErrorNotSupported);
}

Error TSerialNetworkInterface::SetSelfParams(const TNetworkClientParam&) {
    return Error(kErrorNotSupported);
}

Error TSerialNetworkInterface::GetSelfParams(TNetworkClientParam&) {
    return Error(kErrorNotSupported);
}

Error TSerialNetworkInterface::Ping(unsigned long) {
    return Error(kErrorNotSupported);
}

Error TSerialNetworkInterface::Call(const TNetworkHostParam& host, IConnection** connection) {
    *connection = nullptr;
    InitSerialManager(true);
    if (!manager_) {
        return Error(kErrorNoNetworkInterface);
    }
    *connection = manager_->AddCallingConnection(++lastSocketId_, host.address, host.port);
    return Error(0);
}

Error TSerialNetworkInterface::Listen(unsigned short port, IConnection** connection) {
    *connection = nullptr;
    InitSerialManager(true);
    if (!manager_) {
        return Error(kErrorNoNetworkInterface);
    }
    *connection = manager_->AddListeningConnection(++lastSocketId_, port);
    return Error(0);
}

Error TSerialNetworkInterface::ResolveAddressUsingDNS(const char*, unsigned long* address) {
    // Every name leads to the PC at the other end of the line.
    if (address != nullptr) {
        *address = kLoopbackAddress;
    }
    return Error(0);
}
