#include "log/CaptureFile.h"

#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>

namespace {

constexpr mode_t kCaptureMode = 0640;

}  // namespace

std::string TCaptureFile::RingFileName(const std::string& path, unsigned index) {
    const std::size_t slash = path.rfind('/');
    std::size_t dot = path.rfind('.');
    if (dot == std::string::npos || (slash != std::string::npos && dot < slash) ||
        dot == (slash == std::string::npos ? 0 : slash + 1)) {
        dot = path.size();
    }
    char number[16];
    std::snprintf(number, sizeof number, "_%05u", index);
    return path.substr(0, dot) + number + path.substr(dot);
}

TCaptureFile::TCaptureFile(std::string path, TBounds bounds, std::vector<std::uint8_t> header,
                           TReporter report)
    : m_path(std::move(path)),
      m_bounds(bounds),
      m_header(std::move(header)),
      m_report(std::move(report)),
      m_standardOutput(m_path == "-") {}

std::unique_ptr<TCaptureFile> TCaptureFile::Open(const std::string& path, TBounds bounds,
                                                 std::vector<std::uint8_t> header, TReporter report,
                                                 std::string& error) {
    if (bounds.files == 0) {
        bounds.files = 1;
    }
    std::unique_ptr<TCaptureFile> capture(
        new TCaptureFile(path, bounds, std::move(header), std::move(report)));
    if (capture->m_standardOutput && bounds.fileBytes != 0) {
        error = "a capture to standard output cannot be bounded";
        return nullptr;
    }
    if (bounds.fileBytes != 0 && bounds.fileBytes < 2 * capture->m_header.size()) {
        error = "the capture's file size is too small";
        return nullptr;
    }
    if (!capture->StartFile(error)) {
        return nullptr;
    }
    return capture;
}

TCaptureFile::~TCaptureFile() {
    Flush();
}

bool TCaptureFile::StartFile(std::string& error) {
    if (m_standardOutput) {
        m_file.Reset(fcntl(STDOUT_FILENO, F_DUPFD_CLOEXEC, 0));
    } else {
        const std::string name =
            m_bounds.fileBytes == 0 ? m_path : RingFileName(m_path, m_started + 1);
        m_fileName = name;
        m_file.Reset(
            open(name.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, kCaptureMode));
        if (!m_file) {
            error = name + ": " + std::strerror(errno);
            return false;
        }
        if (m_started >= m_bounds.files) {
            unlink(RingFileName(m_path, m_started + 1 - m_bounds.files).c_str());
        }
    }
    if (m_standardOutput) {
        m_fileName = "standard output";
    }
    if (!m_file) {
        error = m_fileName + ": " + std::strerror(errno);
        return false;
    }
    ++m_started;
    m_fileBytes = 0;
    if (!WriteAll(m_file.Get(), m_header.data(), m_header.size())) {
        error = m_fileName + ": " + std::strerror(errno);
        return false;
    }
    m_fileBytes = m_header.size();
    return true;
}

void TCaptureFile::Write(const std::vector<std::uint8_t>& block) {
    if (m_stopped) {
        return;
    }
    if (m_bounds.fileBytes != 0 &&
        m_fileBytes + m_gathered.size() + block.size() > m_bounds.fileBytes) {
        Flush();
        std::string error;
        if (m_stopped) {
            return;
        }
        if (m_header.size() + block.size() > m_bounds.fileBytes) {
            return;  // a block that no file could hold is left out
        }
        m_file.Reset();
        if (!StartFile(error)) {
            Stop(error);
            return;
        }
    }
    m_gathered.insert(m_gathered.end(), block.begin(), block.end());
    if (m_gathered.size() >= kGatherBytes) {
        Flush();
    }
}

void TCaptureFile::Flush() {
    if (m_stopped || m_gathered.empty()) {
        return;
    }
    if (!WriteAll(m_file.Get(), m_gathered.data(), m_gathered.size())) {
        Stop(m_fileName + ": " + std::strerror(errno));
        return;
    }
    m_fileBytes += m_gathered.size();
    m_gathered.clear();
}

void TCaptureFile::Stop(const std::string& why) {
    m_stopped = true;
    m_gathered.clear();
    m_gathered.shrink_to_fit();
    m_file.Reset();
    if (m_report) {
        m_report("capture stopped: " + why);
    }
}
