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

// The Linux answers for the self-test and the last error.
class TLinDeviceLayer : public TDeviceLayer {
  public:
    // Not supported: sets `*result` to 0 and returns code 2, which also
    // becomes the last error.
    Error Test(DEVICE kind, unsigned int* result) override;
    Error GetLastError() override;

  private:
    Error m_lastError{0};
};

// Makes the Linux devices; those that log their traffic write into the trace
// file system.
class TLinDeviceDebugLayer : public TLinDeviceLayer {
  public:
    // The trace file system is not owned.
    explicit TLinDeviceDebugLayer(IFileSystem* traceFileSystem);

    // A new device of that kind, or null for a kind this platform lacks.
    IDevice* CreateDevice(DEVICE kind, unsigned int index) override;

  private:
    IFileSystem* m_traceFileSystem;
};
