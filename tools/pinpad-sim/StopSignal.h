#pragma once

// SIGINT and SIGTERM ask a tool to stop, which its loops check between
// steps; SIGPIPE is ignored, so that a closed peer shows as a failed write.
void CatchStopSignals();
bool StopRequested();
