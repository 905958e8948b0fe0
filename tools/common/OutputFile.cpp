#include "common/OutputFile.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <utility>
#include <vector>

namespace {

namespace fs = std::filesystem;

// As many links as the kernel follows in one path.
constexpr int kMaxLinks = 40;

std::string Reason(const std::string& what, int error) {
    return what + ": " + std::strerror(error);
}

// The path a chain of symbolic links ends at (the path itself when it is
// none), whether that exists or not. False with errno set when a link
// cannot be read or the chain is too long.
bool FollowLinks(fs::path& path) {
    for (int hops = 0; hops <= kMaxLinks; ++hops) {
        struct stat status {};
        if (lstat(path.c_str(), &status) != 0 || !S_ISLNK(status.st_mode)) {
            return true;
        }
        std::vector<char> target(static_cast<std::size_t>(status.st_size) + 2);
        const ssize_t length = readlink(path.c_str(), target.data(), target.size() - 1);
        if (length < 0) {
            return false;
        }
        path = path.parent_path() / fs::path(std::string(target.data(), length));
    }
    errno = ELOOP;
    return false;
}

// The permissions a new file gets: as open() would give them.
mode_t NewFileMode() {
    const mode_t mask = umask(0);
    umask(mask);
    return 0666 & ~mask;
}

// What stands at an output path, its symbolic links followed.
struct TTarget {
    fs::path path;      // the end of the links, or the path itself
    std::string shown;  // the path as given, with the end of its links
    bool exists = false;
    struct stat status {};
    fs::path directory;  // where a temporary file of a regular file goes
};

// Finds the target of path and whether it can be an output. False with what
// is wrong in error.
bool FindTarget(const std::string& path, TTarget& target, std::string& error) {
    target.path = path;
    if (!FollowLinks(target.path)) {
        error = Reason("cannot follow " + path, errno);
        return false;
    }
    target.shown = target.path == fs::path(path) ? path : path + " (" + target.path.string() + ")";
    target.exists = stat(target.path.c_str(), &target.status) == 0;
    if (!target.exists && errno != ENOENT) {
        error = Reason("cannot write " + target.shown, errno);
        return false;
    }
    if (target.exists && S_ISDIR(target.status.st_mode)) {
        error = Reason("cannot write " + target.shown, EISDIR);
        return false;
    }
    if (target.exists && !S_ISREG(target.status.st_mode)) {
        return true;
    }
    target.directory = target.path.has_parent_path() ? target.path.parent_path() : fs::path(".");
    struct stat directory {};
    if (stat(target.directory.c_str(), &directory) != 0) {
        error = Reason(
            "cannot write " + target.shown + ": no directory " + target.directory.string(), errno);
        return false;
    }
    if (!S_ISDIR(directory.st_mode)) {
        error = Reason("cannot write " + target.shown, ENOTDIR);
        return false;
    }
    return true;
}

bool IsStandardOutput(const std::string& path) {
    return path.empty() || path == "-";
}

}  // namespace

bool TOutputFile::Check(const std::string& path, std::string& error) {
    if (IsStandardOutput(path)) {
        return true;
    }
    TTarget target;
    if (!FindTarget(path, target, error)) {
        return false;
    }
    const fs::path& written =
        target.exists && !S_ISREG(target.status.st_mode) ? target.path : target.directory;
    if (access(written.c_str(), W_OK) != 0) {
        error = Reason("cannot write " + target.shown, errno);
        return false;
    }
    return true;
}

std::unique_ptr<TOutputFile> TOutputFile::Open(const std::string& path, std::string& error) {
    if (IsStandardOutput(path)) {
        TDescriptor output(fcntl(STDOUT_FILENO, F_DUPFD_CLOEXEC, 0));
        if (!output.IsOpen()) {
            error = Reason("cannot write standard output", errno);
            return nullptr;
        }
        return std::unique_ptr<TOutputFile>(new TOutputFile(std::move(output), "", ""));
    }
    TTarget target;
    if (!FindTarget(path, target, error)) {
        return nullptr;
    }
    if (target.exists && !S_ISREG(target.status.st_mode)) {
        // A device or a FIFO is written as it is; a FIFO waits here for its
        // reader.
        TDescriptor output(open(target.path.c_str(), O_WRONLY | O_NOCTTY | O_CLOEXEC));
        if (!output.IsOpen()) {
            error = Reason("cannot write " + target.shown, errno);
            return nullptr;
        }
        return std::unique_ptr<TOutputFile>(new TOutputFile(std::move(output), "", ""));
    }
    std::string temporary =
        (target.directory / ("." + target.path.filename().string() + ".XXXXXX")).string();
    TDescriptor output(mkostemp(temporary.data(), O_CLOEXEC));
    if (!output.IsOpen()) {
        error = Reason("cannot write " + target.shown, errno);
        return nullptr;
    }
    // The new file keeps the permissions of the one it replaces.
    fchmod(output.Get(), target.exists ? target.status.st_mode & 07777 : NewFileMode());
    return std::unique_ptr<TOutputFile>(
        new TOutputFile(std::move(output), std::move(temporary), target.path.string()));
}

TOutputFile::TOutputFile(TDescriptor descriptor, std::string temporary, std::string target)
    : m_descriptor(std::move(descriptor)),
      m_temporary(std::move(temporary)),
      m_target(std::move(target)) {}

TOutputFile::~TOutputFile() {
    if (!m_temporary.empty()) {
        unlink(m_temporary.c_str());
    }
}

bool TOutputFile::Write(std::string_view data, std::string& error) {
    if (!WriteAll(m_descriptor.Get(), data.data(), data.size())) {
        error = Reason("cannot write " + (m_target.empty() ? "the output" : m_target), errno);
        return false;
    }
    return true;
}

bool TOutputFile::Finish(std::string& error) {
    if (m_temporary.empty()) {
        return true;
    }
    // The target is checked once more: whatever came to stand there while
    // the body arrived is replaced only when it is a regular file.
    struct stat status {};
    if (lstat(m_target.c_str(), &status) == 0 && !S_ISREG(status.st_mode)) {
        error = "cannot write " + m_target + ": it is no longer a regular file";
        return false;
    }
    if (fsync(m_descriptor.Get()) != 0 || rename(m_temporary.c_str(), m_target.c_str()) != 0) {
        error = Reason("cannot write " + m_target, errno);
        return false;
    }
    m_temporary.clear();
    return true;
}
