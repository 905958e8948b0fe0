#pragma once

#include <string>

#include "base/Error.h"
#include "http/HttpClient.h"

class TSerialNetworkInterface;

// An HTTP client whose only network is the simulator's tunnel: every
// connection it makes is a call that the agent carries out on its machine.
class TTunnelHttpClient : public THttpClient {
  public:
    TTunnelHttpClient(TSerialNetworkInterface& tunnel, const std::string& url,
                      IFileSystem* fileSystem);

  protected:
    Error SelectNetworkInterface(INetworkInterface** iface) override;

  private:
    TSerialNetworkInterface& m_tunnel;
};

// A GET of url through the tunnel whose body comes back in body; an answer
// that does not say where its body ends fails. When the server answers with
// another status than 200, statusLine holds its status line.
Error FetchThroughTunnel(TSerialNetworkInterface& tunnel, const std::string& url,
                         std::string& body, std::string& statusLine);
