// Where a test finds the build's deliverables and its scratch folder.
#pragma once

#include <cstdlib>
#include <string>

namespace suite {

// Folder of the width's deliverables (build/<preset>/bin), as a Windows path with no
// trailing separator. The Wine wrapper sets SUITE_BIN_DIR.
inline std::string BinDir() {
    const char *dir = std::getenv("SUITE_BIN_DIR");
    return dir ? dir : ".";
}

// A deliverable of the width by file name, e.g. BinPath("tessyn.dll").
inline std::string BinPath(const std::string &file) {
    return BinDir() + "\\" + file;
}

// Scratch folder for test files (build/<preset>/testdata).
inline std::string TestDataDir() {
    const char *dir = std::getenv("SUITE_TESTDATA_DIR");
    return dir ? dir : ".";
}

} // namespace suite
