#pragma once

#include <string>

#include "base/Error.h"
#include "base/ErrorCodes.h"

// Screen options handed through to the desktop unread.
struct TScreenOptions {
    unsigned long flags = 0;
};

// The terminal's window manager. The PC has none, so Instance() is null here;
// callers treat a missing desktop as "nothing to show, nothing happened".
class IDesktop {
  public:
    static IDesktop* Instance();
    // Test seam: makes `replacement` (not owned) what Instance() returns,
    // until Install is called again; Install(nullptr) takes it away again.
    // Returns the desktop installed before, or null.
    static IDesktop* Install(IDesktop* replacement);

    virtual ~IDesktop() = default;
    virtual bool ShowTopWindow(unsigned long window, TScreenOptions* options) = 0;
    // Code kErrorNothingHappened while the top window has nothing to report.
    virtual Error GetTopWindowStatus() = 0;
    // Shows a progress text (Windows-1251) for a transfer over the named
    // network interface.
    virtual void StatusMessage(const std::string& text, const std::string& interfaceName) = 0;
};
