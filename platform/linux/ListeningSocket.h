#pragma once

// A listening TCP socket shared by every connection listening on its port. It is closed when
// the last of them goes, so a port is open only while someone listens on it.
class TListeningSocket {
  public:
    // Takes over the descriptor.
    explicit TListeningSocket(int descriptor) : m_descriptor(descriptor) {}
    ~TListeningSocket();
    TListeningSocket(const TListeningSocket&) = delete;
    TListeningSocket& operator=(const TListeningSocket&) = delete;

    int Descriptor() const { return m_descriptor; }

  private:
    int m_descriptor;
};
