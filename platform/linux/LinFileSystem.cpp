#include "platform/linux/LinFileSystem.h"

#include <fcntl.h>
#include <strings.h>
#include <sys/stat.h>
#include <sys/statfs.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <climits>
#include <cstdio>
#include <cstring>
#include <limits>
#include <memory>
#include <vector>

namespace {

constexpr mode_t kFilePermission = 0666;
constexpr mode_t kExecutablePermission = 0777;
constexpr mode_t kDirectoryPermission = 0776;

// The first mode bit present, in this order, decides the open flags.
int OpenFlags(unsigned short mode) {
    int flags = O_RDONLY;
    if (mode & FILE_MODE_TRUNCATE) {
        flags = O_RDWR | O_CREAT | O_TRUNC;
    } else if (mode & FILE_MODE_APPEND) {
        flags = O_RDWR | O_CREAT | O_APPEND;
    } else if (mode & FILE_MODE_CREATE) {
        flags = O_RDWR | O_CREAT;
    } else if (mode & FILE_MODE_READ_WRITE) {
        flags = O_RDWR;
    }
    if (mode & FILE_MODE_NO_FOLLOW) {
        flags |= O_NOFOLLOW;
    }
    return flags | O_CLOEXEC;
}

bool IsExecutableUpdate(const char* name) {
    return std::strstr(name, cExecutableUpdate) != nullptr;
}

const char* OrEmpty(const char* text) {
    return text ? text : "";
}

std::uint32_t SaturatedUint32(unsigned long long value) {
    return value > std::numeric_limits<std::uint32_t>::max()
               ? std::numeric_limits<std::uint32_t>::max()
               : static_cast<std::uint32_t>(value);
}

// A relative directory lies beside the executable; without a readable
// executable path the root is empty.
std::string RootFor(const char* directory, const std::string& executablePath) {
    std::string name = OrEmpty(directory);
    if (name.starts_with('/')) {
        return name;
    }
    std::string root = executablePath;
    root.erase(std::min(root.size(), root.rfind('/')));
    if (executablePath.empty() || name.empty()) {
        return root;
    }
    return root + "/" + name;
}

}  // namespace

std::string ExecutablePath() {
    char path[PATH_MAX];
    ssize_t length = readlink("/proc/self/exe", path, sizeof path);
    if (length < 0 || static_cast<std::size_t>(length) >= sizeof path) {
        return {};
    }
    return std::string(path, static_cast<std::size_t>(length));
}

// --- TPCFile ---------------------------------------------------------------

TPCFile::TPCFile(const char* name, int descriptor) : m_descriptor(descriptor), m_name{} {
    std::snprintf(m_name, sizeof m_name, "%s", OrEmpty(name));
}

long TPCFile::Read(unsigned char* buffer, unsigned long count) {
    ssize_t result;
    do {
        result = read(m_descriptor.Get(), buffer, count);
    } while (result < 0 && errno == EINTR);
    return result < 0 ? -1 : static_cast<long>(result);
}

long TPCFile::Seek(unsigned long position) {
    if (position > static_cast<unsigned long>(std::numeric_limits<off_t>::max())) {
        return -1;
    }
    off_t result = lseek(m_descriptor.Get(), static_cast<off_t>(position), SEEK_SET);
    return result < 0 ? -1 : static_cast<long>(result);
}

long TPCFile::Tell() {
    off_t result = lseek(m_descriptor.Get(), 0, SEEK_CUR);
    return result < 0 ? -1 : static_cast<long>(result);
}

long TPCFile::GetLength() {
    struct stat status;
    return fstat(m_descriptor.Get(), &status) < 0 ? -1 : static_cast<long>(status.st_size);
}

long TPCFile::Write(const unsigned char* data, unsigned long count) {
    ssize_t result;
    do {
        result = write(m_descriptor.Get(), data, count);
    } while (result < 0 && errno == EINTR);
    return result < 0 ? -1 : static_cast<long>(result);
}

// --- TPCFileSystem ---------------------------------------------------------

TPCFileSystem::TPCFileSystem(const char* root) : m_root(OrEmpty(root)), m_lastError(0) {}

Error TPCFileSystem::FlushCacheToDisk() {
    return Error(0);
}

Error TPCFileSystem::GetLastError() {
    return m_lastError;
}

char* TPCFileSystem::MakeFullPath(char* destination, const char* name) {
    if (m_root.empty()) {
        std::snprintf(destination, kMaxPathLength + 1, "%s", OrEmpty(name));
    } else {
        std::snprintf(destination, kMaxPathLength + 1, "%s/%s", m_root.c_str(), OrEmpty(name));
    }
    return destination;
}

