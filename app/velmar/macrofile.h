// The PCL print-file filter: reads a print file with the filter flags of PFilters.dat and
// writes its macros as piece files.
#pragma once

#include <string>
#include <vector>

class CMacroFile {
public:
    explicit CMacroFile(const char *path);
    virtual ~CMacroFile();
    CMacroFile(const CMacroFile &) = delete;
    CMacroFile &operator=(const CMacroFile &) = delete;

    // Writes the pieces from `output` on; 1 when the last piece was written.
    int SplitMacroFile(const char *output);

    std::string m_path;
};

// Until the filter is built: every (print file, first piece) pair asked for, in order.
std::vector<std::pair<std::string, std::string>> &MacroFilterRequests();
