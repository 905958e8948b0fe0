#pragma once

#include <sys/types.h>

#include <string>

#include "platform/Descriptor.h"

// An exclusive lock on a directory, held while the object lives: one agent per settings and
// trace directory. It is the system's lock on the directory itself (flock), so it needs no
// write access, leaves nothing behind, and goes with the process however that ends.
class TDirectoryLock {
  public:
    enum class EResult {
        Taken,   // this process holds the directory now
        Held,    // another process holds it
        Failed,  // the directory cannot be opened: nothing is held
    };

    // Takes the lock on directory, without waiting. When another process holds it, holder is
    // its process id, or 0 when the system does not tell it.
    [[nodiscard]] EResult Take(const std::string& directory, pid_t& holder);

  private:
    TDescriptor m_directory;
};
