// The storage tree's line rules.
#include "storage.h"

#include <cctype>
#include <limits>

#include "queries.h"
#include "reply.h"

namespace {

bool Holds(std::string_view text, std::string_view word) {
    return text.find(word) != std::string_view::npos;
}

bool StartsWith(std::string_view text, std::string_view prefix) {
    return text.size() >= prefix.size() && text.compare(0, prefix.size(), prefix) == 0;
}

bool EqualNoCase(std::string_view a, std::string_view b) {
    if (a.size() != b.size())
        return false;
    for (std::size_t i = 0; i < a.size(); ++i)
        if (std::toupper(static_cast<unsigned char>(a[i])) !=
            std::toupper(static_cast<unsigned char>(b[i])))
            return false;
    return true;
}

// `name` occurs in line from the first `word` on.
bool NameFrom(std::string_view line, std::string_view word, std::string_view name) {
    const std::size_t at = line.find(word);
    return at != std::string_view::npos && line.substr(at).find(name) != std::string_view::npos;
}

constexpr std::string_view kTypeMark = " TYPE=";

struct Tag {
    std::string_view text;
    int kind;
};
constexpr Tag kTags[] = {{"PJL_PART ", kNodePjlVolume},
                         {"COM_PART ", kNodeCommonVolume},
                         {"MIX_PART ", kNodeCommonVolume},
                         {"POS_PART ", kNodePostScriptVolume}};

// The value of the leading number of text from pos: blanks, a sign, digits, capped at 64
// bits. False without a digit.
bool ReadNumber(std::string_view text, std::size_t pos, std::int64_t &value) {
    while (pos < text.size() && (text[pos] == ' ' || text[pos] == '\t'))
        ++pos;
    bool negative = false;
    if (pos < text.size() && (text[pos] == '+' || text[pos] == '-'))
        negative = text[pos++] == '-';
    if (pos >= text.size() || !std::isdigit(static_cast<unsigned char>(text[pos])))
        return false;
    constexpr std::uint64_t kMax =
        static_cast<std::uint64_t>(std::numeric_limits<std::int64_t>::max());
    const std::uint64_t limit = negative ? kMax + 1 : kMax;
    std::uint64_t magnitude = 0;
    for (; pos < text.size() && std::isdigit(static_cast<unsigned char>(text[pos])); ++pos) {
        const unsigned digit = static_cast<unsigned>(text[pos] - '0');
        magnitude = magnitude > (limit - digit) / 10 ? limit : magnitude * 10 + digit;
    }
    if (negative)
        value = magnitude == kMax + 1 ? std::numeric_limits<std::int64_t>::min()
                                      : -static_cast<std::int64_t>(magnitude);
    else
        value = static_cast<std::int64_t>(magnitude);
    return true;
}

} // namespace

std::string DeviceNodeName(std::string_view line) {
    if (line == "HDD0")
        return "DISK0";
    if (line == "HDD1")
        return "DISK1";
    return std::string(line);
}

int DeviceNodeKind(std::string_view line) {
    return Holds(line, "DISK") || Holds(line, "HDD") ? kNodeDisk : kNodeFlash;
}

int FlashDeviceNumber(std::string_view line) {
    return line.empty() ? -1 : static_cast<unsigned char>(line.back()) - '0';
}

std::string NodeNameOf(std::string_view line) {
    const std::size_t type = line.find(kTypeMark);
    if (type != std::string_view::npos)
        return std::string(line.substr(0, type));
    return std::string(line.substr(0, line.find(' ')));
}

VolumeFields ParseVolumeLine(std::string_view line) {
    VolumeFields out;
    std::size_t pos = line.find(' ');
    if (pos == std::string_view::npos)
        return out;
    while (pos < line.size() && line[pos] == ' ')
        ++pos;
    std::size_t end = line.find('\t', pos);
    out.volume = std::string(
        line.substr(pos, end == std::string_view::npos ? std::string_view::npos : end - pos));
    std::string *fields[] = {&out.size, &out.freeSpace, &out.location, &out.label, &out.status};
    for (std::string *field : fields) {
        if (end == std::string_view::npos)
            break;
        pos = end + 1;
        end = line.find('\t', pos);
        *field = std::string(
            line.substr(pos, end == std::string_view::npos ? std::string_view::npos : end - pos));
    }
    return out;
}

std::vector<std::string> DiskVolumeLines(const std::vector<std::string> &lines,
                                         std::string_view psMenu) {
    std::vector<std::string> out;
    const bool postScript = !EqualNoCase(psMenu, "DISABLE");
    for (const std::string &line : lines) {
        if (Holds(line, "FLASH") || Holds(line, "%flash") || Holds(line, "NIC"))
            continue;
        if (Holds(line, "PCL"))
            out.push_back("PJL_PART " + line);
        else if (Holds(line, "COMMON"))
            out.push_back("COM_PART " + line);
        else if (Holds(line, "MIX"))
            out.push_back("MIX_PART " + line);
        else if ((Holds(line, "%disk") || Holds(line, "PSE")) && postScript)
            out.push_back("POS_PART " + line);
    }
    return out;
}

