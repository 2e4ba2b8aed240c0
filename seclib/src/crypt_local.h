// The crypto API calls of the library: the user's default key container (PROV_RSA_FULL),
// hashes and keys, each behind a move-only owner.
#pragma once

#include <windows.h>

#include <wincrypt.h>

#include <cstddef>
#include <utility>

namespace marfel {

template <typename Handle, BOOL (*Close)(Handle)> class CryptHandle {
  public:
    CryptHandle() = default;
    explicit CryptHandle(Handle h) noexcept : h_(h) {}
    CryptHandle(const CryptHandle &) = delete;
    CryptHandle &operator=(const CryptHandle &) = delete;
    CryptHandle(CryptHandle &&other) noexcept : h_(std::exchange(other.h_, 0)) {}
    CryptHandle &operator=(CryptHandle &&other) noexcept {
        if (this != &other) {
            reset();
            h_ = std::exchange(other.h_, 0);
        }
        return *this;
    }
    ~CryptHandle() { reset(); }

    Handle get() const noexcept { return h_; }
    explicit operator bool() const noexcept { return h_ != 0; }
    void reset() noexcept {
        if (h_) {
            // The crypto API's last error stays as the failing call left it.
            const DWORD error = GetLastError();
            Close(std::exchange(h_, 0));
            SetLastError(error);
        }
    }

  private:
    Handle h_ = 0;
};

BOOL ReleaseProvider(HCRYPTPROV prov);
using CryptProvider = CryptHandle<HCRYPTPROV, &ReleaseProvider>;
using CryptHash = CryptHandle<HCRYPTHASH, &CryptDestroyHash>;
using CryptKey = CryptHandle<HCRYPTKEY, &CryptDestroyKey>;

class CCryptLocal {
  public:
    enum HashKind { kMd5 = 1, kSha1 = 2 };

    virtual ~CCryptLocal() = default;

    // The current user's default container of the default PROV_RSA_FULL provider, created when
    // missing; when another thread or process creates it first, it is opened once more.
    [[nodiscard]] CryptProvider AcquireContext() const;

    // Bit 0 of `kind`: MD5; else bit 1: SHA-1; else none.
    [[nodiscard]] CryptHash CreateHash(HCRYPTPROV prov, int kind) const;

    // RC4 key from the hash of the pass phrase: 128 bits, or 40 where the provider refuses.
    [[nodiscard]] CryptKey DeriveRc4Key(HCRYPTPROV prov, HCRYPTHASH hash, const void *passPhrase,
                                        DWORD length) const;

    // Imports a 20-byte PLAINTEXTKEYBLOB of a DES key, sets the IV (at least 8 bytes), PKCS #5
    // padding when asked, and CBC mode.
    [[nodiscard]] CryptKey ImportDesKey(HCRYPTPROV prov, const BYTE *blob, DWORD blobLength,
                                        const BYTE *iv, DWORD ivLength, bool padding) const;

    // The container's name as a zero-terminated process-heap text; `*length` = its characters.
    void *GetContainerName(HCRYPTPROV prov, unsigned *length) const;

    // The container's key pair of `spec` (AT_SIGNATURE or AT_KEYEXCHANGE), generated when it
    // has none.
    [[nodiscard]] CryptKey GetOrCreateUserKey(HCRYPTPROV prov, DWORD spec) const;

    // Hash value of `data` with a new hash of `kind` into `out` (room `*length`).
    bool HashBytes(HCRYPTPROV prov, int kind, const void *data, DWORD dataLength, BYTE *out,
                   DWORD *length) const;
};

inline constexpr DWORD kDesKeyBlobLength = 20;

} // namespace marfel
