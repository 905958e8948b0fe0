#include "platform/ActivityWait.h"

#include "platform/Connection.h"
#include "platform/System.h"

TActivityWait::TActivityWait(ISystem* system)
    : m_system(system != nullptr ? system : ISystem::Instance()) {}

void TActivityWait::Add(IConnection& connection, unsigned interests) {
    if (const auto* pollable = dynamic_cast<const IPollable*>(&connection)) {
        m_waits.Add(pollable->GetDescriptor(), interests);
    }
}

bool TActivityWait::Sleep(unsigned long timeoutMs) {
    if (m_waits.IsEmpty()) {
        m_system->Idle();
        return false;
    }
    return m_system->WaitForActivity(m_waits, timeoutMs);
}
