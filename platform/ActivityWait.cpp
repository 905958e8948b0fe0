#include "platform/ActivityWait.h"

#include "platform/Connection.h"

void TActivityWait::Add(IConnection& connection, unsigned interests) {
    if (const auto* pollable = dynamic_cast<const IPollable*>(&connection)) {
        m_waits.Add(pollable->GetDescriptor(), interests);
    }
}
