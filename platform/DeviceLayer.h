#pragma once

#include <cstdint>
#include <map>
#include <memory>

#include "base/Error.h"
#include "platform/Device.h"

class IFileSystem;

// The cache of devices by kind and index: each device is made once, on its
// first request, and lives as long as the layer.
class TDeviceLayer : public IDeviceLayer {
  public:
    TDeviceLayer() = default;
    // Deletes the devices in ascending key order.
    ~TDeviceLayer() override;
    TDeviceLayer(const TDeviceLayer&) = delete;
    TDeviceLayer& operator=(const TDeviceLayer&) = delete;

    // Null for a kind or index above 0xFFFF: its key would name a device of
    // another kind.
    IDevice* GetDevice(DEVICE kind, unsigned int index) override;

    // The cache key: the kind in the upper 16 bits, the index below.
    static unsigned long GetDeviceID(DEVICE kind, unsigned int index);

    // Makes a device of a kind that a layer above the platform provides, such as the serial
    // tunnel: a program registers it at start, for every device layer, before it asks for one.
    // A layer's own CreateDevice comes first; the maker is asked when it gives null.
    using TDeviceMaker = IDevice* (*)(unsigned int index);
    static void RegisterKind(DEVICE kind, TDeviceMaker maker);

  private:
    static std::map<DEVICE, TDeviceMaker>& RegisteredKinds();

    std::map<std::uint32_t, std::unique_ptr<IDevice>> m_devices;
};
