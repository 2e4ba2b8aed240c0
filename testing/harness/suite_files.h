// Whole-file reads and writes for tests.
#pragma once

#include <fstream>
#include <sstream>
#include <string>

namespace suite {

// The bytes of `path`, or "" when it cannot be read.
inline std::string ReadAll(const std::string &path) {
    std::ifstream in(path, std::ios::binary);
    std::stringstream text;
    text << in.rdbuf();
    return text.str();
}

// Replaces the contents of `path` with `bytes`.
inline void WriteAll(const std::string &path, const std::string &bytes) {
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
}

} // namespace suite
