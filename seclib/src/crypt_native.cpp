#include "crypt_native.h"

#include <wincrypt.h>

#include <cstdint>
#include <cstring>
#include <mutex>

#include "digest_text.h"
#include "heap.h"
#include "marfel.h"
#include "snmp_key.h"

namespace marfel {
namespace {

constexpr std::size_t kDesKey = 8;
constexpr std::size_t kKeyDigits = 2 * kDesKey;
constexpr std::size_t kMaxPreIvDigits = 96;
constexpr std::size_t kMaxKeyBytes = 64;
constexpr std::size_t kMaxDigest = 20;
constexpr DWORD kPasswordStretch = 1048576;

// The process's salt generator: seeded once from the platform's random source, advanced under
// a lock, and remembering the last value so that successive salts differ.
class SaltGenerator {
  public:
    std::uint32_t Next() {
        std::call_once(seeded_, [this] { Seed(); });
        std::lock_guard<std::mutex> lock(mutex_);
        previous_ = NextSaltValue(&Draw, this, previous_);
        return previous_;
    }

  private:
    void Seed() {
        HCRYPTPROV prov = 0;
        std::uint64_t seed = 0;
        if (CryptAcquireContextA(&prov, nullptr, nullptr, PROV_RSA_FULL, CRYPT_VERIFYCONTEXT)) {
            if (!CryptGenRandom(prov, sizeof seed, reinterpret_cast<BYTE *>(&seed)))
                seed = 0;
            CryptReleaseContext(prov, 0);
        }
        if (seed == 0) {
            // No random source: at least tell processes and start times apart.
            LARGE_INTEGER counter{};
            QueryPerformanceCounter(&counter);
            seed = static_cast<std::uint64_t>(counter.QuadPart) ^
                   (std::uint64_t{GetCurrentProcessId()} << 32) ^ GetTickCount64();
        }
        state_ = seed;
        previous_ = 0xFFFFFFFFu; // no salt yet: any first value is allowed
    }

    // splitmix64, of which the top 32 bits are used.
    static std::uint32_t Draw(void *self) {
        auto *g = static_cast<SaltGenerator *>(self);
        std::uint64_t z = (g->state_ += 0x9E3779B97F4A7C15ull);
        z = (z ^ (z >> 30)) * 0xBF58476D1CE4E5B9ull;
        z = (z ^ (z >> 27)) * 0x94D049BB133111EBull;
        return static_cast<std::uint32_t>((z ^ (z >> 31)) >> 32);
    }