std::vector<std::string> FlashVolumeLines(const std::vector<std::string> &lines,
                                          std::string_view name, int number) {
    std::vector<std::string> out;
    if (name.empty())
        return out; // an empty name would occur in every line
    for (const std::string &line : lines) {
        if (Holds(line, "PCL") || Holds(line, "COMMON") || Holds(line, "%disk"))
            continue;
        if (!Holds(line, "flash")) {
            if ((Holds(line, "FLASH") && NameFrom(line, "FLASH", name)) ||
                (Holds(line, "NIC") && NameFrom(line, "NIC", name)))
                out.push_back("COM_PART " + line);
            continue;
        }
        if (!Holds(line, name))
            continue;
        std::size_t at = line.find("FLASH");
        std::size_t digit = at == std::string::npos ? std::string::npos : at + 5;
        if (at == std::string::npos) {
            at = line.find("NIC");
            digit = at == std::string::npos ? std::string::npos : at + 3;
        }
        if (digit == std::string::npos || digit >= line.size() || number < 0 || number > 9 ||
            line[digit] != static_cast<char>('0' + number))
            continue;
        std::string shown = line;
        const std::size_t mix = shown.find("MIX");
        if (mix != std::string::npos)
            shown.replace(mix, 3, "PS ");
        out.push_back("POS_PART " + shown);
    }
    return out;
}

int ClassifyListingLine(std::string_view line) {
    const std::size_t type = line.find(kTypeMark);
    if (type != std::string_view::npos)
        return StartsWith(line.substr(type + kTypeMark.size()), "DIR") &&
                       (type + kTypeMark.size() + 3 == line.size() ||
                        line[type + kTypeMark.size() + 3] == ' ' ||
                        line[type + kTypeMark.size() + 3] == '\t')
                   ? kNodeDirectory
                   : kNodeFile;
    for (const Tag &tag : kTags)
        if (StartsWith(line, tag.text))
            return tag.kind;
    if (Holds(line, "PJL_PART"))
        return kNodePjlVolume;
    if (Holds(line, "COM_PART"))
        return kNodeCommonVolume;
    if (Holds(line, "POS_PART"))
        return kNodePostScriptVolume;
    if (Holds(line, "DISK"))
        return kNodeDisk;
    if (Holds(line, "FLASH") || Holds(line, "NIC"))
        return kNodeFlash;
    if (Holds(line, "MIX"))
        return kNodeCommonVolume;
    return kNodeFile;
}

bool IsPostScriptPath(std::string_view path) {
    return Holds(path, "%disk") || Holds(path, "%flash");
}

std::string JoinStoragePath(std::string_view parent, std::string_view name) {
    std::string out(parent);
    if (!IsPostScriptPath(parent))
        out += '\\';
    else if (parent.empty() || parent.back() != '%')
        out += '/';
    out += name;
    return out;
}

std::string PostScriptListPrefix(std::string_view path) {
    std::string out(path);
    if (out.empty() || out.back() != '%')
        out += '/';
    return out;
}

std::string NormaliseNumber(std::string_view text) {
    std::int64_t value = 0;
    return ReadNumber(text, 0, value) ? std::to_string(value) : std::string("0");
}

std::string EntryName(std::string_view line) {
    return std::string(line.substr(0, line.find(kTypeMark)));
}

std::optional<std::string> EntrySize(std::string_view line, std::string_view unknown) {
    const std::size_t type = line.find(kTypeMark);
    if (type == std::string_view::npos)
        return std::nullopt;
    const std::size_t size = line.find("SIZE=", type);
    if (size == std::string_view::npos)
        return std::nullopt;
    std::int64_t value = 0;
    if (!ReadNumber(line, size + 5, value))
        return std::string(unknown);
    return std::to_string(value);
}

std::optional<std::string> PjlDeleteCommand(std::string_view name) {
    if (name.find_first_of("\"\r\n") != std::string_view::npos)
        return std::nullopt;
    return "@PJL FSDELETE NAME = \"" + std::string(name) + "\" \r\n" + kUel;
}

std::string PostScriptDeleteProgram(std::string_view name) {
    return std::string(kUel) + "@PJL ENTER LANGUAGE=POSTSCRIPT\r\n%!Adobe-PS\r\n(" +
           EscapePostScriptString(name) + ") deletefile\r\n" + kUel;
}
