#include "text.h"

#include <charconv>
#include <cmath>
#include <cstring>

const char *FindLineEnd(const char *text) {
    while (*text && *text != '\r' && *text != '\n' && *text != '\f')
        ++text;
    return text;
}

int CompareFirstChars(const char *a, const char *b, std::size_t n) {
    for (std::size_t i = 0; i < n; ++i) {
        if (a[i] == '\0' || b[i] == '\0' || a[i] != b[i])
            return 1;
    }
    return 0;
}

int CompareFirstCharsNoCase(const char *a, const char *b, std::size_t n) {
    for (std::size_t i = 0; i < n; ++i) {
        if (a[i] == '\0' || b[i] == '\0' || (a[i] | 0x20) != (b[i] | 0x20))
            return 1;
    }
    return 0;
}

void CopyStringN(char *dst, const char *src, std::size_t n) {
    std::size_t i = 0;
    for (; i < n && src[i]; ++i)
        dst[i] = src[i];
    dst[i] = '\0';
}

const char *FindSubstring(const char *text, const char *pattern) {
    return std::strstr(text, pattern);
}

std::string GetPathLeaf(const std::string &path) {
    std::size_t at = path.find_last_of(":\\");
    return at == std::string::npos ? path : path.substr(at + 1);
}

std::string FormatTrimmedFloat(double value) {
    if (!std::isfinite(value))
        return "0";
    char buf[64];
    auto [end, ec] = std::to_chars(buf, buf + sizeof buf, value, std::chars_format::fixed, 2);
    if (ec != std::errc())
        return "0";
    std::string text(buf, end);
    if (text.find('.') != std::string::npos) {
        while (!text.empty() && text.back() == '0')
            text.pop_back();
        if (!text.empty() && text.back() == '.')
            text.pop_back();
    }
    if (text == "-0")
        text = "0";
    return text;
}

bool HasPostScriptSignature(const std::uint8_t *bytes, std::size_t count) {
    const std::size_t limit = count < 1024 ? count : 1024;
    for (std::size_t i = 0; i + 4 <= limit; ++i) {
        if (bytes[i] == '%' && bytes[i + 1] == '!' && bytes[i + 2] == 'P' && bytes[i + 3] == 'S')
            return true;
    }
    return false;
}

int TypefaceFamilyCode(char letter) {
    switch (letter | 0x20) {
    case 'd':
        return 0x50;
    case 'm':
        return 0x30;
    case 'r':
        return 0x10;
    case 's':
        return 0x40;
    case 'w':
        return 0x20;
    default:
        return 0;
    }
}

std::string TypefaceNameOf(const std::string &entry) {
    return entry.size() > 2 ? entry.substr(2) : std::string();
}
