#include "platform/System.h"

#include <utility>

#include "base/ErrorCodes.h"
#include "platform/Device.h"

TSystem::~TSystem() {
    ReleaseDevices();
}

void TSystem::ReleaseDevices() {
    m_deviceLayer.reset();
    // The trace file system outlives the devices, which log as they close.
    if (m_traceFileSystem != nullptr) {
        // A release that fails at the end has nobody left to tell.
        static_cast<void>(UnmountFileSystem(std::exchange(m_traceFileSystem, nullptr)));
    }
}

void TSystem::AdoptDeviceLayer(std::unique_ptr<IDeviceLayer> layer, IFileSystem* traceFileSystem) {
    m_deviceLayer = std::move(layer);
    m_traceFileSystem = traceFileSystem;
}

void TSystem::Init() {
    SetBacklightState(true);
}

IDeviceLayer* TSystem::GetDeviceLayer() {
    if (!m_deviceLayer) {
        CreateDeviceLayer();
    }
    return m_deviceLayer.get();
}

void TSystem::Idle() {
    if (IsBacklightTimeout()) {
        SetBacklightState(false);
    }
}

Error TSystem::UnmountFileSystem(IFileSystem* fileSystem) {
    delete fileSystem;
    return Error(0);
}

Error TSystem::OpenSystemOptions() {
    return Error(kErrorNotSupported);
}

void TSystem::SetBacklight(bool on) {
    SetBacklightState(on);
    RestartBacklightTimer();
}

bool TSystem::IsBacklightTimeout() {
    if (!m_backlightTimer) {
        m_backlightTimer.reset(CreateTimer(kBacklightMs));
    }
    return m_backlightTimer->IsExpired();
}

void TSystem::RestartBacklightTimer() {
    if (!m_backlightTimer) {
        m_backlightTimer.reset(CreateTimer(kBacklightMs));
    } else {
        m_backlightTimer->Restart(kBacklightMs);
    }
}

void TSystem::SetBacklightState(bool on) {
    if (on != m_backlightOn) {
        m_backlightOn = on;
        Backlight(on);
    }
}
