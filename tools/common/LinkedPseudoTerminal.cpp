#include "common/LinkedPseudoTerminal.h"

#include <fcntl.h>
#include <pty.h>
#include <sys/stat.h>
#include <termios.h>
#include <unistd.h>

#include <cerrno>
#include <climits>
#include <cstring>

namespace {

// Where the symbolic link at path points; empty when it is no link.
std::string LinkTarget(const std::string& path) {
    char target[PATH_MAX];
    const ssize_t length = readlink(path.c_str(), target, sizeof target);
    return length > 0 && static_cast<std::size_t>(length) < sizeof target
               ? std::string(target, static_cast<std::size_t>(length))
               : std::string();
}

// Whether the file at path is what an earlier run leaves behind: a symbolic
// link to a pseudo-terminal that no longer exists.
bool IsLeftOver(const std::string& path, const struct stat& file) {
    struct stat target {};
    return S_ISLNK(file.st_mode) && LinkTarget(path).starts_with("/dev/pts/") &&
           stat(path.c_str(), &target) != 0 && errno == ENOENT;
}

}  // namespace

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
        if (!IsLeftOver(linkPath, existing)) {
            error = linkPath +
                    " exists; not replacing it (only a link to a pseudo-terminal that no longer "
                    "exists is replaced)";
            return false;
        }
        unlink(linkPath.c_str());
    }
    const std::string target = ptsname(masterEnd.Get());
    if (symlink(target.c_str(), linkPath.c_str()) != 0) {
        return fail("cannot create the link " + linkPath);
    }
    made.master = std::move(masterEnd);
    made.slave = std::move(slaveEnd);
    made.link = TOwnedLink(linkPath, target);
    return true;
}

TOwnedLink& TOwnedLink::operator=(TOwnedLink&& other) noexcept {
    if (this != &other) {
        Remove();
        m_path = std::exchange(other.m_path, std::string());
        m_target = std::exchange(other.m_target, std::string());
    }
    return *this;
}

void TOwnedLink::Remove() {
    if (!m_path.empty() && LinkTarget(m_path) == m_target) {
        unlink(m_path.c_str());
    }
    m_path.clear();
}
