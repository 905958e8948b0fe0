#pragma once

#include <functional>
#include <string>

#include "base/Error.h"
#include "http/HttpClient.h"
#include "http/HttpProgress.h"

class TOutputFile;
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

// A GET of url through the tunnel whose body goes to output as it arrives, so
// that no document is held in memory whole; an answer that does not say
// where its body ends fails, and so does the exchange once stop() is true.
// When the server answers with another status than 200, statusLine holds its
// status line; when the output cannot be written, outputError says why.
Error FetchThroughTunnel(TSerialNetworkInterface& tunnel, const std::string& url,
                         const std::function<bool()>& stop, TOutputFile& output,
                         std::string& statusLine, std::string& outputError);
