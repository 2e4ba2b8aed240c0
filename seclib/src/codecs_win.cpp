#include "codecs_win.h"

#include <windows.h>

#include <cstring>

#include "base64.h"
#include "crypt_local.h"
#include "digest_text.h"
#include "heap.h"

namespace marfel {
namespace {

// One code page to another through UTF-16; the result is followed by a zero byte.
void *Convert(UINT from, UINT to, const char *text, int *length) {
    if (!text || !length || *length <= 0)
        return nullptr;
    const int wide = MultiByteToWideChar(from, 0, text, *length, nullptr, 0);
    if (wide <= 0)
        return nullptr;
    HeapBlock utf16(AllocResult(static_cast<std::size_t>(wide) * sizeof(WCHAR)),
                    static_cast<std::size_t>(wide) * sizeof(WCHAR), true);
    if (!utf16)
        return nullptr;
    auto *w = static_cast<WCHAR *>(utf16.get());
    if (MultiByteToWideChar(from, 0, text, *length, w, wide) != wide)
        return nullptr;
    const int bytes = WideCharToMultiByte(to, 0, w, wide, nullptr, 0, nullptr, nullptr);
    if (bytes <= 0)
        return nullptr;
    HeapBlock out(AllocResult(static_cast<std::size_t>(bytes) + 1));
    if (!out)
        return nullptr;
    if (WideCharToMultiByte(to, 0, w, wide, static_cast<char *>(out.get()), bytes, nullptr,
                            nullptr) != bytes)
        return nullptr;
    *length = bytes;
    return out.release();
}

constexpr DWORD kMd5Length = 16;

} // namespace

void *CUtf8::AnsiToUtf8(const char *text, int *length) const {
    return Convert(CP_ACP, CP_UTF8, text, length);
}

void *CUtf8::Utf8ToAnsi(const char *text, int *length) const {
    return Convert(CP_UTF8, CP_ACP, text, length);
}

void *CMsgHash::MakeCramMd5Response(const char *user, const char *secret, const char *challenge,
                                    int *length) const {
    if (!user || !secret || !challenge || !length)
        return nullptr;
    const std::size_t challengeLength = std::strlen(challenge);
    const std::size_t secretLength = std::strlen(secret);
    const std::size_t userLength = std::strlen(user);
    if (challengeLength == 0 || challengeLength > kUnsignedLimit || secretLength > kUnsignedLimit)
        return nullptr;

    const CCryptLocal crypt;
    CryptProvider prov = crypt.AcquireContext();
    if (!prov)
        return nullptr;

    BYTE key[kMd5Length];
    const void *keyBytes = secret;
    DWORD keyLength = static_cast<DWORD>(secretLength);
    if (secretLength > kHmacBlock) {
        keyLength = sizeof key;
        if (!crypt.HashBytes(prov.get(), CCryptLocal::kMd5, secret,
                             static_cast<DWORD>(secretLength), key, &keyLength) ||
            keyLength != kMd5Length)
            return nullptr;
        keyBytes = key;
    }
    HmacPads pads = MakeHmacPads(keyBytes, keyLength);
    SecureZeroMemory(key, sizeof key);

    std::uint64_t decodedLength = challengeLength;
    HeapBlock decoded(CBase64().Decode(challenge, &decodedLength, kUnsignedLimit, ProcessHeap()));
    if (!decoded)
        return nullptr;

    BYTE inner[kMd5Length], digest[kMd5Length];
    DWORD innerLength = sizeof inner, digestLength = sizeof digest;
    {
        CryptHash hash = crypt.CreateHash(prov.get(), CCryptLocal::kMd5);
        if (!hash || !CryptHashData(hash.get(), pads.inner.data(), kHmacBlock, 0) ||
            !CryptHashData(hash.get(), decoded.bytes(), static_cast<DWORD>(decodedLength), 0) ||
            !CryptGetHashParam(hash.get(), HP_HASHVAL, inner, &innerLength, 0) ||
            innerLength != kMd5Length)
            return nullptr;
    }
    {
        CryptHash hash = crypt.CreateHash(prov.get(), CCryptLocal::kMd5);
        if (!hash || !CryptHashData(hash.get(), pads.outer.data(), kHmacBlock, 0) ||
            !CryptHashData(hash.get(), inner, innerLength, 0) ||
            !CryptGetHashParam(hash.get(), HP_HASHVAL, digest, &digestLength, 0) ||
            digestLength != kMd5Length)
            return nullptr;
    }
    SecureZeroMemory(&pads, sizeof pads);

    // "user hex"
    const std::uint64_t textLength = std::uint64_t{userLength} + 1 + 2 * kMd5Length;
    if (textLength > kUnsignedLimit)
        return nullptr;
    HeapBlock text(AllocResult(static_cast<std::size_t>(textLength)));
    if (!text)
        return nullptr;
    std::memcpy(text.bytes(), user, userLength);
    text.bytes()[userLength] = ' ';
    WriteHex(digest, kMd5Length, static_cast<char *>(text.get()) + userLength + 1);

    std::uint64_t encodedLength = textLength;
    void *encoded =
        CBase64().Encode(text.get(), &encodedLength, CBase64::kNoBreaks, kIntLimit, ProcessHeap());
    if (!encoded)
        return nullptr;
    *length = static_cast<int>(encodedLength);
    return encoded;
}

void *CMsgHash::MakePlainMessage(const char *user, const char *password, int *length) const {
    if (!user || !password || !length)
        return nullptr;
    const std::uint64_t userLength = std::strlen(user);
    const std::uint64_t passwordLength = std::strlen(password);
    const std::uint64_t total = 2 * userLength + passwordLength + 2;
    if (userLength > kUnsignedLimit || passwordLength > kUnsignedLimit || total > kUnsignedLimit)
        return nullptr;
    HeapBlock message(AllocResult(static_cast<std::size_t>(total)), static_cast<std::size_t>(total),
                      true);
    if (!message)
        return nullptr;
    unsigned char *p = message.bytes();
    std::memcpy(p, user, userLength);
    std::memcpy(p + userLength + 1, user, userLength);
    std::memcpy(p + 2 * userLength + 2, password, passwordLength);
    std::uint64_t encodedLength = total;
    void *encoded =
        CBase64().Encode(p, &encodedLength, CBase64::kNoBreaks, kIntLimit, ProcessHeap());
    if (!encoded)
        return nullptr;
    *length = static_cast<int>(encodedLength);
    return encoded;
}

} // namespace marfel
