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
    std::string subNets;      // the discovery scopes joined by "/"
    int typeFace = 3000;
    std::string pin;          // 0 to 4 characters
    bool showProof = true;
    bool showSecure = true;
};

// Reads what parses from the bytes; everything missing or malformed keeps its default.
// Never reads past count.
SettingsRecord ParseSettings(const char *data, std::size_t count);

// The file's text: "[PRINTERS]", a "Name=%s,Port=%s" line per printer, "[SEARCH_FILTERS]"
// with the three flags, SubNet and TypeFace, "[User_PIN]" and the PIN, "[SPOOL_QUEUES]" with
// ShowProof and ShowSecure; every line ends CR LF. Texts are written up to any NUL, CR, LF
// or FF, so that none can break into lines of its own.
std::string WriteSettings(const SettingsRecord &record);
