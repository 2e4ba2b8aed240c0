// Download streams and the byte-level helpers of the file kinds. No Windows header.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>

// Longest volume, folder, name or path text the application keeps (a 260-byte buffer).
inline constexpr std::size_t kMaxPathText = 259;

// "<UEL>@PJL FSDOWNLOAD FORMAT:BINARY SIZE=<size> NAME=\"<volume><folder>\<name>\"\r\n";
// sized from its parts, so any lengths fit.
std::string BuildDownloadHeader(const std::string &volume, const std::string &folder,
                                const std::string &name, std::uint32_t size);

// The header of a stream that deletes before it stores: "<UEL>@PJL QUVWILDFSDELETE
// NAME=\"<volume><folder>\<pattern>\"\r\n", then the FSDOWNLOAD line (its UEL left out).
std::string BuildDeleteFirstHeader(const std::string &volume, const std::string &folder,
                                   const std::string &pattern, const std::string &name,
                                   std::uint32_t size);

// True when a font's wild delete "*_<id>" can only match that font's older versions in
// the folder: an ID of 1 to 9 digits, no text holding '"' or a byte below 0x20, and no '*'
// or '?' in the volume or the folder.
bool IsSafeFontTarget(const std::string &volume, const std::string &folder, const std::string &name,
                      const std::string &id);

// Capacity of a growing stream buffer that must take n more bytes: doubled until
// capacity - written >= n. Empty when that passes 32 bits.
std::optional<std::uint32_t> GrowCapacity(std::uint32_t capacity, std::uint32_t written,
                                          std::uint32_t n);

// A data-bearing PCL escape at esc (ESC, two prefix bytes, a decimal value, a command
// letter, value bytes of payload): returns the payload offset (digits + 4) and sets count to
// the value plus the bytes after the declared payload up to the next ESC or end. Bounded by
// end: a declared payload past it is clamped to the bytes there; a negative value counts as
// 0; no digits give offset 4 with count 0.
std::size_t ParsePclValue(const std::uint8_t *esc, const std::uint8_t *end, std::uint32_t &count);

// Stored font type code of a PCL font type byte: 0 0, 1 1, 3 4, 10 10, 11 11, other 2.
int MapFontType(int pclType);
