#pragma once

#include "platform/DeviceLayer.h"
#include "tunnel/SerialNetworkInterface.h"

// Registers the serial tunnel under the USB and COM kinds for every device layer, as the agent
// does at start; the platform's device layer does not make it on its own.
inline void RegisterSerialTunnels() {
    TDeviceLayer::RegisterKind(DEVICE_USB, &TSerialNetworkInterface::MakeDevice);
    TDeviceLayer::RegisterKind(DEVICE_COM, &TSerialNetworkInterface::MakeDevice);
}
