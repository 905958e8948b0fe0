#include "platform/DeviceLayer.h"

#include "base/ErrorCodes.h"
#include "platform/RS232Interface.h"
#include "platform/SocketInterface.h"

namespace {

// Kind and index share one 32-bit key, 16 bits each.
constexpr std::uint32_t cMaxKeyPart = 0xFFFF;

// Makes one kind of device: serial kinds take the index as their port
// number, devices that log take the trace file system.
using TDeviceFactory = IDevice* (*)(unsigned int index, IFileSystem* traceFileSystem);

IDevice* MakeEthernet(unsigned int, IFileSystem* traceFileSystem) {
    return new TLinEthernetInterface(traceFileSystem);
}

// The port number comes later, with Connect.
IDevice* MakeSerialPort(unsigned int, IFileSystem* traceFileSystem) {
    return new TLinRS232Interface(traceFileSystem);
}

// The kinds this platform makes; every other kind gives null.
const std::map<DEVICE, TDeviceFactory> cDeviceFactories = {
    {DEVICE_ETHERNET, MakeEthernet},      {DEVICE_WIFI, MakeEthernet},
    {DEVICE_GPRS, MakeEthernet},          {DEVICE_RS232, MakeSerialPort},
    {DEVICE_OTHER_NETWORK, MakeEthernet},
};

}  // namespace

TDeviceLayer::~TDeviceLayer() {
    for (auto& [key, device] : m_devices) {
        device.reset();
    }
}

unsigned long TDeviceLayer::GetDeviceID(DEVICE kind, unsigned int index) {
    return (static_cast<std::uint32_t>(kind) << 16) + static_cast<std::uint32_t>(index);
}

IDevice* TDeviceLayer::GetDevice(DEVICE kind, unsigned int index) {
    if (kind > cMaxKeyPart || index > cMaxKeyPart) {
        return nullptr;
    }
    std::unique_ptr<IDevice>& entry =
        m_devices[static_cast<std::uint32_t>(GetDeviceID(kind, index))];
    if (!entry) {
        entry.reset(CreateDevice(kind, index));
    }
    if (!entry) {
        const auto registered = RegisteredKinds().find(kind);
        if (registered != RegisteredKinds().end()) {
            entry.reset(registered->second(index));
        }
    }
    return entry.get();
}

void TDeviceLayer::RegisterKind(DEVICE kind, TDeviceMaker maker) {
    RegisteredKinds()[kind] = maker;
}

std::map<DEVICE, TDeviceLayer::TDeviceMaker>& TDeviceLayer::RegisteredKinds() {
    static std::map<DEVICE, TDeviceMaker> kinds;
    return kinds;
}

Error TLinDeviceLayer::Test(DEVICE, unsigned int* result) {
    if (result != nullptr) {
        *result = 0;
    }
    m_lastError = Error(kErrorNotSupported);
    return m_lastError;
}

Error TLinDeviceLayer::GetLastError() {
    return m_lastError;
}

TLinDeviceDebugLayer::TLinDeviceDebugLayer(IFileSystem* traceFileSystem)
    : m_traceFileSystem(traceFileSystem) {}

IDevice* TLinDeviceDebugLayer::CreateDevice(DEVICE kind, unsigned int index) {
    auto factory = cDeviceFactories.find(kind);
    return factory == cDeviceFactories.end() ? nullptr : factory->second(index, m_traceFileSystem);
}
