// The settings file ZqConfig.dat as a record: parsing its text and writing it back in the
// exact written form. No Windows header; the file step lives with the application object.
#pragma once

#include <cstddef>
#include <string>
#include <utility>
#include <vector>

struct SettingsRecord {
    std::vector<std::pair<std::string, std::string>> printers; // name, port, in file order
    bool discoverLpt = true;
    bool discoverUsb = true;
    bool discoverIp = true;
    std::string subNets; // the discovery scopes joined by "/"
    int typeFace = 3000;
    std::string pin; // 0 to 4 characters
    bool showProof = true;
    bool showSecure = true;
};

// Reads what parses from the bytes; everything missing or malformed keeps its default.
// Never reads past count. A section header counts only as a whole line; a key counts only at
// the start of a line of its section (the printer lines: of "[PRINTERS]", or before any
// section), so no value of the file, whatever it holds, reads as a key or header.
SettingsRecord ParseSettings(const char *data, std::size_t count);

// The file's text: "[PRINTERS]", a "Name=%s,Port=%s" line per printer, "[SEARCH_FILTERS]"
// with the three flags, SubNet and TypeFace, "[User_PIN]" and the PIN, "[SPOOL_QUEUES]" with
// ShowProof and ShowSecure; every line ends CR LF. The cuts: texts are written up to any
// NUL, CR, LF or FF, so that none can break into lines of its own; a printer's name also up
// to any ",Port=", where the reader ends a name; the PIN is at most its first 4 characters.
std::string WriteSettings(const SettingsRecord &record);
