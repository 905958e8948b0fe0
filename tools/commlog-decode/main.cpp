// commlog-decode: turns the hex dumps of an agent's traffic logs into a
// timeline of frames and tunnel packets, with the problems a person should
// look at and a summary of every connection.

#include <iostream>
#include <variant>

#include "CommLogDecode.h"

int main(int argc, char** argv) {
    const auto read =
        ReadCommandLine<TDecodeOptions>(kDecodeSyntax, argc, argv, ParseDecodeOptions);
    if (const int* status = std::get_if<int>(&read)) {
        return *status;
    }
    return RunCommLogDecode(std::get<TDecodeOptions>(read), std::cout, std::cerr);
}
