#include "project.h"

#include <algorithm>
#include <cstring>
#include <map>
#include <string_view>

namespace {

std::string Cut(const std::string &text, std::size_t n) {
    return text.substr(0, n);
}

char Upper(char c) {
    return c >= 'a' && c <= 'z' ? static_cast<char>(c - 'a' + 'A') : c;
}
char Lower(char c) {
    return c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c;
}

std::string UpperCased(std::string text) {
    std::transform(text.begin(), text.end(), text.begin(), Upper);
    return text;
}

bool IsWhite(std::uint8_t c) {
    return c == ' ' || c == '\t' || c == '\r' || c == '\n' || c == '\f' || c == '\v' || c == 0;
}

bool IsDigit(char c) {
    return c >= '0' && c <= '9';
}

// The value after a key: up to the next CR, LF or the end.
std::string ValueAt(const char *at, const char *end) {
    const char *stop = at;
    while (stop < end && *stop != '\r' && *stop != '\n')
        ++stop;
    return std::string(at, stop);
}

std::size_t Find(const std::uint8_t *data, std::size_t size, std::size_t from,
                 std::string_view what) {
    if (from >= size || what.size() > size - from)
        return std::string_view::npos;
    const auto *begin = data + from;
    const auto *end = data + size;
    const auto *hit = std::search(begin, end, what.begin(), what.end(), [](std::uint8_t a, char b) {
        return a == static_cast<std::uint8_t>(b);
    });
    return hit == end ? std::string_view::npos : static_cast<std::size_t>(hit - data);
}

// The text after the '/' at `slash` up to the next white space or the end.
std::string NameAfterSlash(const std::uint8_t *data, std::size_t size, std::size_t slash) {
    std::size_t end = slash + 1;
    while (end < size && !IsWhite(data[end]))
        ++end;
    return std::string(reinterpret_cast<const char *>(data) + slash + 1, end - slash - 1);
}

} // namespace

// ---- the .OPJ text ----

std::string WriteProjectText(const std::vector<ProjectRow> &rows) {
    std::string text = "[FILES]\r\nCount=" + std::to_string(rows.size()) + "\r\n\r\n";
    for (std::size_t n = 0; n < rows.size(); ++n) {
        const ProjectRow &r = rows[n];
        text += "[file" + std::to_string(n) + "]\r\n";
        text += "FileSourcePath=" + Cut(r.source, kMaxRowText) + "\r\n";
        text += "FileName=" + Cut(r.name, kMaxRowText) + "\r\n";
        text += "FileID=" + Cut(r.id, kMaxIdText) + "\r\n";
        text += "FileTargetVolume=" + Cut(r.volume, kMaxRowText) + "\r\n";
        text += "FileTargetPath=" + Cut(r.folder, kMaxRowText) + "\r\n\r\n";
    }
    return text;
}

const char *FindKeyAtLineStart(const char *begin, const char *end, const char *key) {
    const std::size_t n = std::strlen(key);
    for (const char *line = begin; line < end;) {
        if (static_cast<std::size_t>(end - line) >= n && std::memcmp(line, key, n) == 0)
            return line + n;
        const void *lf = std::memchr(line, '\n', static_cast<std::size_t>(end - line));
        if (!lf)
            break;
        line = static_cast<const char *>(lf) + 1;
    }
    return nullptr;
}

