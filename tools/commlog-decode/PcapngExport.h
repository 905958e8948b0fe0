#pragma once

#include <string>
#include <vector>

#include "TraceDecoder.h"

// Turns an agent's traffic logs into one pcapng capture with the interfaces of the agent's
// live capture: the serial log's bytes cut into SLIP frames and garbage, and each socket log
// connection as a TCP/IPv4 conversation. The logs stamp whole seconds and carry no year: the
// records keep the logs' order, a microsecond apart within a second, in the current year, and
// the file's comment says so. The PC's side of a connection is not logged: it is shown as
// 127.0.0.1 when the peer is on loopback and as 192.0.2.1 otherwise, on a port made up from
// the connection's number. An outgoing connection takes its peer from the terminal's calls
// that succeeded, in order; an accepted one its port from the terminal's listens. Returns the
// capture's bytes.
std::string ExportPcapng(const std::vector<TLogFile>& files);
