#include "psdownload.h"

#include <algorithm>
#include <cstdio>

#include "reply.h"
#include "stream.h"

namespace {

const char *Chars(const std::uint8_t *data) {
    return reinterpret_cast<const char *>(data);
}

bool Contains(const std::uint8_t *data, std::size_t length, const char *pattern) {
    return data && FindBytes(Chars(data), length, pattern) != std::string::npos;
}

bool IsSpace(char c) {
    return c == ' ' || (c >= '\t' && c <= '\r');
}

// One "%d" at pos: white space, an optional sign, digits; false when no integer or it does
// not fit in 32 bits.
bool ScanInt(const char *text, std::size_t length, std::size_t &pos, int &value) {
    while (pos < length && IsSpace(text[pos]))
        ++pos;
    std::size_t p = pos;
    bool negative = false;
    if (p < length && (text[p] == '+' || text[p] == '-'))
        negative = text[p++] == '-';
    const std::size_t digits = p;
    long long v = 0;
    while (p < length && text[p] >= '0' && text[p] <= '9') {
        v = v * 10 + (text[p] - '0');
        if (v > 2147483648LL)
            return false;
        ++p;
    }
    if (p == digits)
        return false;
    v = negative ? -v : v;
    if (v > 2147483647LL)
        return false;
    value = static_cast<int>(v);
    pos = p;
    return true;
}

bool ScanBox(const char *text, std::size_t length, std::size_t pos, BoundingBox &box) {
    int v[4];
    for (int &n : v)
        if (!ScanInt(text, length, pos, n))
            return false;
    box = {v[0], v[1], v[2], v[3]};
    return true;
}

constexpr char kBoxComment[] = "%%BoundingBox:";
constexpr std::size_t kBoxCommentLength = sizeof kBoxComment - 1;
constexpr char kEnterPostScript[] = "\x1b%-12345X@PJL ENTER LANGUAGE=POSTSCRIPT\r\n";

bool HasControlOrQuote(const std::string &text) {
    return std::any_of(text.begin(), text.end(),
                       [](char c) { return c == '"' || static_cast<unsigned char>(c) < 0x20; });
}

bool IsDecimalId(const std::string &id) {
    return !id.empty() && id.size() <= 9 &&
           std::all_of(id.begin(), id.end(), [](char c) { return c >= '0' && c <= '9'; });
}

bool StartsWith(const std::string &text, std::size_t pos, const char *prefix) {
    return text.compare(pos, std::char_traits<char>::length(prefix), prefix) == 0;
}

} // namespace

std::string EscapePostScriptString(const std::string &text) {
    std::string out;
    for (const char c : text) {
        const auto b = static_cast<unsigned char>(c);
        if (c == '(' || c == ')' || c == '\\') {
            out += '\\';
            out += c;
        } else if (b < 0x20 || b > 0x7E) {
            char octal[5];
            std::snprintf(octal, sizeof octal, "\\%03o", b);
            out += octal;
        } else {
            out += c;
        }
    }
    return out;
}

bool IsPostScriptNameSafe(const std::string &name) {
    if (name.empty() || name.size() > kMaxPostScriptName)
        return false;
    for (const char c : name) {
        const auto b = static_cast<unsigned char>(c);
        if (b < 0x21 || b > 0x7E || std::string("()<>[]{}/%").find(c) != std::string::npos)
            return false;
    }
    return true;
}

bool IsSafePostScriptData(const std::uint8_t *data, std::size_t length) {
    return !Contains(data, length, kUel) && !Contains(data, length, kPostScriptEndMarker);
}

