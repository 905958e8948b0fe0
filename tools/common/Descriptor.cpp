#include "common/Descriptor.h"

#include <unistd.h>

#include <utility>

TDescriptor::~TDescriptor() {
    if (m_fd >= 0) {
        close(m_fd);
    }
}

TDescriptor& TDescriptor::operator=(TDescriptor&& other) noexcept {
    if (this != &other) {
        TDescriptor old(m_fd);
        m_fd = other.Release();
    }
    return *this;
}

int TDescriptor::Release() {
    return std::exchange(m_fd, -1);
}
