#pragma once

#include <filesystem>

#include "Loopback.h"
#include "TempDir.h"

// A pseudo-terminal pair for tests of serial lines. The slave is raw from the start (nothing
// written to the master before the slave's user opens it is echoed or translated) and is
// reachable as "ttyS99", the name serial port 9 opens, in a temporary directory that is the
// process's current directory while the object lives.
class TPseudoTerminal {
  public:
    TPseudoTerminal();
    ~TPseudoTerminal();
    TPseudoTerminal(const TPseudoTerminal&) = delete;
    TPseudoTerminal& operator=(const TPseudoTerminal&) = delete;

    int Master() const { return m_master.Get(); }
    int Slave() const { return m_slave.Get(); }
    const TempDir& Directory() const { return m_dir; }

  private:
    TempDir m_dir;
    TDescriptor m_master;
    TDescriptor m_slave;
    std::filesystem::path m_previousDirectory;
};
