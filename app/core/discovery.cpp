#include "discovery.h"

#include <cstring>

#include "text.h"

LocalTargets SplitLocalPorts(const std::vector<std::string> &ports) {
    LocalTargets t;
    for (const std::string &p : ports) {
        if (p.empty())
            continue;
        if (CompareFirstChars(p.c_str(), "LPT", 3) == 0)
            t.lpt.append(p).push_back('\0');
        if (FindSubstring(p.c_str(), "USB"))
            t.usb.append(p).push_back('\0');
    }
    t.lpt.push_back('\0');
    t.usb.push_back('\0');
    return t;
}

uint32_t DiscoveryTimeoutMs(int kind, const char *label) {
    const bool lpt =
        label && std::strlen(label) == 3 && CompareFirstCharsNoCase(label, "LPT", 3) == 0;
    return kind == 0 && lpt ? 5000 : 40000;
}

std::vector<std::string> SplitScopes(const std::string &saved) {
    std::vector<std::string> out;
    std::size_t at = 0;
    const std::size_t end = saved.find('\0') == std::string::npos ? saved.size() : saved.find('\0');
    while (at <= end) {
        std::size_t slash = saved.find('/', at);
        if (slash == std::string::npos || slash > end)
            slash = end;
        if (slash > at)
            out.push_back(saved.substr(at, slash - at));
        at = slash + 1;
    }
    return out;
}

std::string JoinScopes(const std::vector<std::string> &scopes) {
    std::string out;
    for (const std::string &s : scopes) {
        if (s.empty())
            continue;
        if (!out.empty())
            out.push_back('/');
        out += s;
    }
    return out;
}

std::string ScopesMultiSz(const std::vector<std::string> &scopes) {
    std::string out;
    for (const std::string &s : scopes)
        if (!s.empty())
            out.append(s.c_str()).push_back('\0');
    out.push_back('\0');
    return out;
}

bool HasScope(const std::vector<std::string> &scopes, const std::string &scope) {
    for (const std::string &s : scopes)
        if (std::strcmp(s.c_str(), scope.c_str()) == 0)
            return true;
    return false;
}
