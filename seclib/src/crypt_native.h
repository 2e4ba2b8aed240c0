// The SNMPv3 user-based security pieces: salts, the DES IV, localised keys, HMACs and DES-CBC
// privacy, all through the crypto API.
#pragma once

#include <windows.h>

#include "crypt_local.h"

namespace marfel {

class CCryptNative {
  public:
    virtual ~CCryptNative() = default;

    // 8 salt bytes (engineBoots, then an even value below 32768 from the process's generator),
    // or 0 for a NULL salt or a size below 8.
    int MakeSalt(int engineBoots, unsigned char *salt, int size) const;

    // iv = salt XOR the pre-IV (key bytes 8 to 15). 0 written; 1 NULL iv or salt, or a salt
    // below 8 bytes; 2 no key text or 16 characters or fewer; 3 the text after character 16 is
    // odd or longer than 96 digits.
    int MakeIv(unsigned char *iv, const unsigned char *salt, int saltLength,
               const char *privKeyHex) const;

    // RFC 3414 A.2 password to key, localised to the engine ID; the digest length or 0.
    int MakeLocalizedKey(int flags, const char *password, const char *engineIdHex,
                         unsigned char *key, int keySize) const;

    // HMAC of RFC 2104 with a key of at most 64 bytes; 0 written, 1 on failure.
    int ComputeHmac(int flags, const char *keyHex, const void *message, int messageLength,
                    unsigned char *mac, unsigned macLength) const;

    // DES-CBC of a scoped PDU: mode 1 encrypts with PKCS #5 padding, any other mode decrypts
    // whole blocks and returns every byte. Bytes written to out, or 0.
    int CryptPrivacyData(int flags, const char *privKeyHex, const void *data, int dataLength,
                         const unsigned char *salt, int saltLength, int mode, void *out,
                         int outSize) const;

    // The DES key of the privacy key text with the IV of the salt, or no key.
    [[nodiscard]] CryptKey ImportPrivacyKey(HCRYPTPROV prov, int flags, const char *privKeyHex,
                                            const unsigned char *salt, int saltLength,
                                            bool encrypt) const;
};

} // namespace marfel
