#pragma once

#include <cstdint>

#include "base/Error.h"

// Kinds of device the device layer can be asked for. Only the values listed
// have a meaning; the layer creates nothing for any other value.
enum DEVICE : std::uint32_t {
    DEVICE_PINPAD = 2,
    DEVICE_PRINTER = 4,
    DEVICE_KEYBOARD = 5,
    DEVICE_BEEPER = 6,
    DEVICE_ETHERNET = 9,
    DEVICE_WIFI = 10,
    DEVICE_GPRS = 11,
    DEVICE_RS232 = 12,
    DEVICE_OTHER_NETWORK = 13,
    DEVICE_USB = 15,
    DEVICE_COM = 16,
};

// Anything the device layer hands out. Devices belong to the layer that made
// them; their users never delete them.
class IDevice {
  public:
    // Makes the device usable; code 0 on success.
    virtual Error Open() = 0;
    // Takes the device out of use; it can be opened again later.
    virtual void Close() = 0;
    virtual ~IDevice() = default;
};

// Factory and cache of devices by kind and index. For the serial kinds the
// index is the port number (1 is the first port); other callers pass 0.
class IDeviceLayer {
  public:
    // Device self-test; `*result` receives the outcome.
    virtual Error Test(DEVICE kind, unsigned int* result) = 0;
    // The device of that kind and index: made on the first request, the same
    // object afterwards; null when the layer cannot make it (asking again
    // tries again).
    virtual IDevice* GetDevice(DEVICE kind, unsigned int index) = 0;
    // The factory step behind GetDevice: a new object on every call, which
    // then belongs to the layer.
    virtual IDevice* CreateDevice(DEVICE kind, unsigned int index) = 0;
    virtual Error GetLastError() = 0;
    virtual ~IDeviceLayer() = default;
};
