#pragma once

#include "platform/Descriptor.h"

// A listening TCP socket shared by every connection listening on its port. It is closed when
// the last of them goes, so a port is open only while someone listens on it.
class TListeningSocket {
  public:
    // Takes over the descriptor.
    explicit TListeningSocket(int descriptor) : m_descriptor(descriptor) {}

    int Descriptor() const { return m_descriptor.Get(); }

  private:
    TDescriptor m_descriptor;
};
