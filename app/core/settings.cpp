#include "settings.h"

#include <cstring>
#include <string_view>

namespace {

bool IsLineEnd(char c) { return c == '\r' || c == '\n' || c == '\f' || c == '\0'; }

struct Text {
    const char *data;
    std::size_t count;

    std::size_t Find(std::string_view pattern, std::size_t from = 0) const {
        if (pattern.size() > count)
            return npos;
        for (std::size_t i = from; i + pattern.size() <= count; ++i)
            if (std::memcmp(data + i, pattern.data(), pattern.size()) == 0)
                return i;
        return npos;
    }
    std::size_t LineEnd(std::size_t pos) const {
        while (pos < count && !IsLineEnd(data[pos]))
            ++pos;
        return pos;
    }
    bool StartsWith(std::size_t pos, std::string_view prefix) const {
        return pos <= count && count - pos >= prefix.size() &&
               std::memcmp(data + pos, prefix.data(), prefix.size()) == 0;
    }
    // Position just past a section header ("[NAME]" then CR LF, or LF alone), or npos.
    std::size_t AfterSection(std::string_view header) const {
        for (std::size_t at = Find(header); at != npos; at = Find(header, at + 1)) {
            std::size_t pos = at + header.size();
            if (pos < count && data[pos] == '\r')
                ++pos;
            if (pos < count && data[pos] == '\n')
                return pos + 1;
        }
        return npos;
    }
    static constexpr std::size_t npos = static_cast<std::size_t>(-1);
};

// "KEY=" after from: true exactly when the character after '=' is 'T'; absent: unchanged.
void ReadFlag(const Text &t, std::size_t from, std::string_view key, bool &flag) {
    const std::size_t at = t.Find(key, from);
    if (at == Text::npos)
        return;
    const std::size_t value = at + key.size();
    flag = value < t.count && t.data[value] == 'T';
}

void ReadTypeFace(const Text &t, std::size_t at, int &typeFace) {
    std::size_t pos = at;
    bool negative = false;
    if (pos < t.count && (t.data[pos] == '-' || t.data[pos] == '+')) {
        negative = t.data[pos] == '-';
        ++pos;
    }
    long long value = 0;
    std::size_t digits = 0;
    while (pos < t.count && t.data[pos] >= '0' && t.data[pos] <= '9') {
        value = value * 10 + (t.data[pos] - '0');
        ++pos;
        if (++digits > 10)
            return; // out of range: the default stays
    }
    if (digits == 0)
        return;
    if (negative)
        value = -value;
    if (value < -2147483647LL - 1 || value > 2147483647LL)
        return;
    typeFace = static_cast<int>(value);
}

// A text as one line of the file: up to any NUL or line break, which would end the line
// early and make what follows read as lines of their own.
std::string OneLine(const std::string &text) {
    return text.substr(0, text.find_first_of(std::string_view("\0\r\n\f", 4)));
}

const char *Flag(bool value) { return value ? "TRUE" : "FALSE"; }

} // namespace

SettingsRecord ParseSettings(const char *data, std::size_t count) {
    SettingsRecord r;
    if (!data)
        return r;
    const Text t{data, count};

    // Printers: the lines from the first "Name=" on, while they begin with "Name=".
    for (std::size_t pos = t.Find("Name="); pos != Text::npos && t.StartsWith(pos, "Name=");) {
        const std::size_t end = t.LineEnd(pos);
        const Text line{data + pos, end - pos};
        const std::size_t port = line.Find(",Port=");
        if (port == Text::npos)
            break;
        r.printers.emplace_back(std::string(data + pos + 5, port - 5),
                                std::string(data + pos + port + 6, end - pos - port - 6));
        pos = end;
        while (pos < count && (data[pos] == '\r' || data[pos] == '\n'))
            ++pos;
    }

    if (const std::size_t s = t.AfterSection("[SEARCH_FILTERS]"); s != Text::npos) {
        ReadFlag(t, s, "DiscoverLPT=", r.discoverLpt);
        ReadFlag(t, s, "DiscoverUSB=", r.discoverUsb);
        ReadFlag(t, s, "DiscoverIP=", r.discoverIp);
        if (const std::size_t at = t.Find("SubNet=", s); at != Text::npos) {
            const std::size_t value = at + 7;
            r.subNets.assign(data + value, t.LineEnd(value) - value);
        }
        if (const std::size_t at = t.Find("TypeFace=", s); at != Text::npos)
            ReadTypeFace(t, at + 9, r.typeFace);
    }
    if (const std::size_t s = t.AfterSection("[User_PIN]"); s != Text::npos) {
        const std::size_t end = t.LineEnd(s);
        r.pin.assign(data + s, end - s > 4 ? 4 : end - s);
    }
    if (const std::size_t s = t.AfterSection("[SPOOL_QUEUES]"); s != Text::npos) {
        ReadFlag(t, s, "ShowProof=", r.showProof);
        ReadFlag(t, s, "ShowSecure=", r.showSecure);
    }
    return r;
}

std::string WriteSettings(const SettingsRecord &r) {
    std::string out = "[PRINTERS]\r\n";
    for (const auto &[name, port] : r.printers)
        out += "Name=" + OneLine(name) + ",Port=" + OneLine(port) + "\r\n";
    out += "[SEARCH_FILTERS]\r\n";
    out += std::string("DiscoverLPT=") + Flag(r.discoverLpt) + "\r\n";
    out += std::string("DiscoverUSB=") + Flag(r.discoverUsb) + "\r\n";
    out += std::string("DiscoverIP=") + Flag(r.discoverIp) + "\r\n";
    out += "SubNet=" + OneLine(r.subNets) + "\r\n";
    out += "TypeFace=" + std::to_string(r.typeFace) + "\r\n";
    out += "[User_PIN]\r\n" + OneLine(r.pin).substr(0, 4) + "\r\n";
    out += "[SPOOL_QUEUES]\r\n";
    out += std::string("ShowProof=") + Flag(r.showProof) + "\r\n";
    out += std::string("ShowSecure=") + Flag(r.showSecure) + "\r\n";
    return out;
}
