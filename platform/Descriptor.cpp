#include "platform/Descriptor.h"

#include <unistd.h>

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
