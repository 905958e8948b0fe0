// Parses arbitrary text as a URL. A URL that parses into something to
// connect to must give the same parts back when its own full text is parsed
// again. Parsing takes the first "://" anywhere for the end of the protocol,
// so a document that holds one behind no protocol is read back otherwise;
// such URLs are left out of the comparison.

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>

#include "http/Url.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    if (size < 2) {
        return 0;
    }
    const auto defaultPort = static_cast<unsigned short>(data[0] << 8 | data[1]);
    const TUrl url(std::string(reinterpret_cast<const char*>(data + 2), size - 2), defaultPort);
    const std::string full = url.GetFullUrl();
    const bool markerInDocument = url.GetDoc().find(cUrlProtocolMarker) != std::string::npos;
    if (url.IsValidSymbolicAddress() && (!url.GetProtocol().empty() || !markerInDocument)) {
        const TUrl again(full, defaultPort);
        if (again.GetProtocol() != url.GetProtocol() || again.GetHost() != url.GetHost() ||
            again.GetPort() != url.GetPort() || again.GetDoc() != url.GetDoc() ||
            again.GetAddr() != url.GetAddr()) {
            std::abort();
        }
    }
    return 0;
}
