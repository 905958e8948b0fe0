#pragma once

#include <functional>
#include <map>
#include <utility>

#include "platform/Device.h"

// A device layer that serves a few devices of its own and passes every other
// request to the layer below, if there is one. It lets a program put a device
// of its choosing (a serial line opened by path, a terminal device the PC
// lacks) where the platform's layer would make its own.
class TDeviceOverlay : public IDeviceLayer {
  public:
    // below is asked for the layer underneath only when a request reaches it,
    // so a layer that is never needed is never made.
    explicit TDeviceOverlay(std::function<IDeviceLayer*()> below = {}) : below_(std::move(below)) {}

    // From now on GetDevice(kind, index) answers device, which stays the
    // caller's and must outlive the overlay's use.
    void Add(DEVICE kind, unsigned int index, IDevice* device) { devices_[{kind, index}] = device; }

    Error Test(DEVICE kind, unsigned int* result) override {
        if (IDeviceLayer* below = Below()) {
            return below->Test(kind, result);
        }
        *result = 0;
        return Error(2);
    }

    IDevice* GetDevice(DEVICE kind, unsigned int index) override {
        if (auto own = devices_.find({kind, index}); own != devices_.end()) {
            return own->second;
        }
        IDeviceLayer* below = Below();
        return below != nullptr ? below->GetDevice(kind, index) : nullptr;
    }

    IDevice* CreateDevice(DEVICE kind, unsigned int index) override {
        IDeviceLayer* below = Below();
        return below != nullptr ? below->CreateDevice(kind, index) : nullptr;
    }

    Error GetLastError() override {
        IDeviceLayer* below = Below();
        return below != nullptr ? below->GetLastError() : Error(0);
    }

  private:
    IDeviceLayer* Below() const { return below_ ? below_() : nullptr; }

    std::function<IDeviceLayer*()> below_;
    std::map<std::pair<DEVICE, unsigned int>, IDevice*> devices_;
};
