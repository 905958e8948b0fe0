#include "agent/StatusFile.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <utility>

#include "platform/Descriptor.h"

namespace {

// Far more than the agent writes for the connections a terminal can hold.
constexpr off_t kLongestStatus = 4 * 1024 * 1024;

// What a name that is not a regular file is, for a person.
const char* Kind(mode_t mode) {
    if (S_ISLNK(mode)) {
        return "a symbolic link";
    }
    if (S_ISDIR(mode)) {
        return "a directory";
    }
    return "not a regular file";
}

}  // namespace

TStatusFile::TStatusFile(std::string directory, const std::string& name, mode_t mode)
    : m_directory(std::move(directory)),
      m_path(m_directory + "/" + name),
      m_temporary(m_directory + "/." + name + "." + std::to_string(getpid())),
      m_mode(mode) {}

std::optional<TStatusFile::TProblem> TStatusFile::Write(const std::string& text) const {
    struct stat existing {};
    if (lstat(m_path.c_str(), &existing) == 0 && !S_ISREG(existing.st_mode)) {
        return TProblem{EEXIST, Kind(existing.st_mode)};
    }
    // A file of this process's name is left from an earlier write that failed, or from an
    // earlier process of the same number; whatever it is, it goes, without being followed.
    unlink(m_temporary.c_str());
    TDescriptor file(
        open(m_temporary.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0666));
    if (file.Get() < 0) {
        return TProblem{errno, {}};
    }
    if ((m_mode != 0 && fchmod(file.Get(), m_mode) != 0) ||
        !WriteAll(file.Get(), text.data(), text.size()) || !file.Close() ||
        rename(m_temporary.c_str(), m_path.c_str()) != 0) {
        const int error = errno;
        unlink(m_temporary.c_str());
        // A directory that took the name since it was looked at refuses the rename.
        if (error == EISDIR) {
            return TProblem{error, Kind(S_IFDIR)};
        }
        return TProblem{error, {}};
    }
    return std::nullopt;
}

bool TStatusFile::Read(const std::string& path, std::string& text, std::string& error) {
    // Without O_NONBLOCK a FIFO under the name would hold the open until a writer came.
    TDescriptor file(open(path.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC));
    struct stat status {};
    if (file.Get() < 0 || fstat(file.Get(), &status) != 0) {
        error = std::strerror(errno);
        return false;
    }
    if (!S_ISREG(status.st_mode)) {
        error = Kind(status.st_mode);
        return false;
    }
    text.clear();
    char buffer[65536];
    for (;;) {
        const ssize_t count = read(file.Get(), buffer, sizeof buffer);
        if (count < 0 && errno == EINTR) {
            continue;
        }
        if (count < 0) {
            error = std::strerror(errno);
            return false;
        }
        if (count == 0) {
            return true;
        }
        text.append(buffer, static_cast<std::size_t>(count));
        if (text.size() > static_cast<std::size_t>(kLongestStatus)) {
            error = "longer than " + std::to_string(kLongestStatus / (1024 * 1024)) +
                    " MiB, which no status is";
            return false;
        }
    }
}
