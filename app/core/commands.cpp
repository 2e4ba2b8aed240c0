#include "commands.h"

#include <cstdio>

#include "queries.h"

namespace {

char Lower(char c) {
    return c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c;
}

bool EqualNoCase(std::string_view a, std::string_view b) {
    if (a.size() != b.size())
        return false;
    for (std::size_t i = 0; i < a.size(); ++i)
        if (Lower(a[i]) != Lower(b[i]))
            return false;
    return true;
}

std::size_t FindNoCase(std::string_view text, std::string_view pattern) {
    if (pattern.size() > text.size())
        return std::string_view::npos;
    for (std::size_t i = 0; i + pattern.size() <= text.size(); ++i)
        if (EqualNoCase(text.substr(i, pattern.size()), pattern))
            return i;
    return std::string_view::npos;
}

constexpr char kUel[] = "\x1b%-12345X";
constexpr char kJobAccount[] =
    "@PJL QUVJOBACCOUNTJOB JOBACCOUNTID=1879048192 USERID=\"Kelvane\" JOBNAME=\"";

} // namespace

int TakeNextMacroId(std::string &ids) {
    const std::size_t comma = ids.find(',');
    const std::string_view item =
        std::string_view(ids).substr(0, comma == std::string::npos ? ids.size() : comma);
    long number = 0;
    bool digits = false;
    bool over = false;
    for (char c : item) {
        if (c < '0' || c > '9')
            continue;
        digits = true;
        if (!over) {
            number = number * 10 + (c - '0');
            over = number > kMaxMacroId;
        }
    }
    ids = comma == std::string::npos ? std::string() : ids.substr(comma + 1);
    return digits && !over ? static_cast<int>(number) : -1;
}

std::string BuildTestMacroJob(std::string &ids, bool formFeed) {
    std::string job = std::string(kUel) + kJobAccount + "Test Macro\"\r\n@PJL ENTER LANGUAGE=PCL\n";
    for (int id = TakeNextMacroId(ids); id >= 0; id = TakeNextMacroId(ids)) {
        char select[40];
        std::snprintf(select, sizeof select, "\x1b&f%dY\x1b&f2X", id);
        job += select;
        if (formFeed)
            job += '\f';
    }
    if (!formFeed)
        job += '\f';
    return job;
}

bool IsRegularPostScriptName(std::string_view name) {
    if (name.empty())
        return false;
    for (char c : name) {
        const auto u = static_cast<unsigned char>(c);
        if (u <= 0x20 || u >= 0x7F)
            return false;
        if (std::string_view("()<>[]{}/%").find(c) != std::string_view::npos)
            return false;
    }
    return true;
}

std::string BuildTestFormJob(std::string_view name) {
    std::string job = std::string(kUel) + kJobAccount +
                      "Test Form\"\r\n@PJL ENTER LANGUAGE=POSTSCRIPT\r\n%!PS-Adobe\r\n";
    if (IsRegularPostScriptName(name))
        job += "/" + std::string(name);
    else
        job += "(" + EscapePostScriptString(name) + ") cvn";
    job += " /Form findresource execform\n showpage\n\x04";
    job += kUel;
    return job;
}

FilterFlags ParseFilterFlags(const char *bytes, std::size_t count) {
    FilterFlags flags;
    flags.fill(1);
    if (!bytes || count != kFilterFileSize)
        return flags;
    for (std::size_t i = 0; i < kFilterFlagCount; ++i) {
        const auto *p = reinterpret_cast<const unsigned char *>(bytes + i * 4);
        const std::uint32_t value = p[0] | (p[1] << 8) | (p[2] << 16) | (std::uint32_t{p[3]} << 24);
        flags[i] = value != 0 ? 1 : 0;
    }
    return flags;
}

std::string WriteFilterFlags(const FilterFlags &flags) {
    std::string bytes(kFilterFileSize, '\0');
    for (std::size_t i = 0; i < kFilterFlagCount; ++i)
        bytes[i * 4] = flags[i] != 0 ? 1 : 0;
    return bytes;
}

std::string MacroOutputName(std::string_view input) {
    const std::size_t slash = input.find_last_of("\\/:");
    const std::size_t leaf = slash == std::string_view::npos ? 0 : slash + 1;
    const std::size_t dot = input.find('.', leaf);
    return std::string(input.substr(0, dot == std::string_view::npos ? input.size() : dot)) +
           ".bin";
}

bool SamePathNoCase(std::string_view a, std::string_view b) {
    return EqualNoCase(a, b);
}

bool IsPsMenuDisabled(std::string_view psmenu) {
    return EqualNoCase(psmenu, "DISABLE");
}

std::string ClampIdentifierText(std::string_view text) {
    if (text.empty())
        return std::string(text);
    for (char c : text)
        if (c < '0' || c > '9')
            return std::string(text); // not a number
    std::size_t first = text.find_first_not_of('0');
    if (first == std::string_view::npos)
        return std::string(text);
    const std::string_view significant = text.substr(first);
    if (significant.size() > 5 || (significant.size() == 5 && significant > "32767"))
        return "32767";
    return std::string(text);
}

bool IsDemoPageName(std::string_view name) {
    return name.size() >= 4 && EqualNoCase(name.substr(name.size() - 4), ".DMO");
}

bool IsStorablePrinterName(std::string_view name) {
    return !name.empty() && name.find_first_of("\r\n") == std::string_view::npos &&
           name.find(",Port=") == std::string_view::npos;
}

std::vector<std::string> ChooserRows(int mode, const std::vector<std::string> &entries,
                                     bool &endsAtOnce) {
    endsAtOnce = false;
    std::vector<std::string> rows;
    if (mode == 3) {
        rows.emplace_back("DEMO1");
        for (const std::string &entry : entries) {
            const std::size_t dmo = FindNoCase(entry, ".DMO");
            if (dmo == std::string::npos)
                continue;
            std::string name = entry.substr(0, dmo);
            if (name != "DEMO1")
                rows.push_back(std::move(name));
        }
        endsAtOnce = rows.size() == 1;
        return rows;
    }
    for (const std::string &entry : entries) {
        if (mode == 1) {
            if (entry.size() < 2)
                continue;
            rows.push_back(entry.substr(1, entry.size() - 2));
        } else {
            rows.push_back(entry);
        }
    }
    return rows;
}
