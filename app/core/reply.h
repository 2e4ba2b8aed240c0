// Taking printer replies apart: the byte-level half of the printer connection.
// Every function is bounded by the count of bytes received, never by a NUL alone.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

#include "stream.h"

inline constexpr char kUel[] = "\x1b%-12345X";
inline constexpr std::size_t kUelLength = 9;

// Removes a UEL ending the received bytes (zeroing it); true when one was cut.
bool CutTrailingUel(char *reply, std::uint32_t &received);

// Removes every unsolicited status block ("@PJL USTATUS" ... CR LF FF) from the bytes
// received, moving the rest down and zeroing the freed tail. Needs at least 12 bytes.
void RemoveUStatus(char *reply, std::uint32_t &received);

// True while nothing was received or none of the last three bytes is the terminator.
bool IsReplyIncomplete(const char *reply, std::uint32_t received, char terminator);

// Position of text in [data, data + length), or npos; a pattern may not run past length.
std::size_t FindBytes(const char *data, std::size_t length, const char *pattern);

// True when a NUL-separated piece of [data, data + length) holds "ENTER LANGUAGE=POSTSCRIPT".
bool StreamEntersPostScript(const char *data, std::size_t length);

// Language flags from the LANGUAGES list of an INFO CONFIG reply, reading from header on:
// 0 when the list is absent or names no known language. Never reads past received.
std::uint8_t ParseLanguageFlags(const char *reply, std::uint32_t received, std::size_t header);

// Bounded positions in the reply (offsets into it, at most received).
std::size_t FindLineEndIn(const char *reply, std::uint32_t received, std::size_t pos);
std::size_t SkipToNextLineIn(const char *reply, std::uint32_t received, std::size_t pos);
std::size_t SkipBlanksIn(const char *reply, std::uint32_t received, std::size_t pos);

// Characters after the first occurrence of key at or after pos, up to CR, LF, FF or NUL,
// at most maxChars of them; empty when the key is absent.
std::string GetReplyValueIn(const char *reply, std::uint32_t received, std::size_t pos,
                            const char *key, std::size_t maxChars = kMaxPathText);
