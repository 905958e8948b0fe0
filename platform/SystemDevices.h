#pragma once

#include "base/Error.h"
#include "platform/Connection.h"
#include "platform/NetworkInterface.h"
#include "platform/RS232.h"

// The devices of the system that ISystem::Instance() returns at each call, looked up in its
// device layer: the defaults of a component that is otherwise given its serial port and its
// network, as SystemTimers() is of one that is given its timers.

// Opens the system's serial port of the params' index (DEVICE_RS232). Sets *line to the port's
// connection, which the caller then owns, or leaves it null; without such a port there is no
// line and no error.
Error OpenSystemSerialPort(const TRs232Params& params, IConnection** line);

// The system's Ethernet interface (DEVICE_ETHERNET 0); null without one.
INetworkInterface* SystemEthernet();
