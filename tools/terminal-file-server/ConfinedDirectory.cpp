#include "ConfinedDirectory.h"
#include "platform/linux/LinFileSystem.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>

namespace {

constexpr int kDirectoryFlags = O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC;
constexpr mode_t kNewFileMode = 0644;
constexpr mode_t kNewDirectoryMode = 0755;

}  // namespace

TConfinedDirectory::TConfinedDirectory(int parent, const std::string& name, bool create) {
    if (!IsPlainName(name)) {
        return;
    }
    if (create) {
        mkdirat(parent, name.c_str(), kNewDirectoryMode);  // it may exist already
    }
    m_descriptor.Reset(openat(parent, name.c_str(), kDirectoryFlags));
}

TConfinedDirectory::TConfinedDirectory(const std::string& path)
    : m_descriptor(open(path.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC)) {}

bool TConfinedDirectory::IsPlainName(const std::string& name) {
    return !name.empty() && name != "." && name.find('/') == std::string::npos &&
           name.find('\0') == std::string::npos && name.find("..") == std::string::npos;
}

std::unique_ptr<IFileReadable> TConfinedDirectory::OpenForRead(const std::string& name) const {
    if (!IsOpen() || !IsPlainName(name)) {
        return nullptr;
    }
    // O_NONBLOCK: a planted FIFO must not hold the server in its open.
    const int fd =
        openat(m_descriptor.Get(), name.c_str(), O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0) {
        return nullptr;
    }
    auto file = std::make_unique<TPCFile>(name.c_str(), fd);
    struct stat status;
    if (fstat(fd, &status) != 0 || !S_ISREG(status.st_mode)) {
        return nullptr;
    }
    return file;
}

std::unique_ptr<IFileWritable> TConfinedDirectory::CreateNew(const std::string& name) const {
    if (!IsOpen() || !IsPlainName(name)) {
        errno = EINVAL;
        return nullptr;
    }
    const int fd = openat(m_descriptor.Get(), name.c_str(),
                          O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, kNewFileMode);
    if (fd < 0) {
        return nullptr;
    }
    return std::make_unique<TPCFile>(name.c_str(), fd);
}

void TConfinedDirectory::Erase(const std::string& name) const {
    if (IsOpen() && IsPlainName(name)) {
        unlinkat(m_descriptor.Get(), name.c_str(), 0);
    }
}
