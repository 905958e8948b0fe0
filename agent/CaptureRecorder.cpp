#include "agent/CaptureRecorder.h"

#include <sys/time.h>

std::uint64_t SystemMicroseconds() {
    timeval now{};
    gettimeofday(&now, nullptr);
    return static_cast<std::uint64_t>(now.tv_sec) * 1000000u +
           static_cast<std::uint64_t>(now.tv_usec);
}

std::unique_ptr<TCaptureRecorder> TCaptureRecorder::Open(const TSettings& settings,
                                                         const std::string& lineName,
                                                         TCaptureFile::TReporter report,
                                                         std::string& error, TClock clock) {
    std::unique_ptr<TCaptureFile> file = TCaptureFile::Open(
        settings.path, settings.bounds,
        tunnelcapture::Header("Live capture of pinpad-agent: the serial line and the TCP "
                              "connections made for the PIN pad (TCP headers reconstructed "
                              "from what the sockets reported).",
                              lineName),
        std::move(report), error);
    if (!file) {
        return nullptr;
    }
    return std::unique_ptr<TCaptureRecorder>(
        new TCaptureRecorder(std::move(file), clock ? std::move(clock) : SystemMicroseconds));
}

void TCaptureRecorder::RecordLine(tunnelcapture::TLineDirection direction,
                                  tunnelcapture::TLineKind kind, const std::uint8_t* data,
                                  std::size_t length) {
    if (!m_file->Stopped()) {
        const std::uint64_t now = m_clock();
        Write(tunnelcapture::LineBlock(now, direction, kind, data, length), now);
    }
}

void TCaptureRecorder::RecordTcp(bool outbound, const std::vector<std::uint8_t>& packet) {
    if (!m_file->Stopped()) {
        const std::uint64_t now = m_clock();
        Write(tunnelcapture::TcpBlock(now, outbound, packet), now);
    }
}

void TCaptureRecorder::Write(const std::vector<std::uint8_t>& block, std::uint64_t now) {
    m_file->Write(block);
    if (!m_waiting) {
        m_waiting = true;
        m_waitingSince = now;
    }
}
