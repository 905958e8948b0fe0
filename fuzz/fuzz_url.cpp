// Parses arbitrary text as a URL. A URL that parses into something to
// connect to must give the same parts back when its own full text is parsed
// again.

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
    if (url.IsValidSymbolicAddress()) {
        const TUrl again(full, defaultPort);
        if (again.GetProtocol() != url.GetProtocol() || again.GetHost() != url.GetHost() ||
            again.GetPort() != url.GetPort() || again.GetDoc() != url.GetDoc() ||
            again.GetAddr() != url.GetAddr()) {
            std::abort();
        }
    }
    return 0;
}
