#pragma once

// SIGTERM and SIGINT ask the agent to stop: its loops see the request at their next check,
// and a sleep of theirs ends at the signal. Other signals keep their usual effect.
void CatchStopSignals();
// The signal that asked for the stop; 0 while none did.
int StopSignal();
// Ends the process by the signal that asked for the stop, as that signal would have ended it
// without a handler; returns when none did.
void EndByStopSignal();
