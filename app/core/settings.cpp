#include "settings.h"

#include <cstring>
#include <string_view>

namespace {

bool IsLineEnd(char c) {
    return c == '\r' || c == '\n' || c == '\f' || c == '\0';
}

constexpr std::string_view kPrinters = "[PRINTERS]";
constexpr std::string_view kSearchFilters = "[SEARCH_FILTERS]";
constexpr std::string_view kUserPin = "[User_PIN]";
constexpr std::string_view kSpoolQueues = "[SPOOL_QUEUES]";
constexpr std::string_view kPortKey = ",Port=";

// The text as lines: a line starts at the beginning, after LF, and after a CR that no LF
// follows. Its value runs to the first CR, LF, FF or NUL.
struct Text {
    const char *data;
    std::size_t count;
    static constexpr std::size_t npos = static_cast<std::size_t>(-1);

    // End of the value of the line at pos.
    std::size_t LineEnd(std::size_t pos) const {
        while (pos < count && !IsLineEnd(data[pos]))
            ++pos;
        return pos;
    }
    // Start of the line after the one at pos, or count.
    std::size_t NextLine(std::size_t pos) const {
        while (pos < count && data[pos] != '\n' && data[pos] != '\r')
            ++pos;
        if (pos < count && data[pos] == '\r')
            ++pos;
        if (pos < count && data[pos] == '\n')
            ++pos;
        return pos;
    }
    bool StartsWith(std::size_t pos, std::string_view prefix) const {
        return pos <= count && count - pos >= prefix.size() &&
               std::memcmp(data + pos, prefix.data(), prefix.size()) == 0;
    }
    // A whole line holding exactly `header`, then CR LF or LF.
    bool IsHeader(std::size_t line, std::string_view header) const {
        if (!StartsWith(line, header))
            return false;
        std::size_t pos = line + header.size();
        if (pos < count && data[pos] == '\r')
            ++pos;
        return pos < count && data[pos] == '\n';
    }
    bool IsAnyHeader(std::size_t line) const {
        return IsHeader(line, kPrinters) || IsHeader(line, kSearchFilters) ||
               IsHeader(line, kUserPin) || IsHeader(line, kSpoolQueues);
    }
    // The first line after the first `header` line, or npos when there is none.
    std::size_t AfterSection(std::string_view header) const {
        for (std::size_t line = 0; line < count; line = NextLine(line))
            if (IsHeader(line, header))
                return NextLine(line);
        return npos;
    }
    // The first line from `line` on, before the next section header, that begins with
    // `key`; npos when there is none.
    std::size_t FindKey(std::size_t line, std::string_view key) const {
        for (; line < count && !IsAnyHeader(line); line = NextLine(line))
            if (StartsWith(line, key))
                return line;
        return npos;
    }
};

// "KEY=" in the section from `section`: true exactly when the character after '=' is 'T';
// absent: unchanged.
void ReadFlag(const Text &t, std::size_t section, std::string_view key, bool &flag) {
    const std::size_t at = t.FindKey(section, key);
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

// A printer's name as the file can hold it: one line, cut before any ",Port=", which would
// end the name when it is read back.
std::string NameText(const std::string &name) {
    const std::string line = OneLine(name);
    return line.substr(0, line.find(kPortKey));
}

const char *Flag(bool value) {
    return value ? "TRUE" : "FALSE";
}

} // namespace

SettingsRecord ParseSettings(const char *data, std::size_t count) {
    SettingsRecord r;
    if (!data)
        return r;
    const Text t{data, count};

    // Printers: from the first line beginning "Name=" in the printers section (or before any
    // section), the lines that stand together with it and begin "Name=" too; a line without
    // ",Port=" ends them. The name runs to the first ",Port=", the port to the line's end.
    std::size_t first = t.FindKey(0, "Name=");
    if (const std::size_t s = t.AfterSection(kPrinters); first == Text::npos && s != Text::npos)
        first = t.FindKey(s, "Name=");
    for (std::size_t line = first; line < count;) {
        if (!t.StartsWith(line, "Name="))
            break;
        const std::size_t end = t.LineEnd(line);
        const std::string_view text(data + line + 5, end - line - 5);
        const std::size_t port = text.find(kPortKey);
        if (port == std::string_view::npos)
            break;
        r.printers.emplace_back(std::string(text.substr(0, port)),
                                std::string(text.substr(port + kPortKey.size())));
        // Blank lines between printer lines are passed over.
        line = end;
        while (line < count && (data[line] == '\r' || data[line] == '\n'))
            ++line;
    }

    if (const std::size_t s = t.AfterSection(kSearchFilters); s != Text::npos) {
        ReadFlag(t, s, "DiscoverLPT=", r.discoverLpt);
        ReadFlag(t, s, "DiscoverUSB=", r.discoverUsb);
        ReadFlag(t, s, "DiscoverIP=", r.discoverIp);
        if (const std::size_t at = t.FindKey(s, "SubNet="); at != Text::npos) {
            const std::size_t value = at + 7;
            r.subNets.assign(data + value, t.LineEnd(value) - value);
        }
        if (const std::size_t at = t.FindKey(s, "TypeFace="); at != Text::npos)
            ReadTypeFace(t, at + 9, r.typeFace);
    }
    if (const std::size_t s = t.AfterSection(kUserPin); s != Text::npos) {
        const std::size_t end = t.LineEnd(s);
        r.pin.assign(data + s, end - s > 4 ? 4 : end - s);
    }
    if (const std::size_t s = t.AfterSection(kSpoolQueues); s != Text::npos) {
        ReadFlag(t, s, "ShowProof=", r.showProof);
        ReadFlag(t, s, "ShowSecure=", r.showSecure);
    }
    return r;
}

std::string WriteSettings(const SettingsRecord &r) {
    std::string out = "[PRINTERS]\r\n";
    for (const auto &[name, port] : r.printers)
        out += "Name=" + NameText(name) + ",Port=" + OneLine(port) + "\r\n";
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
