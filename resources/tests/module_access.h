// Shared helpers of the resource-module tests: raw resource bytes and string-table entries,
// looked up by type, number and language.
#pragma once

#include <windows.h>

#include <cstdint>
#include <optional>
#include <span>
#include <string>

namespace restest {

constexpr LANGID kEnglishUk = MAKELANGID(LANG_ENGLISH, SUBLANG_ENGLISH_UK); // 2057
constexpr LANGID kEnglishUs = MAKELANGID(LANG_ENGLISH, SUBLANG_ENGLISH_US); // 1033

// The bytes of one resource, or an empty span when it is missing.
inline std::span<const std::uint8_t> ResourceBytes(HMODULE module, LPCSTR type, WORD id,
                                                   LANGID lang) {
    HRSRC found = FindResourceExA(module, type, MAKEINTRESOURCEA(id), lang);
    if (!found)
        return {};
    HGLOBAL loaded = LoadResource(module, found);
    const DWORD size = SizeofResource(module, found);
    const void *data = loaded ? LockResource(loaded) : nullptr;
    if (!data)
        return {};
    return {static_cast<const std::uint8_t *>(data), size};
}

// One string of a string table in the given language, read from its block of 16 counted
// UTF-16 strings; nullopt when the block or the string is missing. Units above 0xFF
// become '?', so a text compared with an ASCII literal still fails.
inline std::optional<std::string> RawString(HMODULE module, unsigned id, LANGID lang) {
    const auto block =
        ResourceBytes(module, MAKEINTRESOURCEA(6), static_cast<WORD>(id / 16 + 1), lang);
    std::size_t pos = 0;
    for (unsigned index = 0; index <= id % 16; ++index) {
        if (pos + 2 > block.size())
            return std::nullopt;
        const std::size_t count = block[pos] | (block[pos + 1] << 8);
        pos += 2;
        if (pos + 2 * count > block.size())
            return std::nullopt;
        if (index == id % 16) {
            if (count == 0)
                return std::nullopt;
            std::string text;
            for (std::size_t k = 0; k < count; ++k) {
                const unsigned unit = block[pos + 2 * k] | (block[pos + 2 * k + 1] << 8);
                text.push_back(unit <= 0xFF ? static_cast<char>(unit) : '?');
            }
            return text;
        }
        pos += 2 * count;
    }
    return std::nullopt;
}

} // namespace restest
