#include "PseudoTerminal.h"

#include <pty.h>
#include <termios.h>
#include <unistd.h>

#include <stdexcept>

TPseudoTerminal::TPseudoTerminal() {
    int master = -1;
    int slave = -1;
    if (::openpty(&master, &slave, nullptr, nullptr, nullptr) != 0) {
        throw std::runtime_error("no pseudo-terminal");
    }
    m_master = TDescriptor(master);
    m_slave = TDescriptor(slave);
    termios settings{};
    ::tcgetattr(slave, &settings);
    ::cfmakeraw(&settings);
    ::tcsetattr(slave, TCSANOW, &settings);
    std::filesystem::create_symlink(::ttyname(slave), m_dir / "ttyS99");
    m_previousDirectory = std::filesystem::current_path();
    std::filesystem::current_path(m_dir.Path());
}

TPseudoTerminal::~TPseudoTerminal() {
    std::filesystem::current_path(m_previousDirectory);
}
