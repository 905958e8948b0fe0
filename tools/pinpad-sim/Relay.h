#pragma once

#include <functional>

#include "platform/Connection.h"

// How a relay ended.
enum class TRelayEnd {
    ClosedByPeer,  // the connection reported itself closed
    OutputClosed,  // the output descriptor no longer takes data
    Stopped,       // the caller asked to stop
};

struct TRelayResult {
    TRelayEnd end = TRelayEnd::Stopped;
    unsigned long long sent = 0;      // bytes taken from input and sent
    unsigned long long received = 0;  // bytes received and written to output
};

// Relays bytes in both directions between a connection and a pair of
// descriptors, as netcat does: input goes out on the connection, what the
// connection receives goes to output. The end of input is not the end of the
// relay; it runs until the connection closes, output fails or stop() is true.
// Everything the connection received before it closed is written out.
TRelayResult Relay(IConnection& connection, int input, int output,
                   const std::function<bool()>& stop);
