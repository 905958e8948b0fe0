#pragma once

#include <functional>
#include <map>
#include <memory>
#include <utility>

#include "platform/DeviceLayer.h"

// A device layer that hands out the devices a test supplies, for
// TTestSystem::SetDeviceLayer. The layer caches and owns them like the real
// one: a device is made on its first request and deleted with the layer.
class TTestDeviceLayer : public TDeviceLayer {
  public:
    using TFactory = std::function<IDevice*(DEVICE kind, unsigned int index)>;

    // `factory` makes the devices that were not supplied with Provide;
    // without one they are null.
    explicit TTestDeviceLayer(TFactory factory = {}) : m_factory(std::move(factory)) {}

    // The device that the first request for this kind and index gets.
    void Provide(DEVICE kind, unsigned int index, std::unique_ptr<IDevice> device) {
        m_provided[GetDeviceID(kind, index)] = std::move(device);
    }

    IDevice* CreateDevice(DEVICE kind, unsigned int index) override {
        auto provided = m_provided.find(GetDeviceID(kind, index));
        if (provided != m_provided.end()) {
            IDevice* device = provided->second.release();
            m_provided.erase(provided);
            return device;
        }
        return m_factory ? m_factory(kind, index) : nullptr;
    }

    Error Test(DEVICE, unsigned int* result) override {
        *result = 0;
        return Error(2);
    }
    Error GetLastError() override { return Error(0); }

  private:
    TFactory m_factory;
    std::map<unsigned long, std::unique_ptr<IDevice>> m_provided;
};
