#pragma once

#include <string>
#include <vector>

// The entries of a communication log, each as the text after its
// "DD.MM HH:MM:SS " stamp (the first row of a hex dump included, later rows
// left out). A header line with a malformed stamp fails the calling test.
std::vector<std::string> CommLogEntries(const std::string& logText);
