#include "tunnel-load/RawLine.h"

#include <fcntl.h>
#include <poll.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstring>
#include <random>
#include <vector>

#include "common/LinkedPseudoTerminal.h"
#include "platform/Descriptor.h"
#include "tunnel-load/LoadClient.h"

namespace {

constexpr std::size_t kChunk = 4096;

TDescriptor OpenRawLine(const std::string& path, std::string& error) {
    TDescriptor line(open(path.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK));
    if (!line.IsOpen() || !MakeRawLine(line.Get())) {
        error = "cannot use " + path + " as a raw line: " + std::strerror(errno);
        return TDescriptor();
    }
    return line;
}

}  // namespace

int EchoLine(const std::string& path, const std::function<bool()>& stop, std::string& error) {
    TDescriptor line = OpenRawLine(path, error);
    if (!line.IsOpen()) {
        return 1;
    }
    std::vector<std::uint8_t> pending;
    std::uint8_t buffer[kChunk];
    while (!stop()) {
        pollfd fd{line.Get(), static_cast<short>(POLLIN | (pending.empty() ? 0 : POLLOUT)), 0};
        if (poll(&fd, 1, 1000) <= 0) {
            continue;
        }
        const ssize_t count = read(line.Get(), buffer, sizeof buffer);
        if (count > 0) {
            pending.insert(pending.end(), buffer, buffer + count);
        }
        const ssize_t written =
            pending.empty() ? 0 : write(line.Get(), pending.data(), pending.size());
        if (written > 0) {
            pending.erase(pending.begin(), pending.begin() + written);
        }
    }
    return 0;
}

TReport CheckLine(const std::string& path, std::uint64_t bytes, unsigned stallSeconds) {
    std::string error;
    TDescriptor line = OpenRawLine(path, error);
    TJsonLine report;
    report.Add("test", "line-check").Add("requested", bytes);
    if (!line.IsOpen()) {
        report.Add("result", "no-line").Add("error", error);
        return {report.Text(), false};
    }
    std::vector<std::uint8_t> data(static_cast<std::size_t>(bytes));
    std::mt19937 random(12345);
    std::generate(data.begin(), data.end(),
                  [&random] { return static_cast<std::uint8_t>(random()); });
    std::size_t sent = 0;
    std::size_t received = 0;
    bool correct = true;
    const auto start = std::chrono::steady_clock::now();
    auto lastProgress = start;
    std::uint8_t buffer[kChunk];
    while (correct && received < data.size() &&
           std::chrono::steady_clock::now() - lastProgress < std::chrono::seconds(stallSeconds)) {
        pollfd fd{line.Get(), static_cast<short>(POLLIN | (sent < data.size() ? POLLOUT : 0)), 0};
        if (poll(&fd, 1, 100) <= 0) {
            continue;
        }
        if (sent < data.size()) {
            const ssize_t written =
                write(line.Get(), data.data() + sent, std::min(kChunk, data.size() - sent));
            sent += written > 0 ? static_cast<std::size_t>(written) : 0;
        }
        const ssize_t count = read(line.Get(), buffer, sizeof buffer);
        if (count > 0) {
            const std::size_t length =
                std::min(static_cast<std::size_t>(count), data.size() - received);
            correct = std::equal(buffer, buffer + length, data.begin() + received) &&
                      length == static_cast<std::size_t>(count);
            received += length;
            lastProgress = std::chrono::steady_clock::now();
        }
    }
    const double ms = MillisecondsSince(start);
    const char* result = !correct                 ? "failed-verify"
                         : received < data.size() ? "stalled"
                                                  : "completed";
    report.Add("delivered", std::uint64_t{received})
        .Add("result", result)
        .Add("ms", ms)
        .Add("bytes_per_s", ms > 0 ? received * 1000.0 / ms : 0.0);
    return {report.Text(), std::string(result) == "completed"};
}
