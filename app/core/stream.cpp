#include "stream.h"

#include <algorithm>

#include "reply.h"

std::string BuildDownloadHeader(const std::string &volume, const std::string &folder,
                                const std::string &name, std::uint32_t size) {
    std::string header(kUel, kUelLength);
    header += "@PJL FSDOWNLOAD FORMAT:BINARY SIZE=";
    header += std::to_string(size);
    header += " NAME=\"";
    header += volume;
    header += folder;
    header += '\\';
    header += name;
    header += "\"\r\n";
    return header;
}

std::string BuildDeleteFirstHeader(const std::string &volume, const std::string &folder,
                                   const std::string &pattern, const std::string &name,
                                   std::uint32_t size) {
    std::string header(kUel, kUelLength);
    header += "@PJL QUVWILDFSDELETE NAME=\"";
    header += volume;
    header += folder;
    header += '\\';
    header += pattern;
    header += "\"\r\n";
    header += BuildDownloadHeader(volume, folder, name, size).substr(kUelLength);
    return header;
}

bool IsSafeFontTarget(const std::string &volume, const std::string &folder, const std::string &name,
                      const std::string &id) {
    if (id.empty() || id.size() > 9 ||
        !std::all_of(id.begin(), id.end(), [](char c) { return c >= '0' && c <= '9'; }))
        return false;
    for (const std::string *text : {&volume, &folder, &name})
        for (const char c : *text)
            if (c == '"' || static_cast<unsigned char>(c) < 0x20)
                return false;
    for (const std::string *text : {&volume, &folder})
        if (text->find_first_of("*?") != std::string::npos)
            return false;
    return true;
}

std::optional<std::uint32_t> GrowCapacity(std::uint32_t capacity, std::uint32_t written,
                                          std::uint32_t n) {
    std::uint64_t cap = capacity ? capacity : 1;
    while (cap - written < n) {
        cap *= 2;
        if (cap > 0xFFFFFFFEu) // one more byte holds the NUL
            return std::nullopt;
    }
    return static_cast<std::uint32_t>(cap);
}

std::size_t ParsePclValue(const std::uint8_t *esc, const std::uint8_t *end, std::uint32_t &count) {
    count = 0;
    const std::size_t size = end > esc ? static_cast<std::size_t>(end - esc) : 0;
    std::size_t pos = 3;
    bool negative = false;
    if (pos < size && (esc[pos] == '-' || esc[pos] == '+')) {
        negative = esc[pos] == '-';
        ++pos;
    }
    std::uint64_t value = 0;
    std::size_t digits = 0;
    while (pos < size && esc[pos] >= '0' && esc[pos] <= '9') {
        if (value < 0xFFFFFFFFu)
            value = value * 10 + (esc[pos] - '0');
        ++pos;
        ++digits;
    }
    if (digits == 0)
        return 4; // nothing read: k is 0
    const std::size_t k = pos - 3;
    if (negative)
        value = 0;
    // A declared payload running past the data is clamped to the bytes there.
    const std::size_t available = size > k + 4 ? size - (k + 4) : 0;
    if (value > available)
        value = available;
    count = static_cast<std::uint32_t>(value);
    // Bytes after the declared payload, up to the next ESC (or the end of the data).
    std::size_t after = k + 4 + static_cast<std::size_t>(value);
    while (after < size && esc[after] != 0x1b) {
        if (count < 0xFFFFFFFFu)
            ++count;
        ++after;
    }
    return k + 4;
}

int MapFontType(int pclType) {
    switch (pclType) {
    case 0:
        return 0;
    case 1:
        return 1;
    case 3:
        return 4;
    case 10:
        return 10;
    case 11:
        return 11;
    default:
        return 2;
    }
}
