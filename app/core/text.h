// Text and byte helpers shared by the whole application. No Windows header.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

// Position of the first CR, LF, FF or NUL in a NUL-terminated text.
const char *FindLineEnd(const char *text);
// 0 when the first n characters of both texts are present and equal, else 1.
int CompareFirstChars(const char *a, const char *b, std::size_t n);
// As CompareFirstChars, each pair compared with bit 0x20 ignored.
int CompareFirstCharsNoCase(const char *a, const char *b, std::size_t n);
// Copies at most n characters and always a NUL: the destination holds n + 1.
void CopyStringN(char *dst, const char *src, std::size_t n);
// First occurrence of pattern in text (case-sensitive), or null.
const char *FindSubstring(const char *text, const char *pattern);

// The part of a path after its last ':' or '\'; the whole path when it has neither.
std::string GetPathLeaf(const std::string &path);
// "%4.2f" without trailing zeros and then without a trailing '.'; non-finite gives "0".
std::string FormatTrimmedFloat(double value);
// True when "%!PS" starts within the first 1024 bytes (at offset 0 to 1020).
bool HasPostScriptSignature(const std::uint8_t *bytes, std::size_t count);

// Family code of a typeface string's first letter: D 0x50, M 0x30, R 0x10, S 0x40,
// W 0x20 (either case), any other 0.
int TypefaceFamilyCode(char letter);
// "W,Arial" gives "Arial": the letter and its comma removed; 2 characters or fewer give "".
std::string TypefaceNameOf(const std::string &entry);
