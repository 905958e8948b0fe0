#pragma once

#include <string>

#include "base/Error.h"

// Whom an HTTP exchange tells how it goes, and whom it asks whether to stop.
// Everything is called on the exchange's own thread.
class IHttpProgress {
  public:
    virtual ~IHttpProgress() = default;

    // A step of the exchange over the named network interface; text is in
    // Windows-1251.
    virtual void Status(const std::string& text, const std::string& interfaceName) = 0;
    // percent (0 to 100) of the file named fileName has arrived over the
    // named network interface.
    virtual void Percent(const std::string& fileName, unsigned percent,
                         const std::string& interfaceName) = 0;
    // Asked on every pass of a wait: kErrorNothingHappened to go on, any
    // other cause ends the exchange with that cause.
    virtual Error ShouldStop() = 0;
};
