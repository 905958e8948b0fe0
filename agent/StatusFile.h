#pragma once

#include <sys/types.h>

#include <optional>
#include <string>
#include <utility>

// The file "Status.json" of a directory, or another file of it, replaced whole
// on every write: the text goes into a new file of the writing process beside
// it (named ".NAME.PID"), which is then
// renamed over it, so a reader sees the old text or the new one and never a
// part. Only a regular file, or nothing, is ever replaced: a symbolic link,
// a directory or anything else under the name is left alone and the write
// refused, and no link is followed.
class TStatusFile {
  public:
    static constexpr char kName[] = "Status.json";

    // Why a write failed: the system's error number, and what stands in the
    // way at the file's name when it is that name, not the directory.
    struct TProblem {
        int error = 0;
        // Empty when the directory cannot be written; else what the name is,
        // such as "a symbolic link".
        std::string obstacle;
    };

    explicit TStatusFile(std::string directory) : TStatusFile(std::move(directory), kName) {}
    // The file name in directory. Each new text gets the permissions mode when it is not 0,
    // whatever the process's umask, else those the umask leaves of 0666.
    TStatusFile(std::string directory, const std::string& name, mode_t mode = 0);

    // Where the file is.
    const std::string& Path() const { return m_path; }

    // Replaces the file with text; what went wrong when it could not.
    [[nodiscard]] std::optional<TProblem> Write(const std::string& text) const;

    // The text of the file at path, read without waiting on anything that is
    // not a regular file and only up to a bound; false with the reason in
    // error when it cannot be read or is too long.
    [[nodiscard]] static bool Read(const std::string& path, std::string& text, std::string& error);

  private:
    std::string m_directory;
    std::string m_path;
    // The new text's file, named by the writing process.
    std::string m_temporary;
    mode_t m_mode;
};
