#pragma once

#include <functional>
#include <string>

#include "base/Error.h"
#include "http/HttpClient.h"
#include "http/HttpProgress.h"

class TSerialNetworkInterface;

// An HTTP client whose only network is the simulator's tunnel: every
// connection it makes is a call that the agent carries out on its machine.
class TTunnelHttpClient : public THttpClient {
  public:
    // An exchange ends as soon as stop() is true.
    TTunnelHttpClient(TSerialNetworkInterface& tunnel, const std::string& url,
                      IFileSystem* fileSystem, std::function<bool()> stop);

  protected:
    Error SelectNetworkInterface(INetworkInterface** iface) override;

  private:
    // The desktop's progress, with the simulator's stop as one more reason to end.
    class TStoppableProgress : public IHttpProgress {
      public:
        explicit TStoppableProgress(std::function<bool()> stop) : m_stop(std::move(stop)) {}
        void Status(const std::string& text, const std::string& interfaceName) override;
        void Percent(const std::string& fileName, unsigned percent,
                     const std::string& interfaceName) override;
        Error ShouldStop() override;

      private:
        std::function<bool()> m_stop;
    };

    TSerialNetworkInterface& m_tunnel;
    TStoppableProgress m_progress;
};

// A GET of url through the tunnel whose body comes back in body; an answer
// that does not say where its body ends fails, and so does the exchange once
// stop() is true. When the server answers with another status than 200,
// statusLine holds its status line.
Error FetchThroughTunnel(TSerialNetworkInterface& tunnel, const std::string& url,
                         const std::function<bool()>& stop, std::string& body,
                         std::string& statusLine);
