#pragma once

#include <string>

// A fresh directory under the system's temporary directory, removed with
// everything in it when the object goes.
class TempDir {
  public:
    TempDir();
    ~TempDir();
    TempDir(const TempDir&) = delete;
    TempDir& operator=(const TempDir&) = delete;

    const std::string& Path() const { return m_path; }
    // The path of `name` inside the directory.
    std::string operator/(const std::string& name) const { return m_path + "/" + name; }

    // Writes `contents` into the file `name` inside the directory.
    void WriteFile(const std::string& name, const std::string& contents) const;
    // The whole contents of the file `name`; empty when it cannot be read.
    std::string ReadFile(const std::string& name) const;
    bool Exists(const std::string& name) const;

  private:
    std::string m_path;
};
