#pragma once

#include <string>

#include "platform/Descriptor.h"

// Sets a serial line to raw 8-bit bytes at 115200 baud, no parity, one stop
// bit, no flow control, reads that never wait. False when it cannot.
bool MakeRawLine(int fd);

// A pseudo-terminal pair whose slave is raw from the start and reachable
// through a symbolic link, as a serial device a program can be pointed at.
struct TLinkedPseudoTerminal {
    TDescriptor master;  // non-blocking
    TDescriptor slave;   // kept open, so the master never sees a hang-up
};

// Makes the pair and links linkPath to its slave, replacing a symbolic link
// left there by an earlier run (never any other kind of file). False with the
// reason in error when it cannot.
bool MakeLinkedPseudoTerminal(const std::string& linkPath, TLinkedPseudoTerminal& made,
                              std::string& error);
