#include "crypt_local.h"

#include "heap.h"

namespace marfel {

BOOL ReleaseProvider(HCRYPTPROV prov) {
    return CryptReleaseContext(prov, 0);
}

CryptProvider CCryptLocal::AcquireContext() const {
    HCRYPTPROV prov = 0;
    if (CryptAcquireContextA(&prov, nullptr, nullptr, PROV_RSA_FULL, 0))
        return CryptProvider(prov);
    if (CryptAcquireContextA(&prov, nullptr, nullptr, PROV_RSA_FULL, CRYPT_NEWKEYSET))
        return CryptProvider(prov);
    if (GetLastError() == static_cast<DWORD>(NTE_EXISTS) &&
        CryptAcquireContextA(&prov, nullptr, nullptr, PROV_RSA_FULL, 0))
        return CryptProvider(prov);
    return {};
}

CryptHash CCryptLocal::CreateHash(HCRYPTPROV prov, int kind) const {
    ALG_ID alg;
    if (kind & kMd5)
        alg = CALG_MD5;
    else if (kind & kSha1)
        alg = CALG_SHA1;
    else
        return {};
    HCRYPTHASH hash = 0;
    if (!CryptCreateHash(prov, alg, 0, 0, &hash))
        return {};
    return CryptHash(hash);
}

CryptKey CCryptLocal::DeriveRc4Key(HCRYPTPROV prov, HCRYPTHASH hash, const void *passPhrase,
                                   DWORD length) const {
    if (!CryptHashData(hash, static_cast<const BYTE *>(passPhrase), length, 0))
        return {};
    HCRYPTKEY key = 0;
    if (CryptDeriveKey(prov, CALG_RC4, hash, 128u << 16, &key))
        return CryptKey(key);
    if (CryptDeriveKey(prov, CALG_RC4, hash, 40u << 16, &key))
        return CryptKey(key);
    return {};
}

CryptKey CCryptLocal::ImportDesKey(HCRYPTPROV prov, const BYTE *blob, DWORD blobLength,
                                   const BYTE *iv, DWORD ivLength, bool padding) const {
    if (!blob || blobLength != kDesKeyBlobLength || !iv || ivLength < 8)
        return {};
    HCRYPTKEY h = 0;
    if (!CryptImportKey(prov, blob, blobLength, 0, 0, &h))
        return {};
    CryptKey key(h);
    if (!CryptSetKeyParam(h, KP_IV, iv, 0))
        return {};
    if (padding) {
        const DWORD pkcs5 = PKCS5_PADDING;
        if (!CryptSetKeyParam(h, KP_PADDING, reinterpret_cast<const BYTE *>(&pkcs5), 0))
            return {};
    }
    const DWORD cbc = CRYPT_MODE_CBC;
    if (!CryptSetKeyParam(h, KP_MODE, reinterpret_cast<const BYTE *>(&cbc), 0))
        return {};
    return key;
}

void *CCryptLocal::GetContainerName(HCRYPTPROV prov, unsigned *length) const {
    if (!prov || !length)
        return nullptr;
    DWORD size = 0;
    if (!CryptGetProvParam(prov, PP_CONTAINER, nullptr, &size, 0) || size == 0)
        return nullptr;
    HeapBlock name(AllocResult(static_cast<std::size_t>(size) + 1));
    if (!name)
        return nullptr;
    if (!CryptGetProvParam(prov, PP_CONTAINER, name.bytes(), &size, 0))
        return nullptr;
    *length = static_cast<unsigned>(lstrlenA(static_cast<const char *>(name.get())));
    return name.release();
}

CryptKey CCryptLocal::GetOrCreateUserKey(HCRYPTPROV prov, DWORD spec) const {
    HCRYPTKEY key = 0;
    if (CryptGetUserKey(prov, spec, &key))
        return CryptKey(key);
    if (GetLastError() != static_cast<DWORD>(NTE_NO_KEY))
        return {};
    if (!CryptGenKey(prov, spec, 0, &key))
        return {};
    return CryptKey(key);
}

bool CCryptLocal::HashBytes(HCRYPTPROV prov, int kind, const void *data, DWORD dataLength,
                            BYTE *out, DWORD *length) const {
    CryptHash hash = CreateHash(prov, kind);
    return hash && CryptHashData(hash.get(), static_cast<const BYTE *>(data), dataLength, 0) &&
           CryptGetHashParam(hash.get(), HP_HASHVAL, out, length, 0);
}

} // namespace marfel
