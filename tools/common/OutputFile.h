#pragma once

#include <memory>
#include <string>
#include <string_view>

#include "platform/Descriptor.h"

// A file a tool writes as its output. Standard output ("-" or no path) and
// any path that is not a regular file (a device, a FIFO) are written in
// place. A regular file, or a name not yet taken, is written through a
// temporary file beside it that replaces it only once it is whole, so a
// failed or interrupted run leaves the old file as it was. A symbolic link
// is followed: its target is written, the link stays. Nothing but a regular
// file is ever replaced, and no directory is created.
class TOutputFile {
  public:
    // Opens the output of path. Null, with what is wrong in error, when it
    // cannot be written: a missing directory, a directory, no permission.
    static std::unique_ptr<TOutputFile> Open(const std::string& path, std::string& error);

    // Whether Open would find path writable, without creating or opening
    // anything; for an output written only later. False with what is wrong
    // in error.
    [[nodiscard]] static bool Check(const std::string& path, std::string& error);

    // An output still unfinished removes its temporary file.
    ~TOutputFile();
    TOutputFile(const TOutputFile&) = delete;
    TOutputFile& operator=(const TOutputFile&) = delete;

    // Where the output is written.
    int Descriptor() const { return m_descriptor.Get(); }

    // Writes all of data; false, with the reason in error, when it cannot.
    [[nodiscard]] bool Write(std::string_view data, std::string& error);

    // The output is whole: a temporary file takes the place of the target.
    // False, with the reason in error, when that fails.
    [[nodiscard]] bool Finish(std::string& error);

  private:
    TOutputFile(TDescriptor descriptor, std::string temporary, std::string target);

    TDescriptor m_descriptor;
    std::string m_temporary;  // empty when written in place
    std::string m_target;
};