std::string WalkPfbSegments(const std::uint8_t *data, std::size_t length) {
    static const char hex[] = "0123456789abcdef";
    std::string out;
    std::size_t digits = 0;
    std::size_t pos = 0;
    while (pos + 1 < length && data[pos] == 0x80) {
        const std::uint8_t type = data[pos + 1];
        if ((type != 1 && type != 2) || length - pos < 6)
            break;
        const std::uint32_t declared = static_cast<std::uint32_t>(data[pos + 2]) |
                                       static_cast<std::uint32_t>(data[pos + 3]) << 8 |
                                       static_cast<std::uint32_t>(data[pos + 4]) << 16 |
                                       static_cast<std::uint32_t>(data[pos + 5]) << 24;
        pos += 6;
        const std::size_t count = std::min<std::size_t>(declared, length - pos);
        if (type == 1) {
            out.append(Chars(data + pos), count);
        } else {
            for (std::size_t i = 0; i < count; ++i) {
                out += hex[data[pos + i] >> 4];
                out += hex[data[pos + i] & 15];
                digits += 2;
                if (digits % 78 == 0)
                    out += "\r\n";
            }
            out += '\r';
        }
        pos += count;
        if (count < declared)
            break;
    }
    return out;
}

std::optional<std::string> BuildPostScriptFontStream(const std::uint8_t *data, std::size_t length,
                                                     const std::string &volume,
                                                     const std::string &name, const std::string &f1,
                                                     const std::string &f3) {
    if (!data || length == 0)
        return std::nullopt;
    const bool pfb = IsPfbFile(data, length);
    const std::size_t from = pfb ? 6 : 0;
    if (length <= from || !Contains(data + from, length - from, "%!PS-Adobe"))
        return std::nullopt;
    if (!IsSafePostScriptData(data, length) || f1.empty() || (pfb && f3.empty()))
        return std::nullopt;
    std::string out = kEnterPostScript;
    out += f1;
    out += "/WriteTarget (" + EscapePostScriptString(volume) + "fonts/" +
           EscapePostScriptString(name) + ") (w) file def\r\nWriteInfo\r\n";
    if (pfb) {
        out += WalkPfbSegments(data, length);
        out += f3;
    } else {
        out.append(Chars(data), length);
    }
    out += '\x04';
    if (out.size() > 0xFFFF0000u)
        return std::nullopt;
    return out;
}

BoundingBox FindBoundingBox(const std::uint8_t *data, std::size_t length) {
    BoundingBox box;
    if (!data)
        return box;
    const char *text = Chars(data);
    const std::size_t first = FindBytes(text, length, kBoxComment);
    if (first == std::string::npos)
        return box;
    std::size_t pos = first + kBoxCommentLength;
    while (pos < length && IsSpace(text[pos]))
        ++pos;
    if (length - pos >= 7 && std::string(text + pos, 7) == "(atend)") {
        BoundingBox found;
        for (std::size_t at = first + kBoxCommentLength; at < length;) {
            const std::size_t next = FindBytes(text + at, length - at, kBoxComment);
            if (next == std::string::npos)
                break;
            at += next + kBoxCommentLength;
            BoundingBox candidate;
            if (ScanBox(text, length, at, candidate))
                found = candidate;
        }
        return found;
    }
    ScanBox(text, length, first + kBoxCommentLength, box);
    return box;
}

bool IsDemoFolder(const std::string &folder) {
    return folder == "\\common\\demo";
}

std::optional<std::string> BuildPostScriptFormStream(const std::uint8_t *data, std::size_t length,
                                                     const std::string &volume,
                                                     const std::string &name,
                                                     const PostScriptPieces &pieces) {
    if (!data || length == 0 || !IsPostScriptNameSafe(name) || !IsSafePostScriptData(data, length))
        return std::nullopt;
    for (const std::string &piece : pieces)
        if (piece.empty())
            return std::nullopt;
    const std::string vol = EscapePostScriptString(volume);
    const std::string file = EscapePostScriptString(name);
    const std::string update = " %*** Update for each EPSF***\r\n";
    const BoundingBox box = FindBoundingBox(data, length);
    char boxLine[96];
    std::snprintf(boxLine, sizeof boxLine, "      /BBox [ %d %d %d %d] def", box.left, box.bottom,
                  box.right, box.top);
    std::string out = kEnterPostScript;
    out += pieces[0];
    out += "/WriteTarget (" + vol + "File/EPSF/" + file + ") (w) file def" + update;
    out += pieces[1];
    out.append(Chars(data), length);
    out += pieces[2];
    out += pieces[0];
    out += "/WriteTarget (" + vol + "Resource/Form/" + file + ") (w) file def" + update;
    out += pieces[3];
    out += boxLine + update;
    out += pieces[4];
    out += "      (" + vol + "File/EPSF/" + file + ") run" + update;
    out += pieces[5];
    out += "/" + name + " %*** Update for each Form***\r\n";
    out += pieces[6];
    out += "(" + vol + "Resource/Form/" + file + ") run %*** Update for each Form***\r\n";
    out += kUel;
    if (out.size() > 0xFFFF0000u)
        return std::nullopt;
    return out;
}

