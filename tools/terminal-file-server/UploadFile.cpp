#include "UploadFile.h"

#include <fcntl.h>
#include <unistd.h>

#include <cerrno>

namespace {

constexpr mode_t kFileMode = 0644;

}  // namespace

std::unique_ptr<TUploadFile> TUploadFile::Create(const TConfinedDirectory& directory) {
    if (!directory.IsOpen()) {
        errno = EBADF;
        return nullptr;
    }
    static unsigned long made = 0;
    for (;;) {
        const std::string name =
            ".upload-" + std::to_string(getpid()) + "-" + std::to_string(++made);
        const int descriptor =
            openat(directory.Descriptor(), name.c_str(),
                   O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, kFileMode);
        if (descriptor >= 0) {
            return std::unique_ptr<TUploadFile>(new TUploadFile(directory, name, descriptor));
        }
        if (errno != EEXIST) {
            return nullptr;
        }
    }
}

TUploadFile::TUploadFile(const TConfinedDirectory& directory, std::string hiddenName,
                         int descriptor)
    : m_directory(directory), m_hiddenName(std::move(hiddenName)), m_file(descriptor) {}

TUploadFile::~TUploadFile() {
    // Published, the file lives on under its number; the hidden name goes either way.
    unlinkat(m_directory.Descriptor(), m_hiddenName.c_str(), 0);
}

bool TUploadFile::Write(const unsigned char* data, unsigned long length) {
    if (!WriteAll(m_file.Get(), data, length)) {
        return false;
    }
    m_length += length;
    return true;
}

bool TUploadFile::Publish(const std::string& name) {
    if (!TConfinedDirectory::IsPlainName(name)) {
        errno = EINVAL;
        return false;
    }
    return linkat(m_directory.Descriptor(), m_hiddenName.c_str(), m_directory.Descriptor(),
                  name.c_str(), 0) == 0;
}
