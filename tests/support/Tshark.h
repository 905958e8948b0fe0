#pragma once

#include <string>
#include <vector>

#include "support/TempDir.h"

// tshark with the tunnel's dissector, for tests of captures: its home and its settings lie in
// the test's directory, so that nothing outside it is read or written.

// Whether tshark is installed (scripts/install-deps.sh installs it).
bool HaveTshark();

struct TTsharkRun {
    int status = -1;  // -1 when it did not end within a minute
    std::string output;
    std::string errors;
};

// Runs tshark with the dissector and arguments, in directory.
TTsharkRun RunTshark(const TempDir& directory, const std::vector<std::string>& arguments);
