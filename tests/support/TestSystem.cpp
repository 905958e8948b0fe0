#include "TestSystem.h"

#include <utility>

#include "platform/WaitSet.h"
#include "platform/linux/LinSystem.h"

TTestSystem::TTestSystem()
    : TLinSystem(home / "agent",
                 [this](const std::string& commandLine) {
                     m_shellCommands.push_back(commandLine);
                     return 0;
                 }),
      m_previous(ISystem::Install(this)) {}

TTestSystem::~TTestSystem() {
    // Devices that log while they close still see this system's clock.
    ReleaseDevices();
    ISystem::Install(m_previous);
}

void TTestSystem::SetDeviceLayer(std::unique_ptr<IDeviceLayer> layer) {
    ReleaseDevices();
    AdoptDeviceLayer(std::move(layer), nullptr);
}

Error TTestSystem::SetDateTime(unsigned long date, unsigned long time) {
    m_date = date;
    m_time = time;
    return Error(0);
}

Error TTestSystem::GetDateTime(unsigned long* date, unsigned long* time) {
    if (date != nullptr) {
        *date = m_date;
    }
    if (time != nullptr) {
        *time = m_time;
    }
    return Error(0);
}

ITimer* TTestSystem::CreateTimer(unsigned long milliseconds) {
    return new TFakeTimer(m_clock, milliseconds);
}

void TTestSystem::Wait(unsigned long milliseconds) {
    m_clock.Advance(milliseconds);
}

void TTestSystem::Idle() {
    m_clock.Advance(m_idleStep);
}

bool TTestSystem::WaitForActivity(TWaitSet& waits, unsigned long milliseconds) {
    ++m_activityWaits;
    if (waits.Wait(0)) {
        return true;
    }
    m_clock.Advance(milliseconds);
    return false;
}
