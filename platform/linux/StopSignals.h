#pragma once

// SIGTERM and SIGINT ask the program to stop: its loops see the request at their next check,
// and a blocking call of theirs ends at the signal (EINTR: the handlers restart nothing).
// SIGPIPE is ignored, so that a reader or peer that has gone shows as a failed write. Other
// signals keep their usual effect.
void CatchStopSignals();
// The signal that asked for the stop; 0 while none did.
int StopSignal();
// Whether a stop was asked for.
inline bool StopRequested() {
    return StopSignal() != 0;
}
// The exit status of a program ended by the stop signal, as a shell reports one killed by it:
// 130 after SIGINT, 143 after SIGTERM; 0 while no stop was asked for.
int StopStatus();
// Ends the process by the signal that asked for the stop, as that signal would have ended it
// without a handler; returns when none did.
void EndByStopSignal();
