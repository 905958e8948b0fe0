#pragma once

#include <sstream>
#include <string>
#include <vector>

// The words of a command line written as one text, split at spaces.
inline std::vector<std::string> CommandWords(const std::string& line) {
    std::istringstream stream(line);
    std::vector<std::string> words;
    for (std::string word; stream >> word;) {
        words.push_back(word);
    }
    return words;
}
