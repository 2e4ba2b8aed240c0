// The codecs that need the platform: ANSI code page <-> UTF-8, and the authentication strings.
#pragma once

#include <cstdint>

namespace marfel {

class CUtf8 {
  public:
    virtual ~CUtf8() = default;
    // Both convert exactly `*length` bytes (no terminator needed) and return a process-heap
    // block with a zero byte after the output; `*length` = output bytes. nullptr when the
    // conversion yields nothing or fails.
    void *AnsiToUtf8(const char *text, int *length) const;
    void *Utf8ToAnsi(const char *text, int *length) const;
};

class CMsgHash {
  public:
    virtual ~CMsgHash() = default;
    // Base64 of "user hex(HMAC-MD5(secret, Base64-decoded challenge))"; nullptr on any failure.
    void *MakeCramMd5Response(const char *user, const char *secret, const char *challenge,
                              int *length) const;
    // Base64 of user NUL user NUL password.
    void *MakePlainMessage(const char *user, const char *password, int *length) const;
};

} // namespace marfel
