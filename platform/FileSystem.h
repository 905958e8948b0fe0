#pragma once

#include <cstddef>
#include <cstdint>

#include "base/Error.h"
#include "base/FileStream.h"

// Open mode bits of IFileSystem::OpenForWrite; the first one present in the
// order truncate, append, create, read-write decides. FILE_MODE_NO_FOLLOW may
// be added to any of them: a name that is a symbolic link then fails to open
// (errno ELOOP) instead of reaching the link's target.
enum : unsigned short {
    FILE_MODE_READ = 0x01,
    FILE_MODE_READ_WRITE = 0x02,
    FILE_MODE_CREATE = 0x04,
    FILE_MODE_TRUNCATE = 0x08,
    FILE_MODE_APPEND = 0x10,
    FILE_MODE_NO_FOLLOW = 0x20,
};

// Error codes of file system operations; the errno of the failing call hangs
// below them as a sub-error.
enum : unsigned long {
    FILE_ERROR_OPEN = 19001,
    FILE_ERROR_ERASE = 19002,
    FILE_ERROR_RENAME = 19003,
};

// Files by name under one root directory.
class IFileSystem {
  public:
    virtual ~IFileSystem() = default;
    virtual std::uint32_t GetFreeSpaceInKbytes() = 0;
    virtual Error FlushCacheToDisk() = 0;
    // Length of the named file; 0 when it does not exist or cannot be examined.
    virtual std::uint32_t GetFileLength(const char* name) = 0;
    // Erasing a file that does not exist succeeds.
    virtual Error EraseFile(const char* name) = 0;
    virtual Error RenameFile(const char* from, const char* to) = 0;
    // A new file object owned by the caller, or null (see GetLastError).
    virtual IFileReadable* OpenForRead(const char* name) = 0;
    virtual IFileWritable* OpenForWrite(const char* name, unsigned short mode) = 0;
    // The outcome of the last failed open, erase or rename.
    virtual Error GetLastError() = 0;
};

// Part of the name of every updated executable waiting to replace the
// program; files whose name holds it are created executable.
inline constexpr char cExecutableUpdate[] = ".new";

// Longest name or full path, terminator excluded.
inline constexpr std::size_t kMaxPathLength = 259;
