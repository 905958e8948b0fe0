// Feeds arbitrary bytes to the HTTP server's request parser, cut into pieces
// of random sizes as a network would deliver them, and collects requests as
// the server does. Whatever arrives, the parser must neither crash nor hand
// over more than the bounds allow, and a collected body must be bytes that
// really came.

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>

#include "http/HttpCustomer.h"
#include "support/MemoryConnection.h"
#include "support/TestSystem.h"

namespace {

void Check(bool condition) {
    if (!condition) {
        std::abort();
    }
}

void CollectAll(THttpCustomer& customer, const std::string& input) {
    customer.TryToReadRawData();
    while (customer.IsRequestReceived()) {
        if (!customer.GetErrorMessage().empty()) {
            customer.FlushRequest();
        } else {
            const HTTP_REQUEST_TYPE type = customer.GetRequestType();
            Check(type == HTTP_REQUEST_GET || type == HTTP_REQUEST_POST);
            const std::string content = customer.ReadRequest().ToString();
            Check(content.size() <= THttpCustomer::kMaxBodyBytes);
            Check(input.find(content) != std::string::npos);
            customer.DeliverReply(T_BinaryData(std::string("HTTP/1.1 200 OK\r\n\r\n")));
        }
        customer.TryToReadRawData();
    }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    static TTestSystem system;
    if (size < 1) {
        return 0;
    }
    // The first byte seeds the sizes of the pieces.
    unsigned seed = data[0];
    const std::string input(reinterpret_cast<const char*>(data + 1), size - 1);
    TMemoryLine line;
    THttpCustomer customer(line.NewEnd(TMemoryLine::A));
    for (std::size_t offset = 0; offset < input.size();) {
        seed = seed * 1103515245U + 12345U;
        const std::size_t piece = 1 + (seed >> 16) % 64;
        const std::string part = input.substr(offset, piece);
        offset += part.size();
        line.Inject(TMemoryLine::A, T_BinaryData(part));
        CollectAll(customer, input);
        line.TakePending(TMemoryLine::B);
    }
    CollectAll(customer, input);
    return 0;
}
