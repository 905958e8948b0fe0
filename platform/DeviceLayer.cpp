#include "platform/DeviceLayer.h"

namespace {

// Kind and index share one 32-bit key, 16 bits each.
constexpr std::uint32_t kMaxKeyPart = 0xFFFF;

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
    if (kind > kMaxKeyPart || index > kMaxKeyPart) {
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
