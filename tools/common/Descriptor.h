#pragma once

// An open descriptor, closed when its owner goes.
class TDescriptor {
  public:
    explicit TDescriptor(int fd = -1) : m_fd(fd) {}
    ~TDescriptor();
    TDescriptor(TDescriptor&& other) noexcept : m_fd(other.Release()) {}
    TDescriptor& operator=(TDescriptor&& other) noexcept;

    int Get() const { return m_fd; }
    bool IsOpen() const { return m_fd >= 0; }
    int Release();

  private:
    int m_fd;
};
