#pragma once

#include <cstdint>

#include "base/Error.h"

// An open file that can be read. Deleting it closes the file.
class IFileReadable {
  public:
    virtual ~IFileReadable() = default;
    // Reads up to `count` bytes at the current position: the number read, 0
    // at the end of the file, -1 on failure.
    virtual long Read(unsigned char* buffer, unsigned long count) = 0;
    // Moves to an absolute position: the new position, or -1.
    virtual long Seek(unsigned long position) = 0;
    // The current position, or -1.
    virtual long Tell() = 0;
    // The file's length in bytes, or -1; the position does not move.
    virtual long GetLength() = 0;
};

// An open file that can also be written.
class IFileWritable : public IFileReadable {
  public:
    // Writes at the current position (at the end in append mode): the number
    // written, or -1.
    virtual long Write(const unsigned char* data, unsigned long count) = 0;
};

// Open mode bits of IFileSystem::OpenForWrite; the first one present in the
// order truncate, append, create, read-write decides.
enum : unsigned short {
    FILE_MODE_READ = 0x01,
    FILE_MODE_READ_WRITE = 0x02,
    FILE_MODE_CREATE = 0x04,
    FILE_MODE_TRUNCATE = 0x08,
    FILE_MODE_APPEND = 0x10,
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