std::optional<std::vector<ProjectEntry>> ReadProjectText(const char *data, std::size_t length) {
    if (!data)
        return std::nullopt;
    const void *nul = std::memchr(data, '\0', length);
    if (nul)
        length = static_cast<std::size_t>(static_cast<const char *>(nul) - data);
    const std::string_view text(data, length);
    constexpr std::string_view kCount = "[FILES]\r\nCount=";
    const std::size_t key = text.find(kCount);
    if (key == std::string_view::npos)
        return std::nullopt;

    // Count: an optional sign and decimal digits, held at the highest section number a
    // header can name.
    std::size_t at = key + kCount.size();
    const bool negative = at < text.size() && text[at] == '-';
    if (at < text.size() && (text[at] == '-' || text[at] == '+'))
        ++at;
    long long count = 0;
    for (; at < text.size() && IsDigit(text[at]); ++at)
        count = std::min<long long>(count * 10 + (text[at] - '0'), 1LL << 40);
    if (negative)
        count = -count;

    // Every section header at a line start after the Count key, the first of each number.
    const char *const end = data + length;
    std::map<long long, const char *> sections;
    const char *line = data + key + kCount.size();
    for (;;) {
        const void *lf = std::memchr(line, '\n', static_cast<std::size_t>(end - line));
        if (!lf)
            break;
        line = static_cast<const char *>(lf) + 1;
        const std::string_view rest(line, static_cast<std::size_t>(end - line));
        if (rest.substr(0, 5) != "[file")
            continue;
        std::size_t d = 5;
        long long number = 0;
        while (d < rest.size() && d < 5 + 12 && IsDigit(rest[d]))
            number = number * 10 + (rest[d++] - '0');
        const bool canonical = d > 5 && (rest[5] != '0' || d == 6);
        if (canonical && rest.substr(d, 3) == "]\r\n" && number < count)
            sections.emplace(number, line + d + 3);
    }

    std::vector<ProjectEntry> entries;
    for (const auto &[number, body] : sections) {
        // The section runs to the next line that starts with '['.
        const char *stop = body;
        for (const char *l = body; l < end;) {
            if (*l == '[')
                break;
            const void *lf = std::memchr(l, '\n', static_cast<std::size_t>(end - l));
            stop = lf ? static_cast<const char *>(lf) + 1 : end;
            l = stop;
        }
        auto value = [&](const char *k, std::size_t cut) -> std::optional<std::string> {
            const char *v = FindKeyAtLineStart(body, stop, k);
            if (!v)
                return std::nullopt;
            return Cut(ValueAt(v, stop), cut);
        };
        ProjectEntry e;
        e.number = number;
        e.source = value("FileSourcePath=", std::string::npos);
        e.name = value("FileName=", kMaxRowText);
        e.id = value("FileID=", kMaxRowText);
        e.volume = value("FileTargetVolume=", kMaxRowText);
        e.folder = value("FileTargetPath=", kMaxRowText);
        entries.push_back(std::move(e));
    }
    return entries;
}

// ---- adding a file ----

std::string ExtensionOf(const std::string &path) {
    const std::size_t leaf = path.find_last_of("\\/:");
    const std::size_t dot = path.find_last_of('.');
    if (dot == std::string::npos || (leaf != std::string::npos && dot < leaf))
        return {};
    return UpperCased(path.substr(dot + 1));
}

std::string ConvertedProjectPath(const std::string &path, bool postScript) {
    const std::string ext = ExtensionOf(path);
    const char *replacement = nullptr;
    if (ext == "PRN")
        replacement = postScript ? "HST" : "BIN";
    else if (ext == "ICC" || ext == "ICM")
        replacement = "OP1";
    if (!replacement)
        return path;
    return path.substr(0, path.size() - ext.size()) + replacement;
}

ProjectTarget TargetForExtension(const std::string &ext) {
    if (ext == "SFP")
        return {kItemBitmapFont, "\\fonts", "0:"};
    if (ext == "TTF")
        return {kItemTrueTypeFont, "\\fonts", "0:"};
    if (ext == "PFB" || ext == "FNT")
        return {kItemPostScriptFont, "/fonts", "%disk0%"};
    if (ext == "HST")
        return {kItemPostScriptForm, "/Resource/Form", "%disk0%"};
    if (ext == "DMO")
        return {kItemMacro, kDemoFolder, "1:"};
    if (ext == "OP1")
        return {kItemColourProfile, "\\common\\smaps_env\\color", "1:"};
    return {kItemMacro, kMacroFolder, "0:"};
}

std::string SanitiseName(const std::string &name) {
    static constexpr char kReplaced[] = " %()/<>[]\\{}_\"";
    std::string out = Cut(name, kMaxRowText);
    for (char &c : out)
        if (static_cast<std::uint8_t>(c) < 0x20 || std::strchr(kReplaced, c))
            c = '-';
    return out;
}

std::string PostScriptFontName(const std::uint8_t *data, std::size_t size) {
    if (!data || size == 0)
        return {};
    if (Find(data, size, 0, "%!PS-AdobeFont") != std::string_view::npos) {
        const std::size_t from = size > 6 ? 6 : 0;
        const std::size_t key = Find(data, size, from, "/FontName");
        if (key != std::string_view::npos) {
            const std::size_t slash = Find(data, size, key + 9, "/");
            return slash == std::string_view::npos ? std::string()
                                                   : NameAfterSlash(data, size, slash);
        }
    }
    const std::size_t define = Find(data, size, 0, "definefont");
    if (define == std::string_view::npos)
        return {};
    for (std::size_t i = define; i-- > 0;)
        if (data[i] == '/')
            return NameAfterSlash(data, size, i);
    return {};
}

