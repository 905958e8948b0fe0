#pragma once

#include <cstdint>
#include <string>

#include "base/Error.h"
#include "base/FileStream.h"
#include "platform/Descriptor.h"
#include "platform/FileSystem.h"

// The file object of every file opened through TPCFileSystem.
class TPCFile : public IFileWritable {
  public:
    // Takes over an open descriptor and closes it on destruction.
    TPCFile(const char* name, int descriptor);
    TPCFile(const TPCFile&) = delete;
    TPCFile& operator=(const TPCFile&) = delete;

    long Read(unsigned char* buffer, unsigned long count) override;
    long Seek(unsigned long position) override;
    long Tell() override;
    long GetLength() override;
    long Write(const unsigned char* data, unsigned long count) override;

    // The name the file was opened with, not its full path.
    const char* GetName() const { return m_name; }

  private:
    TDescriptor m_descriptor;
    char m_name[kMaxPathLength + 1];
};

// Files under a root directory through the operating system's descriptor
// calls. An empty root uses names as they are given.
class TPCFileSystem : public IFileSystem {
  public:
    // A null root gives an empty one.
    explicit TPCFileSystem(const char* root);

    Error FlushCacheToDisk() override;
    Error EraseFile(const char* name) override;
    Error RenameFile(const char* from, const char* to) override;
    IFileReadable* OpenForRead(const char* name) override;
    IFileWritable* OpenForWrite(const char* name, unsigned short mode) override;
    Error GetLastError() override;

    // Opens the file with the flags of `mode`: the descriptor, or a negative
    // value with errno set.
    virtual int OpenFilePointer(const char* name, unsigned short mode);
    // Writes root + "/" + name (just name for an empty root) into
    // `destination`, which holds kMaxPathLength + 1 characters; a longer path
    // is cut. Returns destination.
    virtual char* MakeFullPath(char* destination, const char* name);

    const std::string& GetRoot() const { return m_root; }

  protected:
    // The full path of `name`, or false with errno ENAMETOOLONG when it would
    // exceed kMaxPathLength characters.
    bool BuildFullPath(const char* name, char (&path)[kMaxPathLength + 1]);

  private:
    TPCFile* OpenFileWithMode(const char* name, unsigned short mode);
    // Recreates `to` with the contents of `from`, then erases `from`; used for
    // updated executables so that the target gets the executable permission.
    Error RenameByCopying(const char* from, const char* to);

    std::string m_root;
    Error m_lastError;
};

// The full path of the running program's executable, or an empty text when
// it cannot be read.
std::string ExecutablePath();

// The Linux file system: a relative directory lies beside the program's own
// executable and is created when missing; an absolute one is used as it is.
class TLinFileSystem : public TPCFileSystem {
  public:
    // An empty directory gives the executable's own directory.
    explicit TLinFileSystem(const char* directory);
    // As above, for a program whose executable is `executablePath` (an empty
    // path stands for an executable that cannot be found).
    TLinFileSystem(const char* directory, const std::string& executablePath);

    std::uint32_t GetFreeSpaceInKbytes() override;
    std::uint32_t GetFileLength(const char* name) override;
};
