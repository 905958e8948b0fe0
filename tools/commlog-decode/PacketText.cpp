#include "PacketText.h"

#include <cstring>
#include <iterator>

#include "base/ErrorCodes.h"

namespace {

// Operating-system failures are reported as this base plus errno.
constexpr unsigned long kSystemErrorBase = 22000;
constexpr unsigned long kSystemErrorLast = 22999;

std::string Name(unsigned char action) {
    static const char* const kNames[] = {"?",      "CALL",  "LISTEN",  "CONNECTED", "CALL_RESULT",
                                         "CLOSED", "CLOSE", "DATA_IN", "DATA_OUT",  "RESET"};
    if (action < std::size(kNames) && action != 0) {
        return kNames[action];
    }
    return "unknown action " + std::to_string(action);
}

}  // namespace

std::string DottedAddress(std::uint32_t address) {
    return std::to_string(address >> 24) + "." + std::to_string((address >> 16) & 0xFF) + "." +
           std::to_string((address >> 8) & 0xFF) + "." + std::to_string(address & 0xFF);
}

std::string ErrorMeaning(unsigned long code) {
    struct TMeaning {
        unsigned long code;
        const char* text;
    };
    static constexpr TMeaning kMeanings[] = {
        {kErrorNotSupported, "not supported"},
        {kErrorCannotConnect, "cannot connect: refused or unreachable"},
        {kErrorConnectionBroken, "connection broken"},
        {kErrorTransferFailed, "send or receive failed"},
        {kErrorCannotCreateSocket, "cannot create a socket"},
        {kErrorCannotListen, "cannot listen on the port"},
        {kErrorNoHostAddress, "host name has no address"},
        {kErrorNoNetworkInterface, "no network interface"},
        {kErrorInterfaceTimeout, "network interface timed out"},
        {kErrorInterfaceFailed, "network interface failed"},
        {kErrorNotConnected, "not connected"},
        {kErrorConnectFailed, "connect failed"},
    };
    std::string text = "unknown error";
    for (const TMeaning& meaning : kMeanings) {
        if (meaning.code == code) {
            text = meaning.text;
        }
    }
    if (code > kSystemErrorBase && code <= kSystemErrorLast) {
        text = std::string("system error: ") +
               std::strerror(static_cast<int>(code - kSystemErrorBase));
    }
    return text + " (" + std::to_string(code) + ")";
}

std::string DescribePacket(const TSerialPacket& packet) {
    const std::string head =
        Name(packet.GetActionType()) + " #" + std::to_string(packet.GetSocketID());
    const auto port = std::to_string(packet.GetPort());
    switch (packet.GetActionType()) {
        case ACTION_CALL:
            return head + " -> " + DottedAddress(static_cast<std::uint32_t>(packet.GetIpAddr())) +
                   ":" + port;
        case ACTION_LISTEN:
            return head + " port " + port;
        case ACTION_CONNECTED: {
            // The agent sends an accepted peer's address with its octets reversed.
            const auto address = static_cast<std::uint32_t>(packet.GetIpAddr());
            return head + " from " + DottedAddress(__builtin_bswap32(address));
        }
        case ACTION_CALL_RESULT:
            return head + (packet.GetError() == 0 ? " ok" : " " + ErrorMeaning(packet.GetError()));
        case ACTION_DATA_IN:
        case ACTION_DATA_OUT:
            return head + " " + std::to_string(packet.GetData().Length()) + " bytes " +
                   Preview(packet.GetData());
        case ACTION_RESET:
            return "RESET";
        default:
            return head;
    }
}

std::string Preview(const T_BinaryData& data) {
    constexpr unsigned long kShown = 24;
    std::string text = "\"";
    for (unsigned long i = 0; i < data.Length() && i < kShown; ++i) {
        const unsigned char byte = data[i];
        text += byte >= 0x20 && byte < 0x7F ? static_cast<char>(byte) : '.';
    }
    return text + (data.Length() > kShown ? "\"..." : "\"");
}
