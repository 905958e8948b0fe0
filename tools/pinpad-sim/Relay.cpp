#include "pinpad-sim/Relay.h"

#include <poll.h>
#include <unistd.h>

#include <cerrno>

#include "platform/Descriptor.h"
#include "platform/DescriptorReadiness.h"

namespace {

constexpr std::size_t kBlockSize = 4096;
// Pause of a pass in which nothing moved, so an idle relay does not spin.
constexpr int kIdlePauseMs = 5;

// Reads what input has ready within waitMs: the byte count, 0 at its end, -1
// when nothing is ready.
ssize_t ReadReady(int fd, unsigned char* buffer, std::size_t size, int waitMs) {
    if (!PollDescriptor(fd, READINESS_READABLE, waitMs).readable) {
        return -1;
    }
    ssize_t count = read(fd, buffer, size);
    if (count < 0) {
        // A failing input ends like an exhausted one; interrupted reads retry next pass.
        return errno == EINTR || errno == EAGAIN ? -1 : 0;
    }
    return count;
}

}  // namespace

TRelayResult Relay(IConnection& connection, int input, int output,
                   const std::function<bool()>& stop) {
    TRelayResult result;
    unsigned char buffer[kBlockSize];
    bool inputOpen = true;
    bool connectionOpen = true;
    bool idle = false;
    while (!stop()) {
        int waitMs = idle ? kIdlePauseMs : 0;
        idle = true;
        if (!inputOpen || !connectionOpen) {
            poll(nullptr, 0, waitMs);
        } else {
            ssize_t count = ReadReady(input, buffer, sizeof buffer, waitMs);
            if (count == 0) {
                inputOpen = false;
            } else if (count > 0) {
                if (connection.Send(buffer, static_cast<unsigned long>(count)) < 0) {
                    // Keep draining: what arrived before the close still goes out.
                    connectionOpen = false;
                } else {
                    result.sent += static_cast<unsigned long long>(count);
                    idle = false;
                }
            }
        }
        long received = connection.Receive(buffer, sizeof buffer);
        if (received < 0) {
            result.end = TRelayEnd::ClosedByPeer;
            return result;
        }
        if (received > 0) {
            if (!WriteAll(output, buffer, static_cast<std::size_t>(received))) {
                result.end = TRelayEnd::OutputClosed;
                return result;
            }
            result.received += static_cast<unsigned long long>(received);
            idle = false;
        }
    }
    result.end = TRelayEnd::Stopped;
    return result;
}
