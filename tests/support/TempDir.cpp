#include "TempDir.h"

#include <stdlib.h>

#include <filesystem>
#include <fstream>
#include <iterator>
#include <stdexcept>
#include <vector>

TempDir::TempDir() {
    std::string pattern = (std::filesystem::temp_directory_path() / "pinpad-test-XXXXXX").string();
    std::vector<char> buffer(pattern.begin(), pattern.end());
    buffer.push_back('\0');
    if (mkdtemp(buffer.data()) == nullptr) {
        throw std::runtime_error("cannot create a temporary directory");
    }
    m_path = buffer.data();
}

TempDir::~TempDir() {
    std::error_code ignored;
    std::filesystem::remove_all(m_path, ignored);
}

void TempDir::WriteFile(const std::string& name, const std::string& contents) const {
    std::ofstream(*this / name, std::ios::binary) << contents;
}

std::string TempDir::ReadFile(const std::string& name) const {
    std::ifstream in(*this / name, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

bool TempDir::Exists(const std::string& name) const {
    return std::filesystem::exists(*this / name);
}
