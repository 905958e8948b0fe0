#include "platform/Descriptor.h"

#include <unistd.h>

#include <cerrno>

#include <utility>

TDescriptor::~TDescriptor() {
    Reset();
}

TDescriptor& TDescriptor::operator=(TDescriptor&& other) noexcept {
    if (this != &other) {
        Reset(other.Release());
    }
    return *this;
}

int TDescriptor::Release() {
    return std::exchange(m_fd, -1);
}

bool TDescriptor::Close() {
    return close(Release()) == 0;
}

void TDescriptor::Reset(int fd) {
    const int old = std::exchange(m_fd, fd);
    if (old >= 0 && old != fd) {
        close(old);
    }
}

bool WriteAll(int descriptor, const void* data, std::size_t length) {
    const auto* bytes = static_cast<const unsigned char*>(data);
    while (length > 0) {
        const ssize_t written = write(descriptor, bytes, length);
        if (written < 0 && errno == EINTR) {
            continue;
        }
        if (written <= 0) {
            if (written == 0) {
                errno = EIO;
            }
            return false;
        }
        bytes += written;
        length -= static_cast<std::size_t>(written);
    }
    return true;
}
