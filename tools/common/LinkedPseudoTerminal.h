#pragma once

#include <string>
#include <utility>

#include "platform/Descriptor.h"

// Sets a serial line to raw 8-bit bytes at 115200 baud, no parity, one stop
// bit, no flow control, reads that never wait. False when it cannot.
bool MakeRawLine(int fd);

// A symbolic link this program made. When the owner goes, the link goes with
// it, but only while it still points where it was made to point: a link that
// someone replaced in the meantime is theirs. Move only.
class TOwnedLink {
  public:
    TOwnedLink() = default;
    TOwnedLink(std::string path, std::string target)
        : m_path(std::move(path)), m_target(std::move(target)) {}
    TOwnedLink(TOwnedLink&& other) noexcept { *this = std::move(other); }
    TOwnedLink& operator=(TOwnedLink&& other) noexcept;
    TOwnedLink(const TOwnedLink&) = delete;
    TOwnedLink& operator=(const TOwnedLink&) = delete;
    ~TOwnedLink() { Remove(); }

  private:
    void Remove();

    std::string m_path;  // empty: nothing owned
    std::string m_target;
};

// A pseudo-terminal pair whose slave is raw from the start and reachable
// through a symbolic link, as a serial device a program can be pointed at.
// The link goes with the pair.
struct TLinkedPseudoTerminal {
    TDescriptor master;  // non-blocking
    TDescriptor slave;   // kept open, so the master never sees a hang-up
    TOwnedLink link;
};

// Makes the pair and links linkPath to its slave. Nothing is ever taken away
// from someone else: a file of any kind at linkPath is refused, except a
// symbolic link to a pseudo-terminal that no longer exists, which an earlier
// run left behind and which is replaced. False with the reason in error when
// it cannot.
bool MakeLinkedPseudoTerminal(const std::string& linkPath, TLinkedPseudoTerminal& made,
                              std::string& error);
