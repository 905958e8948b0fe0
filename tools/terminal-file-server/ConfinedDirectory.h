#pragma once

#include <memory>
#include <string>

#include "platform/Descriptor.h"
#include "platform/FileSystem.h"

// One directory whose files are reached by plain names only: a name with a
// "/" or a NUL is refused, and no file is opened through a symbolic link, so
// nothing outside the directory can be read or written through it.
class TConfinedDirectory {
  public:
    // Opens the directory itself; with create, makes it first when it is
    // missing. A directory that is a symbolic link is not opened.
    TConfinedDirectory(int parent, const std::string& name, bool create);
    explicit TConfinedDirectory(const std::string& path);

    bool IsOpen() const { return m_descriptor.IsOpen(); }
    int Descriptor() const { return m_descriptor.Get(); }

    // A regular file of the directory for reading, or null: the name is not
    // plain, the file is missing, is a symbolic link, or is no regular file.
    std::unique_ptr<IFileReadable> OpenForRead(const std::string& name) const;
    // A new, empty file of that name, or null with errno set; EEXIST when
    // the name is taken, by a symbolic link too.
    std::unique_ptr<IFileWritable> CreateNew(const std::string& name) const;
    void Erase(const std::string& name) const;

    // Not empty, without "/", NUL or "..", and not "." itself.
    static bool IsPlainName(const std::string& name);

  private:
    TDescriptor m_descriptor;
};
