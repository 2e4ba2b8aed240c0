#include "truetype.h"

#include <cstring>

#include "stream.h"

std::uint16_t ReadBig16(const std::uint8_t *p) {
    return static_cast<std::uint16_t>(p[0] << 8 | p[1]);
}

std::uint32_t ReadBig32(const std::uint8_t *p) {
    return static_cast<std::uint32_t>(p[0]) << 24 | static_cast<std::uint32_t>(p[1]) << 16 |
           static_cast<std::uint32_t>(p[2]) << 8 | p[3];
}

TrueTypeTable FindTrueTypeTable(const char *tag, const std::uint8_t *font, std::size_t fontLength) {
    if (!font || fontLength < 12)
        return {};
    const std::size_t count = ReadBig16(font + 4);
    for (std::size_t i = 0; i < count; ++i) {
        const std::size_t entry = 12 + 16 * i;
        if (entry + 16 > fontLength)
            return {};
        if (std::memcmp(font + entry, tag, 4) != 0)
            continue;
        const std::uint64_t offset = ReadBig32(font + entry + 8);
        const std::uint64_t length = ReadBig32(font + entry + 12);
        if (offset > fontLength || length > fontLength - offset)
            return {};
        return {font + offset, static_cast<std::uint32_t>(length)};
    }
    return {};
}

std::string GetTrueTypeName(const TrueTypeTable &names, std::uint16_t nameId) {
    if (!names.data || names.length < 6)
        return {};
    const std::uint8_t *table = names.data;
    const std::size_t count = ReadBig16(table + 2);
    const std::size_t strings = ReadBig16(table + 4);
    std::size_t chosenOffset = 0, chosenLength = 0;
    bool found = false;
    for (std::size_t i = 0; i < count; ++i) {
        const std::size_t rec = 6 + 12 * i;
        if (rec + 12 > names.length)
            break;
        if (ReadBig16(table + rec) != 3 || ReadBig16(table + rec + 6) != nameId)
            continue;
        chosenLength = ReadBig16(table + rec + 8);
        chosenOffset = ReadBig16(table + rec + 10);
        found = true;
        if (ReadBig16(table + rec + 2) == 1)
            break;
    }
    if (!found)
        return {};
    const std::size_t start = strings + chosenOffset;
    if (start > names.length || chosenLength > names.length - start)
        return {};
    std::string out;
    for (std::size_t i = 0; i + 1 < chosenLength && out.size() < kMaxPathText; i += 2)
        out += static_cast<char>(table[start + i + 1]);
    return out;
}
