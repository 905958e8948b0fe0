#pragma once

#include "agent/CaptureRecorder.h"
#include "platform/NetworkInterface.h"

// A filter over the network of the PIN pad's TCP connections that records each connection as
// the TCP/IPv4 conversation it was, with the real addresses and ports: the handshake once it is
// made (or the refusal), the bytes each way as the sockets took and gave them, the peer's
// close, a reset when the connection broke, and the agent's close when it lets go of the
// connection. Everything else passes through unchanged.
class TCapturingNetwork : public INetworkInterface {
  public:
    // Neither is owned; both must outlive this filter and its connections.
    TCapturingNetwork(INetworkInterface& network, TCaptureRecorder& recorder)
        : m_network(network), m_recorder(recorder) {}

    Error Open() override { return m_network.Open(); }
    void Close() override { m_network.Close(); }
    unsigned GetCurrentState() override { return m_network.GetCurrentState(); }
    Error GetNetworkError() override { return m_network.GetNetworkError(); }
    Error SetSelfParams(const TNetworkClientParam& params) override {
        return m_network.SetSelfParams(params);
    }
    Error GetSelfParams(TNetworkClientParam& params) override {
        return m_network.GetSelfParams(params);
    }
    Error Call(const TNetworkHostParam& host, IConnection** connection) override;
    Error Listen(unsigned short port, IConnection** connection) override;
    Error Ping(unsigned long address) override { return m_network.Ping(address); }
    Error ResolveAddressUsingDNS(const char* name, unsigned long* address) override {
        return m_network.ResolveAddressUsingDNS(name, address);
    }

  private:
    INetworkInterface& m_network;
    TCaptureRecorder& m_recorder;
};
