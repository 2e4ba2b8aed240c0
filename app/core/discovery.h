// Printer discovery rules of the application: which local ports each search takes, the
// time-out of a search and the scope list's forms. No Windows header.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

// Target lists are sequences of NUL-terminated entries closed by an empty one.
struct LocalTargets {
    std::string lpt; // names beginning "LPT" (exact case)
    std::string usb; // names holding "USB" anywhere (exact case)
    bool HasLpt() const { return !lpt.empty() && lpt[0] != '\0'; }
    bool HasUsb() const { return !usb.empty() && usb[0] != '\0'; }
};
LocalTargets SplitLocalPorts(const std::vector<std::string> &ports);

// 5000 ms for a local search labelled "LPT" (any case), else 40000 ms.
uint32_t DiscoveryTimeoutMs(int kind, const char *label);

// The saved '/'-joined scope text as entries; empty pieces are skipped.
std::vector<std::string> SplitScopes(const std::string &saved);
std::string JoinScopes(const std::vector<std::string> &scopes);
// Each non-empty entry NUL-terminated, then one more NUL.
std::string ScopesMultiSz(const std::vector<std::string> &scopes);
// An entry equal to `scope` (exact case).
bool HasScope(const std::vector<std::string> &scopes, const std::string &scope);