std::string ColourProfileText(const std::string &op2) {
    std::size_t b = 0, e = op2.size();
    while (b < e && IsWhite(static_cast<std::uint8_t>(op2[b])))
        ++b;
    while (e > b && IsWhite(static_cast<std::uint8_t>(op2[e - 1])))
        --e;
    const std::string text = op2.substr(b, e - b);
    const std::size_t slash = text.find_last_of('\\');
    return slash == std::string::npos ? text : text.substr(slash + 1);
}

std::uint32_t InkId(const std::string &text) {
    const std::size_t at = text.find("ink");
    if (at == std::string::npos)
        return 0;
    std::uint32_t id = 0;
    for (std::size_t i = at + 3; i < text.size() && i < at + 3 + 9 && IsDigit(text[i]); ++i)
        id = id * 10 + static_cast<std::uint32_t>(text[i] - '0');
    return id;
}

NameAndId RowNameAndId(int kind, const std::string &name, int rowsBefore,
                       const std::string &profileText) {
    const std::string n = std::to_string(rowsBefore);
    switch (kind) {
    case kItemBitmapFont:
    case kItemTrueTypeFont:
    case kItemPostScriptFont:
        return {name, n};
    case kItemPostScriptForm:
        return {name.substr(0, name.find('.')), ""};
    case kItemColourProfile:
        return {name.substr(0, name.find('.')), std::to_string(InkId(profileText))};
    default:
        return {n, n};
    }
}

// ---- editing a row ----

bool ApplyEditRules(std::string &name, std::string &volume, std::string &folder) {
    name = SanitiseName(name);
    if (volume.size() == 1)
        volume += ':';
    if (folder != kDemoFolder)
        return false;
    name = UpperCased(name);
    std::transform(folder.begin(), folder.end(), folder.begin(), Lower);
    if (name.size() >= 4 && name.compare(name.size() - 4, 4, ".DMO") == 0)
        return false;
    name = name.substr(0, kMaxRowText - 4) + ".DMO";
    return true;
}

// ---- sending ----

std::optional<long> ReadIdNumber(const std::string &id) {
    const std::string text = Cut(id, kMaxIdText);
    std::size_t i = 0;
    const bool negative = i < text.size() && text[i] == '-';
    if (i < text.size() && (text[i] == '-' || text[i] == '+'))
        ++i;
    if (i >= text.size() || !IsDigit(text[i]))
        return std::nullopt;
    long value = 0;
    for (; i < text.size() && IsDigit(text[i]); ++i)
        value = value * 10 + (text[i] - '0');
    return negative ? -value : value;
}

std::optional<std::pair<int, int>> FindDuplicateId(const std::vector<IdRow> &rows) {
    auto family = [](int kind) {
        return kind == kItemBitmapFont || kind == kItemTrueTypeFont ? 1
               : kind == kItemMacro                                 ? 2
                                                                    : 0;
    };
    const int count = static_cast<int>(rows.size());
    for (int i = 0; i + 1 < count; ++i) {
        const int f = family(rows[i].kind);
        const auto a = f ? ReadIdNumber(rows[i].id) : std::nullopt;
        if (!a)
            continue;
        for (int j = i + 1; j < count; ++j)
            if (family(rows[j].kind) == f && ReadIdNumber(rows[j].id) == a)
                return std::make_pair(i, j);
    }
    return std::nullopt;
}

std::string JoinWithUnderscore(const std::string &name, const std::string &id) {
    return name + "_" + id;
}

std::string DownloadName(int kind, const std::string &name, const std::string &id,
                         const std::string &folder) {
    if (kind == kItemBitmapFont || kind == kItemTrueTypeFont)
        return JoinWithUnderscore(name, id);
    if (kind == kItemMacro && folder == kDemoFolder) {
        const std::string upper = UpperCased(name);
        return upper.find(".DMO") == std::string::npos ? upper + ".DMO" : upper;
    }
    if (kind == kItemMacro && folder == kMacroFolder)
        return id;
    return name;
}

bool IsPjlSafeText(const std::string &text) {
    for (char c : text)
        if (c == '"' || static_cast<std::uint8_t>(c) < 0x20)
            return false;
    return true;
}
