#pragma once

#include <cstdint>

#include "base/Error.h"

// States a connection reports.
enum CONNSTATE : std::uint32_t {
    // An outgoing connect (or a tunnelled call or listen) not yet answered.
    CONNSTATE_CONNECTING = 1,
    // Established: data flows both ways.
    CONNSTATE_CONNECTED = 2,
    // Closed by the peer, failed or broken; GetLastError tells why.
    CONNSTATE_DISCONNECTED = 3,
    // Waiting for an incoming connection on a port.
    CONNSTATE_LISTENING = 4,
};

// One bidirectional byte stream. Callers poll GetState and Receive on every
// pass of their loop, and a pass that found nothing to do pauses through
// TActivityWait (platform/ActivityWait.h). The receiver of a connection owns
// it; deleting it closes it.
//
// Which calls may block, and for how long:
// - a socket's calls never wait;
// - a serial line's Receive waits for input at most its receive wait (25 ms
//   unless set; a loop that sleeps on the line sets 0, which only looks), and
//   its Send waits at most 3 s for the line to take bytes;
// - TBufferedConnection::Send offers until everything is taken, pausing
//   between offers, and gives up once nothing was taken for
//   kSendStallLimitMs (15 s);
// - a tunnelled connection's calls each step the tunnel, which reads its
//   serial line as above; its Send also waits for the link, when it is down,
//   at most 3 s.
class IConnection {
  public:
    virtual ~IConnection() = default;
    // Offers `length` bytes. Returns how many were taken (possibly fewer), 0
    // when the connection cannot take data now, negative when it is broken.
    virtual long Send(const unsigned char* data, unsigned long length) = 0;
    // Copies at most `length` bytes. Returns how many were copied, 0 when
    // nothing is available now, negative when nothing more will come.
    virtual long Receive(unsigned char* buffer, unsigned long length) = 0;
    // The peer's IPv4 address, or 0 when the connection has none.
    virtual unsigned long GetPeerAddress() = 0;
    // The current state. Asking also advances the connection (a completed
    // connect, an accepted peer, tunnel traffic), so poll it while waiting.
    virtual CONNSTATE GetState() = 0;
    // Why the most recent operation failed; code 0 while nothing has failed.
    virtual Error GetLastError() = 0;
};
