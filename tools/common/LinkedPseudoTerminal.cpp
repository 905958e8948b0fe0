#include "common/LinkedPseudoTerminal.h"

#include <fcntl.h>
#include <pty.h>
#include <sys/stat.h>
#include <termios.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

bool MakeRawLine(int fd) {
    termios settings{};
    if (tcgetattr(fd, &settings) != 0) {
        return false;
    }
    cfmakeraw(&settings);
    cfsetispeed(&settings, B115200);
    cfsetospeed(&settings, B115200);
    settings.c_cflag |= CLOCAL | CREAD;
    settings.c_cflag &= ~(CSTOPB | PARENB | CRTSCTS);
    settings.c_cc[VMIN] = 0;
    settings.c_cc[VTIME] = 0;
    return tcsetattr(fd, TCSANOW, &settings) == 0;
}

bool MakeLinkedPseudoTerminal(const std::string& linkPath, TLinkedPseudoTerminal& made,
                              std::string& error) {
    const auto fail = [&error](const std::string& what) {
        error = what + ": " + std::strerror(errno);
        return false;
    };
    int master = -1;
    int slave = -1;
    if (openpty(&master, &slave, nullptr, nullptr, nullptr) != 0) {
        return fail("cannot make a pseudo-terminal");
    }
    TDescriptor masterEnd(master);
    TDescriptor slaveEnd(slave);
    // Raw from the start: a pseudo-terminal echoes by default, which would
    // send every frame back before the line's user has set the line up.
    if (!MakeRawLine(slaveEnd.Get()) || fcntl(masterEnd.Get(), F_SETFL, O_NONBLOCK) != 0) {
        return fail("cannot set up the pseudo-terminal");
    }
    struct stat existing {};
    if (lstat(linkPath.c_str(), &existing) == 0) {
        if (!S_ISLNK(existing.st_mode)) {
            error = linkPath + " exists and is not a symbolic link; not replacing it";
            return false;
        }
        unlink(linkPath.c_str());  // left behind by an earlier run
    }
    if (symlink(ptsname(masterEnd.Get()), linkPath.c_str()) != 0) {
        return fail("cannot create the link " + linkPath);
    }
    made.master = std::move(masterEnd);
    made.slave = std::move(slaveEnd);
    return true;
}
