#pragma once

// Error codes of the tunnel.
// The tunnel cannot make connections: no network interface, or the stack is not up.
constexpr unsigned long kErrorNoNetworkInterface = 20011;
// The tunnel interface could not be opened: no serial port, or nobody answered on it.
constexpr unsigned long kErrorInterfaceNotOpened = 20025;
// A tunnelled connection has not been refused by the agent (its initial last error).
constexpr unsigned long kErrorNoCallResult = 20027;
