#pragma once

#include "base/Error.h"
#include "platform/NetworkInterface.h"

// A network interface for tests to derive from: it is up, opens and closes
// without a word, and supports nothing else (code 2) until a test overrides
// the operations it plays.
class TFakeNetworkInterface : public INetworkInterface {
  public:
    Error Open() override { return Error(0); }
    void Close() override {}
    unsigned GetCurrentState() override { return kUp; }
    Error GetNetworkError() override { return Error(0); }
    Error SetSelfParams(const TNetworkClientParam&) override { return Error(kNotSupported); }
    Error GetSelfParams(TNetworkClientParam&) override { return Error(kNotSupported); }
    Error Call(const TNetworkHostParam&, IConnection** connection) override {
        *connection = nullptr;
        return Error(kNotSupported);
    }
    Error Listen(unsigned short, IConnection** connection) override {
        *connection = nullptr;
        return Error(kNotSupported);
    }
    Error Ping(unsigned long) override { return Error(kNotSupported); }
    Error ResolveAddressUsingDNS(const char*, unsigned long*) override {
        return Error(kNotSupported);
    }

    static constexpr unsigned kUp = 3;
    static constexpr unsigned long kNotSupported = 2;
};
