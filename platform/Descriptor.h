#pragma once

#include <cstddef>

// Sole owner of an open descriptor, which it closes when it goes or is given
// another. Move only; a moved-from owner holds nothing. -1 means none.
class TDescriptor {
  public:
    TDescriptor() = default;
    // Takes over `fd` (which may be -1).
    explicit TDescriptor(int fd) : m_fd(fd) {}
    ~TDescriptor();
    TDescriptor(TDescriptor&& other) noexcept : m_fd(other.Release()) {}
    // Closes what this held, then takes over what `other` held.
    TDescriptor& operator=(TDescriptor&& other) noexcept;
    TDescriptor(const TDescriptor&) = delete;
    TDescriptor& operator=(const TDescriptor&) = delete;

    // The descriptor, still owned here; -1 when none.
    int Get() const { return m_fd; }
    bool IsOpen() const { return m_fd >= 0; }
    explicit operator bool() const { return IsOpen(); }
    // Gives up ownership without closing; the caller closes what it gets.
    [[nodiscard]] int Release();
    // Closes what this held and takes over `fd` (-1 to hold nothing).
    void Reset(int fd = -1);
    // Closes now, leaving nothing held; false with errno set when the close reports an error,
    // as it may for the last writes to a file. Holding nothing counts as a failure (EBADF).
    [[nodiscard]] bool Close();

  private:
    int m_fd = -1;
};

// Writes all length bytes of data to descriptor, going on after a short write or an
// interruption; false with errno set when it cannot (EIO when it takes nothing).
[[nodiscard]] bool WriteAll(int descriptor, const void* data, std::size_t length);
