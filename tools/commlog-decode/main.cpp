// commlog-decode: turns the hex dumps of an agent's traffic logs into a
// timeline of frames and tunnel packets, with the problems a person should
// look at and a summary of every connection.

#include <iostream>
#include <string>
#include <vector>

#include "CommLogDecode.h"

int main(int argc, char** argv) {
    return RunCommLogDecode(std::vector<std::string>(argv + 1, argv + argc), std::cout, std::cerr);
}
