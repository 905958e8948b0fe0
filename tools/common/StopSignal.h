#pragma once

// SIGINT and SIGTERM ask a tool to stop, which its loops check between
// steps; SIGPIPE is ignored, so that a closed peer shows as a failed write.
// The handlers do not restart interrupted calls: a blocking call returns
// EINTR, and its caller finds the stop at once.
void CatchStopSignals();
bool StopRequested();

// The exit status of a tool ended by the stop signal, as a shell reports a
// program killed by it: 130 after SIGINT, 143 after SIGTERM. 0 while no
// stop was asked for.
int StopStatus();
