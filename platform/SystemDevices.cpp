#include "platform/SystemDevices.h"

#include "platform/Device.h"
#include "platform/System.h"

Error OpenSystemSerialPort(const TRs232Params& params, IConnection** line) {
    *line = nullptr;
    auto* serialPort = dynamic_cast<IRS232Interface*>(
        ISystem::Instance()->GetDeviceLayer()->GetDevice(DEVICE_RS232, params.port));
    return serialPort != nullptr ? serialPort->Connect(params, line) : Error(0);
}

INetworkInterface* SystemEthernet() {
    return dynamic_cast<INetworkInterface*>(
        ISystem::Instance()->GetDeviceLayer()->GetDevice(DEVICE_ETHERNET, 0));
}
