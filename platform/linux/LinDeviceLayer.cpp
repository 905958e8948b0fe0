#include "platform/linux/LinDeviceLayer.h"

#include <map>

#include "base/ErrorCodes.h"
#include "platform/linux/RS232Interface.h"
#include "platform/linux/SocketInterface.h"

namespace {

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
const std::map<DEVICE, TDeviceFactory> kDeviceFactories = {
    {DEVICE_ETHERNET, MakeEthernet},      {DEVICE_WIFI, MakeEthernet},
    {DEVICE_GPRS, MakeEthernet},          {DEVICE_RS232, MakeSerialPort},
    {DEVICE_OTHER_NETWORK, MakeEthernet},
};

}  // namespace

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
    auto factory = kDeviceFactories.find(kind);
    return factory == kDeviceFactories.end() ? nullptr : factory->second(index, m_traceFileSystem);
}