    std::once_flag seeded_;
    std::mutex mutex_;
    std::uint64_t state_ = 0;
    std::uint32_t previous_ = 0;
};

SaltGenerator &ProcessSalts() {
    static SaltGenerator generator;
    return generator;
}

int HashKind(int flags) {
    if (flags & SNMPKEY_AUTH_MD5)
        return CCryptLocal::kMd5;
    if (flags & SNMPKEY_AUTH_SHA1)
        return CCryptLocal::kSha1;
    return 0;
}

DWORD DigestLength(int kind) {
    return kind == CCryptLocal::kMd5 ? 16 : 20;
}

// The hash value of `hash` into `out` (room for kMaxDigest), checked against its kind.
bool Finish(const CryptHash &hash, int kind, BYTE *out) {
    DWORD length = kMaxDigest;
    return CryptGetHashParam(hash.get(), HP_HASHVAL, out, &length, 0) &&
           length == DigestLength(kind);
}

} // namespace

int CCryptNative::MakeSalt(int engineBoots, unsigned char *salt, int size) const {
    if (!salt || size < static_cast<int>(kSaltLength))
        return 0;
    WriteSalt(static_cast<std::uint32_t>(engineBoots), ProcessSalts().Next(), salt);
    return static_cast<int>(kSaltLength);
}

int CCryptNative::MakeIv(unsigned char *iv, const unsigned char *salt, int saltLength,
                         const char *privKeyHex) const {
    if (!iv || !salt || saltLength < static_cast<int>(kSaltLength))
        return 1;
    if (!privKeyHex)
        return 2;
    const std::size_t digits = std::strlen(privKeyHex);
    if (digits <= kKeyDigits)
        return 2;
    const std::size_t rest = digits - kKeyDigits;
    if (rest % 2 != 0 || rest > kMaxPreIvDigits)
        return 3;
    unsigned char preIv[kMaxPreIvDigits / 2] = {}; // a short pre-IV leaves zeros
    if (HexToBinary(privKeyHex + kKeyDigits, rest, preIv, sizeof preIv) == 0)
        return 3;
    for (std::size_t i = 0; i < kDesKey; ++i)
        iv[i] = salt[i] ^ preIv[i];
    SecureZeroMemory(preIv, sizeof preIv);
    return 0;
}

int CCryptNative::MakeLocalizedKey(int flags, const char *password, const char *engineIdHex,
                                   unsigned char *key, int keySize) const {
    if (!password || !engineIdHex || !key || keySize <= 20 || password[0] == '\0')
        return 0;
    const int kind = HashKind(flags);
    if (!kind)
        return 0;
    unsigned char engineId[kMaxKeyBytes];
    const std::size_t engineLength = HexToBinary(engineIdHex, engineId, sizeof engineId);
    if (engineLength == 0)
        return 0;

    const CCryptLocal crypt;
    CryptProvider prov = crypt.AcquireContext();
    if (!prov)
        return 0;

    // Ku: the password repeated over 1 MB, fed a block of 64 at a time.
    BYTE ku[kMaxDigest];
    {
        CryptHash hash = crypt.CreateHash(prov.get(), kind);
        if (!hash)
            return 0;
        const std::size_t passwordLength = std::strlen(password);
        BYTE block[64];
        std::size_t at = 0;
        for (DWORD fed = 0; fed < kPasswordStretch; fed += sizeof block) {
            for (BYTE &b : block) {
                b = static_cast<BYTE>(password[at]);
                at = at + 1 == passwordLength ? 0 : at + 1;
            }
            if (!CryptHashData(hash.get(), block, sizeof block, 0))
                return 0;
        }
        SecureZeroMemory(block, sizeof block);
        if (!Finish(hash, kind, ku))
            return 0;
    }
    const DWORD digest = DigestLength(kind);
    BYTE localized[kMaxDigest];
    {
        CryptHash hash = crypt.CreateHash(prov.get(), kind);
        if (!hash || !CryptHashData(hash.get(), ku, digest, 0) ||
            !CryptHashData(hash.get(), engineId, static_cast<DWORD>(engineLength), 0) ||
            !CryptHashData(hash.get(), ku, digest, 0) || !Finish(hash, kind, localized))
            return 0;
    }
    SecureZeroMemory(ku, sizeof ku);
    std::memcpy(key, localized, digest);
    SecureZeroMemory(localized, sizeof localized);
    return static_cast<int>(digest);
}

int CCryptNative::ComputeHmac(int flags, const char *keyHex, const void *message, int messageLength,
                              unsigned char *mac, unsigned macLength) const {
    if (!keyHex || !message || !mac || messageLength < 0)
        return 1;
    const int kind = HashKind(flags);
    if (!kind)
        return 1;
    unsigned char keyBytes[kMaxKeyBytes];
    const std::size_t keyLength = HexToBinary(keyHex, keyBytes, sizeof keyBytes);
    if (keyLength == 0)
        return 1;
    HmacPads pads = MakeHmacPads(keyBytes, keyLength);
    SecureZeroMemory(keyBytes, sizeof keyBytes);

    const CCryptLocal crypt;
    CryptProvider prov = crypt.AcquireContext();
    if (!prov)
        return 1;
    const DWORD digestLength = DigestLength(kind);
    BYTE inner[kMaxDigest], digest[kMaxDigest];
    {
        CryptHash hash = crypt.CreateHash(prov.get(), kind);
        if (!hash || !CryptHashData(hash.get(), pads.inner.data(), kHmacBlock, 0) ||
            !CryptHashData(hash.get(), static_cast<const BYTE *>(message),
                           static_cast<DWORD>(messageLength), 0) ||
            !Finish(hash, kind, inner))
            return 1;
    }
    {
        CryptHash hash = crypt.CreateHash(prov.get(), kind);
        if (!hash || !CryptHashData(hash.get(), pads.outer.data(), kHmacBlock, 0) ||
            !CryptHashData(hash.get(), inner, digestLength, 0) || !Finish(hash, kind, digest))
            return 1;
    }
    SecureZeroMemory(&pads, sizeof pads);
    const DWORD written = macLength != 0 && macLength <= digestLength ? macLength : digestLength;
    std::memcpy(mac, digest, written);
    return 0;
}

CryptKey CCryptNative::ImportPrivacyKey(HCRYPTPROV prov, int flags, const char *privKeyHex,
                                        const unsigned char *salt, int saltLength,
                                        bool encrypt) const {
    if ((flags & SNMPKEY_PRIV_REFUSED) || !(flags & SNMPKEY_PRIV_DES) || !privKeyHex || !salt ||
        saltLength < static_cast<int>(kSaltLength))
        return {};
    const std::size_t digits = std::strlen(privKeyHex);
    if (digits < kKeyDigits)
        return {};

    BYTE blob[kDesKeyBlobLength] = {};
    auto *header = reinterpret_cast<BLOBHEADER *>(blob);
    header->bType = PLAINTEXTKEYBLOB;
    header->bVersion = CUR_BLOB_VERSION;
    header->reserved = 0;
    header->aiKeyAlg = CALG_DES;
    const DWORD keyLength = kDesKey;
    std::memcpy(blob + sizeof(BLOBHEADER), &keyLength, sizeof keyLength);
    BYTE *desKey = blob + sizeof(BLOBHEADER) + sizeof keyLength;
    if (HexToBinary(privKeyHex, kKeyDigits, desKey, kDesKey) != kDesKey)
        return {};

    unsigned char iv[kDesKey];
    if (digits == kKeyDigits) {
        std::memcpy(iv, salt, kDesKey);
    } else if (MakeIv(iv, salt, saltLength, privKeyHex) != 0) {
        SecureZeroMemory(blob, sizeof blob);
        return {};
    }
    CryptKey key = CCryptLocal().ImportDesKey(prov, blob, sizeof blob, iv, sizeof iv, encrypt);
    SecureZeroMemory(blob, sizeof blob);
    return key;
}

int CCryptNative::CryptPrivacyData(int flags, const char *privKeyHex, const void *data,
                                   int dataLength, const unsigned char *salt, int saltLength,
                                   int mode, void *out, int outSize) const {
    if (!privKeyHex || !data || !salt || !out || dataLength <= 0 || outSize <= 0)
        return 0;
    if (outSize < dataLength || saltLength < static_cast<int>(kSaltLength))
        return 0;
    const bool encrypt = mode == 1;
    const std::int64_t rounded = (std::int64_t{dataLength} + 7) / 8 * 8;
    if (dataLength % 8 != 0 && (!encrypt || outSize < rounded))
        return 0;

    const CCryptLocal crypt;
    CryptProvider prov = crypt.AcquireContext();
    if (!prov)
        return 0;
    CryptKey key = ImportPrivacyKey(prov.get(), flags, privKeyHex, salt, saltLength, encrypt);
    if (!key)
        return 0;

    HeapBlock work(AllocResult(static_cast<std::size_t>(outSize)),
                   static_cast<std::size_t>(outSize), true);
    if (!work)
        return 0;
    std::memcpy(work.get(), data, static_cast<std::size_t>(dataLength));
    DWORD length = static_cast<DWORD>(dataLength);
    // Decryption keeps the padding: RFC 3414 padding bytes are arbitrary, and the PDU's own
    // BER length tells the caller where it ends.
    const BOOL ok = encrypt ? CryptEncrypt(key.get(), 0, TRUE, 0, work.bytes(), &length,
                                           static_cast<DWORD>(outSize))
                            : CryptDecrypt(key.get(), 0, FALSE, 0, work.bytes(), &length);
    if (!ok || length > static_cast<DWORD>(outSize))
        return 0;
    std::memcpy(out, work.get(), length);
    return static_cast<int>(length);
}

} // namespace marfel
