#pragma once

#include "http/HttpProgress.h"

// The progress of an exchange on the desktop's status line: each text as it
// is, a percentage as "<file>... NN%", and the top window's status as the
// answer to ShouldStop. Without a desktop nothing is shown and the exchange
// goes on.
class TDesktopProgress : public IHttpProgress {
  public:
    void Status(const std::string& text, const std::string& interfaceName) override;
    void Percent(const std::string& fileName, unsigned percent,
                 const std::string& interfaceName) override;
    Error ShouldStop() override;

    // The one instance every client starts with.
    static TDesktopProgress& Instance();
};
