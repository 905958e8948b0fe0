#pragma once

#include <algorithm>
#include <cstdint>
#include <cstring>

#include "base/Error.h"
#include "platform/Connection.h"
#include "platform/Device.h"

// 127.0.0.1, first octet in the most significant byte like every address below.
inline constexpr std::uint32_t kLoopbackAddress = 0x7F000001;

// The host that INetworkInterface::Call connects to.
struct TNetworkHostParam {
    static constexpr std::size_t kMaxAuxText = 64;

    TNetworkHostParam(unsigned long address, unsigned short port, bool secure, const char* auxText1,
                      const char* auxText2)
        : address(static_cast<std::uint32_t>(address)), port(port), secure(secure) {
        CopyAuxText(auxText1, this->auxText1);
        CopyAuxText(auxText2, this->auxText2);
    }

    // IPv4 address, first octet in the most significant byte; 0 for none.
    std::uint32_t address;
    std::uint16_t port;
    // Reach the host over a secure connection (set for "https" URLs).
    bool secure;
    char auxText1[kMaxAuxText + 1];
    char auxText2[kMaxAuxText + 1];

  private:
    // Copies up to the terminator but never more than 64 characters; always
    // terminates; a null text gives an empty one.
    static void CopyAuxText(const char* text, char (&destination)[kMaxAuxText + 1]) {
        std::size_t length = text ? strnlen(text, kMaxAuxText) : 0;
        std::copy_n(text ? text : "", length, destination);
        destination[length] = '\0';
    }
};

// An interface's own network settings. No interface of this system keeps any.
struct TNetworkClientParam {};

// A network through which TCP-style connections are made.
class INetworkInterface : public IDevice {
  public:
    // The readiness GetCurrentState reports; anything else means still coming up.
    static constexpr unsigned kStateUp = 3;
    static constexpr unsigned kStateFailed = 4;

    virtual unsigned GetCurrentState() = 0;
    // Why the interface failed to come up.
    virtual Error GetNetworkError() = 0;
    // Code 2 when the interface does not support its own settings.
    virtual Error SetSelfParams(const TNetworkClientParam& params) = 0;
    virtual Error GetSelfParams(TNetworkClientParam& params) = 0;
    // Starts an outgoing connection. `*connection` is null first; on success
    // it is a new connection in state CONNSTATE_CONNECTING owned by the caller.
    virtual Error Call(const TNetworkHostParam& host, IConnection** connection) = 0;
    // A new connection that waits for one incoming peer on `port`; call again
    // for the next peer. `*connection` is null first and on failure.
    virtual Error Listen(unsigned short port, IConnection** connection) = 0;
    virtual Error Ping(unsigned long address) = 0;
    // Writes the IPv4 address of `name` (first octet most significant).
    virtual Error ResolveAddressUsingDNS(const char* name, unsigned long* address) = 0;
};