bool TPCFileSystem::BuildFullPath(const char* name, char (&path)[kMaxPathLength + 1]) {
    std::size_t length = std::strlen(OrEmpty(name)) + (m_root.empty() ? 0 : m_root.size() + 1);
    if (length > kMaxPathLength) {
        errno = ENAMETOOLONG;
        return false;
    }
    MakeFullPath(path, name);
    return true;
}

int TPCFileSystem::OpenFilePointer(const char* name, unsigned short mode) {
    char path[kMaxPathLength + 1];
    if (!BuildFullPath(name, path)) {
        return -1;
    }
    mode_t permission = IsExecutableUpdate(OrEmpty(name)) ? kExecutablePermission : kFilePermission;
    return open(path, OpenFlags(mode), permission);
}

TPCFile* TPCFileSystem::OpenFileWithMode(const char* name, unsigned short mode) {
    int descriptor = OpenFilePointer(name, mode);
    if (descriptor < 0) {
        m_lastError = ErrnoError(FILE_ERROR_OPEN);
        return nullptr;
    }
    return new TPCFile(name, descriptor);
}

IFileReadable* TPCFileSystem::OpenForRead(const char* name) {
    return OpenFileWithMode(name, FILE_MODE_READ);
}

IFileWritable* TPCFileSystem::OpenForWrite(const char* name, unsigned short mode) {
    return OpenFileWithMode(name, mode | FILE_MODE_READ_WRITE);
}

Error TPCFileSystem::EraseFile(const char* name) {
    char path[kMaxPathLength + 1];
    if (!BuildFullPath(name, path) || (unlink(path) < 0 && errno != ENOENT)) {
        m_lastError = ErrnoError(FILE_ERROR_ERASE);
    } else {
        m_lastError = Error(0);
    }
    return m_lastError;
}

Error TPCFileSystem::RenameFile(const char* from, const char* to) {
    from = OrEmpty(from);
    to = OrEmpty(to);
    Error result(0);
    if (strcasecmp(from, to) == 0) {
        // Same name, perhaps in other letter case: nothing to do.
    } else if (IsExecutableUpdate(to)) {
        result = RenameByCopying(from, to);
    } else {
        // rename replaces an existing target in one step, so a failed rename
        // leaves the target as it was.
        char fromPath[kMaxPathLength + 1];
        char toPath[kMaxPathLength + 1];
        if (!BuildFullPath(from, fromPath) || !BuildFullPath(to, toPath) ||
            rename(fromPath, toPath) < 0) {
            result = ErrnoError(FILE_ERROR_RENAME);
        }
    }
    m_lastError = result;
    return result;
}

Error TPCFileSystem::RenameByCopying(const char* from, const char* to) {
    Error result(FILE_ERROR_RENAME);
    std::unique_ptr<IFileReadable> source(OpenForRead(from));
    if (!source) {
        return result;
    }
    std::unique_ptr<IFileWritable> target(OpenForWrite(to, FILE_MODE_CREATE | FILE_MODE_TRUNCATE));
    if (target) {
        long length = source->GetLength();
        if (length >= 0) {
            std::vector<unsigned char> bytes(static_cast<std::size_t>(length) + 1);
            auto count = static_cast<unsigned long>(length);
            if (source->Read(bytes.data(), count) == length &&
                target->Write(bytes.data(), count) == length) {
                result = Error(0);
            }
        }
    }
    target.reset();
    source.reset();
    if (result.Code() == 0) {
        result = EraseFile(from);
    }
    return result;
}

// --- TLinFileSystem --------------------------------------------------------

TLinFileSystem::TLinFileSystem(const char* directory)
    : TLinFileSystem(directory, ExecutablePath()) {}

TLinFileSystem::TLinFileSystem(const char* directory, const std::string& executablePath)
    : TPCFileSystem(RootFor(directory, executablePath).c_str()) {
    bool named = *OrEmpty(directory) != '\0';
    bool absolute = *OrEmpty(directory) == '/';
    if (named && (absolute || !executablePath.empty())) {
        mkdir(GetRoot().c_str(), kDirectoryPermission);  // an existing directory is the usual case
    }
}

std::uint32_t TLinFileSystem::GetFileLength(const char* name) {
    char path[kMaxPathLength + 1];
    struct stat status;
    if (!BuildFullPath(name, path) || stat(path, &status) < 0) {
        return 0;
    }
    return SaturatedUint32(static_cast<unsigned long long>(status.st_size));
}

std::uint32_t TLinFileSystem::GetFreeSpaceInKbytes() {
    struct statfs status;
    if (statfs("/", &status) < 0) {
        return 0;
    }
    unsigned long long bytes = static_cast<unsigned long long>(status.f_bfree) *
                               static_cast<unsigned long long>(status.f_bsize);
    return SaturatedUint32(bytes / 1024);
}