bool IsSafeProfileTarget(const std::string &volume, const std::string &folder,
                         const std::string &name, const std::string &id) {
    return IsDecimalId(id) && !HasControlOrQuote(volume) && !HasControlOrQuote(folder) &&
           !HasControlOrQuote(name);
}

std::optional<std::string> BuildMacroStream(const std::uint8_t *data, std::size_t length,
                                            const std::string &volume, const std::string &folder,
                                            const std::string &name, const std::string &id) {
    if (!data || !IsSafeFontTarget(volume, folder, name, id) || length > 0xFFFF0000u)
        return std::nullopt;
    std::string out = BuildDeleteFirstHeader(volume, folder, id + "::*", name,
                                             static_cast<std::uint32_t>(length));
    out.append(Chars(data), length);
    out += kUel;
    return out;
}

std::optional<std::string> BuildProfileStream(const std::uint8_t *data, std::size_t length,
                                              const std::string &volume, const std::string &folder,
                                              const std::string &name, const std::string &id) {
    // ID 0 is a row without a profile number (no readable .op2): nothing of it can be stored.
    const bool numbered = id.find_first_not_of('0') != std::string::npos;
    if (!data || !IsSafeProfileTarget(volume, folder, name, id) || !numbered ||
        length > 0xFFFF0000u)
        return std::nullopt;
    const std::string color = "@PJL QUVWILDFSDELETE NAME=\"1:\\common\\smaps_env\\color\\ink" + id;
    std::string out = kUel;
    out += color + "b*\"\r\n";
    out += color + "c*\"\r\n";
    out += BuildDownloadHeader(volume, folder, name, static_cast<std::uint32_t>(length));
    out.append(Chars(data), length);
    out += kUel;
    return out;
}

ProfileRows DecodeProfileName(const std::string &name) {
    ProfileRows rows;
    std::size_t pos = std::min<std::size_t>(3, name.size());
    long long number = 0;
    int digits = 0;
    while (pos < name.size() && name[pos] >= '0' && name[pos] <= '9') {
        if (digits++ < 9)
            number = number * 10 + (name[pos] - '0');
        ++pos;
    }
    rows.userProfile = number > 1000 ? static_cast<int>(number - 1000) : 0;
    const std::size_t left = name.size() - pos;
    if (StartsWith(name, pos, "bst")) {
        rows.screen = 10129;
        pos += 3;
    } else {
        rows.screen = 10130;
        pos += std::min<std::size_t>(4, left);
    }
    if (StartsWith(name, pos, "1200")) {
        rows.resolution = 10131;
        pos += 4;
    } else if (StartsWith(name, pos, "v1200")) {
        rows.resolution = 10132;
        pos += 5;
    } else {
        rows.resolution = 10133;
        pos += std::min<std::size_t>(3, name.size() - pos);
    }
    rows.media = StartsWith(name, pos, "ppr") ? 10134 : 10135;
    return rows;
}

std::string ProfileDescription(const std::uint8_t *data, std::size_t length) {
    if (!data)
        return {};
    const std::size_t n = std::min<std::size_t>(32, length);
    const auto *end = std::find(data, data + n, 0);
    return std::string(Chars(data), static_cast<std::size_t>(end - data));
}
