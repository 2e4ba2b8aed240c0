// The print-file filter until it is built: each request is recorded and nothing is written.
#include "macrofile.h"

std::vector<std::pair<std::string, std::string>> &MacroFilterRequests() {
    static std::vector<std::pair<std::string, std::string>> requests;
    return requests;
}

CMacroFile::CMacroFile(const char *path) : m_path(path ? path : "") {}

CMacroFile::~CMacroFile() = default;

int CMacroFile::SplitMacroFile(const char *output) {
    MacroFilterRequests().emplace_back(m_path, output ? output : "");
    return 0;
}
