#include "http/DesktopProgress.h"

#include <string>

#include "base/ErrorCodes.h"
#include "sysutil/Desktop.h"

void TDesktopProgress::Status(const std::string& text, const std::string& interfaceName) {
    if (IDesktop* desktop = IDesktop::Instance()) {
        desktop->StatusMessage(text, interfaceName);
    }
}

void TDesktopProgress::Percent(const std::string& fileName, unsigned percent,
                               const std::string& interfaceName) {
    Status(fileName + "... " + std::to_string(percent) + "%", interfaceName);
}

Error TDesktopProgress::ShouldStop() {
    IDesktop* desktop = IDesktop::Instance();
    return desktop ? desktop->GetTopWindowStatus() : Error(kErrorNothingHappened);
}

TDesktopProgress& TDesktopProgress::Instance() {
    static TDesktopProgress progress;
    return progress;
}
