#pragma once

#include "platform/ActivityWait.h"
#include "platform/Connection.h"
#include "platform/DescriptorReadiness.h"

// The pause of the HTTP client's polling loops.

// The longest pause of one pass of a polling loop.
inline constexpr unsigned long kPollPauseMs = 1;

// One pause of a polling loop: until connection is ready in those interests
// (READINESS_READABLE, READINESS_WRITABLE), for at most kPollPauseMs.
// Without a connection, or one without a descriptor, it is the idle pause.
inline void PausePolling(IConnection* connection, unsigned interests) {
    TActivityWait pause;
    if (connection) {
        pause.Add(*connection, interests);
    }
    pause.Sleep(kPollPauseMs);
}
