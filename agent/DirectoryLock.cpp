#include "agent/DirectoryLock.h"

#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>

#include <cerrno>
#include <cinttypes>
#include <cstdio>
#include <fstream>
#include <sstream>
#include <utility>

namespace {

// The process that holds an exclusive flock on the file of fd, from the system's list of
// locks; 0 when the list cannot be read or does not show it.
pid_t FindHolder(int fd) {
    struct stat file {};
    if (fstat(fd, &file) != 0) {
        return 0;
    }
    char identity[64];
    std::snprintf(identity, sizeof identity, "%02x:%02x:%ju", major(file.st_dev),
                  minor(file.st_dev), static_cast<std::uintmax_t>(file.st_ino));
    // Lines like "1: FLOCK  ADVISORY  WRITE 4242 08:01:1234567 0 EOF".
    std::ifstream locks("/proc/locks");
    std::string line;
    while (std::getline(locks, line)) {
        std::istringstream fields(line);
        std::string number, kind, mode, access, fileId;
        long pid = 0;
        if (fields >> number >> kind >> mode >> access >> pid >> fileId && kind == "FLOCK" &&
            access == "WRITE" && fileId == identity) {
            return static_cast<pid_t>(pid);
        }
    }
    return 0;
}

}  // namespace

TDirectoryLock::EResult TDirectoryLock::Take(const std::string& directory, pid_t& holder) {
    holder = 0;
    TDescriptor opened(open(directory.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
    if (!opened) {
        return EResult::Failed;
    }
    if (flock(opened.Get(), LOCK_EX | LOCK_NB) != 0) {
        if (errno != EWOULDBLOCK) {
            return EResult::Failed;
        }
        holder = FindHolder(opened.Get());
        return EResult::Held;
    }
    m_directory = std::move(opened);
    return EResult::Taken;
}
