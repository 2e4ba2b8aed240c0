// The exports of marfel.dll: thin wrappers over the codec and crypto classes. None throws; every
// failure is a NULL result (0 from the *PW exports, 1 from the Init* exports) with the length
// argument left as it was.
#include <windows.h>

#include <cstring>
#include <type_traits>

#include "base64.h"
#include "codecs_win.h"
#include "crypt_native.h"

#include "crypt_local.h"
#include "digest_text.h"
#include "heap.h"
#include "marfel.h"
#include "quoprint.h"

using namespace marfel;

namespace {

// Fills `count` entries of `table` from `module` in order; see marfel.h for the result.
int FillTable(HMODULE module, void *table, const char *const *names, std::size_t count) {
    if (!module || !table)
        return 1;
    auto *slots = static_cast<unsigned char *>(table);
    std::memset(slots, 0, count * sizeof(void *));
    for (std::size_t i = 0; i < count; ++i) {
        const FARPROC entry = GetProcAddress(module, names[i]);
        if (!entry)
            return 1;
        std::memcpy(slots + i * sizeof(void *), &entry, sizeof entry);
    }
    return 0;
}

template <typename Table, std::size_t N>
int FillTable(HMODULE module, Table *table, const char *const (&names)[N]) {
    static_assert(sizeof(Table) == N * sizeof(void *) && std::is_standard_layout_v<Table>);
    return FillTable(module, static_cast<void *>(table), names, N);
}

// A codec call through an unsigned or int length argument: the core works in 64 bits and is
// told the largest result the argument can carry.
template <typename Length, typename Call> void *ThroughLength(Length *length, Call call) {
    if (!length)
        return nullptr;
    if constexpr (std::is_signed_v<Length>) {
        if (*length <= 0)
            return nullptr;
    }
    std::uint64_t n = static_cast<std::uint64_t>(*length);
    void *result = call(&n, std::is_signed_v<Length> ? kIntLimit : kUnsignedLimit);
    if (result)
        *length = static_cast<Length>(n);
    return result;
}

// Data encrypted in place as the final block of `key`; the block has room for the padding.
bool EncryptFinal(HCRYPTKEY key, BYTE *data, DWORD *length, DWORD room) {
    return CryptEncrypt(key, 0, TRUE, 0, data, length, room) != FALSE;
}

// The RC2 wrapping under the user's exchange key pair (the stored layout of digest_text.h).
void *EncryptRc2(const void *data, unsigned *length) {
    if (!data || !length || *length == 0)
        return nullptr;
    const std::uint64_t n = *length;
    if (n + kRc2Block > kUnsignedLimit)
        return nullptr;

    const CCryptLocal crypt;
    CryptProvider prov = crypt.AcquireContext();
    if (!prov)
        return nullptr;
    if (!crypt.GetOrCreateUserKey(prov.get(), AT_SIGNATURE))
        return nullptr;
    CryptKey exchange = crypt.GetOrCreateUserKey(prov.get(), AT_KEYEXCHANGE);
    if (!exchange)
        return nullptr;

    HCRYPTKEY h = 0;
    if (!CryptGenKey(prov.get(), CALG_RC2, CRYPT_EXPORTABLE, &h))
        return nullptr;
    CryptKey session(h);
    DWORD blobLength = 0;
    if (!CryptExportKey(session.get(), exchange.get(), SIMPLEBLOB, 0, nullptr, &blobLength) ||
        blobLength == 0)
        return nullptr;
    const std::uint64_t total = 4 + std::uint64_t{blobLength} + n + kRc2Block;
    if (total > kUnsignedLimit)
        return nullptr;
    HeapBlock out(AllocResult(static_cast<std::size_t>(total)));
    if (!out)
        return nullptr;
    BYTE *p = out.bytes();
    if (!CryptExportKey(session.get(), exchange.get(), SIMPLEBLOB, 0, p + 4, &blobLength))
        return nullptr;
    for (int i = 0; i < 4; ++i)
        p[i] = static_cast<BYTE>(blobLength >> (8 * i));
    BYTE *cipher = p + 4 + blobLength;
    std::memcpy(cipher, data, static_cast<std::size_t>(n));
    DWORD cipherLength = static_cast<DWORD>(n);
    if (!EncryptFinal(session.get(), cipher, &cipherLength, static_cast<DWORD>(n + kRc2Block)))
        return nullptr;
    *length = 4 + blobLength + cipherLength;
    return out.release();
}

void *DecryptRc2(const void *data, unsigned *length) {
    if (!data || !length)
        return nullptr;
    const auto layout = ParseRc2Layout(data, *length);
    if (!layout)
        return nullptr;
    const auto *p = static_cast<const BYTE *>(data);

    const CCryptLocal crypt;
    CryptProvider prov = crypt.AcquireContext();
    if (!prov)
        return nullptr;
    HCRYPTKEY h = 0;
    if (!CryptGetUserKey(prov.get(), AT_KEYEXCHANGE, &h))
        return nullptr;
    CryptKey exchange(h);
    if (!CryptImportKey(prov.get(), p + 4, layout->blobLength, exchange.get(), 0, &h))
        return nullptr;
    CryptKey session(h);

    const std::size_t room = std::size_t{layout->cipherLength} + kRc2Block;
    HeapBlock out(AllocResult(room), room, true);
    if (!out)
        return nullptr;
    std::memcpy(out.get(), p + layout->cipherOffset, layout->cipherLength);
    DWORD plain = layout->cipherLength;
    if (!CryptDecrypt(session.get(), 0, TRUE, 0, out.bytes(), &plain) ||
        plain > layout->cipherLength)
        return nullptr;
    SecureZeroMemory(out.bytes() + plain, room - plain);
    *length = plain;
    return out.release();
}

// EncryptPW and DecryptPW: the RC2 result copied into the caller's room when it fits.
int IntoRoom(void *(*wrap)(const void *, unsigned *), const void *data, int length, void *out,
             unsigned *outLength) {
    if (!data || length <= 0 || !out || !outLength)
        return 0;
    unsigned n = static_cast<unsigned>(length);
    HeapBlock result(wrap(data, &n));
    if (!result)
        return 0;
    int written = 0;
    if (n <= *outLength) {
        std::memcpy(out, result.get(), n);
        *outLength = n;
        written = 1;
    }
    SecureZeroMemory(result.get(), n);
    return written;
}

} // namespace

extern "C" {

int InitCryptDataLibrary(HMODULE module, CryptDataLibraryTable *table) {
    return FillTable(module, table, marfel_names::kCryptData);
}

int InitMsgDigestLibrary(HMODULE module, MsgDigestLibraryTable *table) {
    return FillTable(module, table, marfel_names::kMsgDigest);
}

int InitSslLibrary(HMODULE module, SslLibraryTable *table) {
    return FillTable(module, table, marfel_names::kSsl);
}

int InitSnmpKeyLibrary(HMODULE module, SnmpKeyLibraryTable *table) {
    return FillTable(module, table, marfel_names::kSnmpKey);
}

void *MdBinaryHeapToStringHeap(const void *heapBuffer, unsigned length) {
    // length + 1 must still be a length the caller can hold.
    if (!heapBuffer || length == 0xFFFFFFFFu)
        return nullptr;
    void *text = AllocResult(std::size_t{length} + 1);
    if (!text)
        return nullptr;
    std::memcpy(text, heapBuffer, length);
    HeapFree(GetProcessHeap(), 0, const_cast<void *>(heapBuffer));
    return text;
}

void *MdHashCramMD5(const char *user, const char *secret, const char *challenge, int *length) {
    return CMsgHash().MakeCramMd5Response(user, secret, challenge, length);
}

void *MdHashPlain(const char *user, const char *password, int *length) {
    return CMsgHash().MakePlainMessage(user, password, length);
}

void *MdBase64EncodeText(const void *data, unsigned *length) {
    return ThroughLength(length, [&](std::uint64_t *n, std::uint64_t limit) {
        return CBase64().Encode(data, n, CBase64::kNoBreaks, limit, ProcessHeap());
    });
}

void *MdBase64EncodeBinary(const void *data, unsigned *length) {
    return ThroughLength(length, [&](std::uint64_t *n, std::uint64_t limit) {
        return CBase64().Encode(data, n, CBase64::kLineBreaks, limit, ProcessHeap());
    });
}

void *MdBase64Decode(const char *text, int *length) {
    return ThroughLength(length, [&](std::uint64_t *n, std::uint64_t limit) {
        return CBase64().Decode(text, n, limit, ProcessHeap());
    });
}

void *MdQuoPrintEncodeText(const void *data, int *length) {
    return ThroughLength(length, [&](std::uint64_t *n, std::uint64_t limit) {
        return CQuoPrint().Encode(data, n, CQuoPrint::kNoBreaks, limit, ProcessHeap());
    });
}

void *MdQuoPrintEncodeBinary(const void *data, int *length) {
    return ThroughLength(length, [&](std::uint64_t *n, std::uint64_t limit) {
        return CQuoPrint().Encode(data, n, CQuoPrint::kSoftBreaks, limit, ProcessHeap());
    });
}

void *MdQuoPrintDecode(const char *text, unsigned *length) {
    return ThroughLength(length, [&](std::uint64_t *n, std::uint64_t limit) {
        return CQuoPrint().Decode(text, n, limit, ProcessHeap());
    });
}

void *MdUtf8Encode(const char *text, int *length) {
    return CUtf8().AnsiToUtf8(text, length);
}

void *MdUtf8Decode(const char *text, int *length) {
    return CUtf8().Utf8ToAnsi(text, length);
}

void *CdCryptRC4Data(const char *passPhrase, int passPhraseLength, const void *data,
                     unsigned *length, int mode) {
    if (!passPhrase || passPhraseLength < 0 || !data || !length || *length == 0)
        return nullptr;
    if (mode != 1 && mode != 2)
        return nullptr;
    const std::uint64_t n = *length;
    if (n + kRc2Block > kUnsignedLimit)
        return nullptr;
    const std::size_t room = static_cast<std::size_t>(n + 8);
    HeapBlock out(AllocResult(room), room, true);
    if (!out)
        return nullptr;
    std::memcpy(out.get(), data, static_cast<std::size_t>(n));

    const CCryptLocal crypt;
    CryptProvider prov = crypt.AcquireContext();
    if (!prov)
        return nullptr;
    CryptHash hash = crypt.CreateHash(prov.get(), CCryptLocal::kMd5);
    if (!hash)
        return nullptr;
    CryptKey key = crypt.DeriveRc4Key(prov.get(), hash.get(), passPhrase,
                                      static_cast<DWORD>(passPhraseLength));
    if (!key)
        return nullptr;
    DWORD done = static_cast<DWORD>(n);
    const BOOL ok = mode == 1 ? CryptEncrypt(key.get(), 0, TRUE, 0, out.bytes(), &done,
                                             static_cast<DWORD>(room))
                              : CryptDecrypt(key.get(), 0, TRUE, 0, out.bytes(), &done);
    if (!ok || done > n)
        return nullptr;
    *length = done;
    return out.release();
}

void *CdEncryptRC2Data(const void *data, unsigned *length) {
    return EncryptRc2(data, length);
}

void *CdDecryptRC2Data(const void *data, unsigned *length) {
    return DecryptRc2(data, length);
}

int EncryptPW(const void *data, int length, void *out, unsigned *outLength) {
    return IntoRoom(&EncryptRc2, data, length, out, outLength);
}

int DecryptPW(const void *data, int length, void *out, unsigned *outLength) {
    return IntoRoom(&DecryptRc2, data, length, out, outLength);
}

int SnmpMakeSalt(int engineBoots, unsigned char *salt, int size) {
    return CCryptNative().MakeSalt(engineBoots, salt, size);
}

int SnmpMakeIvParSpec(unsigned char *iv, const unsigned char *salt, int saltLength,
                      const char *privKeyHex) {
    return CCryptNative().MakeIv(iv, salt, saltLength, privKeyHex);
}

int SnmpMakeLocalizedKey(int flags, const char *password, const char *engineIdHex,
                         unsigned char *key, int keySize) {
    return CCryptNative().MakeLocalizedKey(flags, password, engineIdHex, key, keySize);
}

int SnmpGetAuthKey(int flags, const char *keyHex, const void *message, int messageLength,
                   unsigned char *mac, unsigned macLength) {
    return CCryptNative().ComputeHmac(flags, keyHex, message, messageLength, mac, macLength);
}

int SnmpGetPrivKey(int flags, const char *privKeyHex, const void *data, int dataLength,
                   const unsigned char *salt, int saltLength, int mode, void *out, int outSize) {
    return CCryptNative().CryptPrivacyData(flags, privKeyHex, data, dataLength, salt, saltLength,
                                           mode, out, outSize);
}

} // extern "C"

// Each export has exactly the type its table entry declares.
static_assert(std::is_same_v<decltype(&InitCryptDataLibrary), InitCryptDataLibraryFn>);
static_assert(std::is_same_v<decltype(&InitMsgDigestLibrary), InitMsgDigestLibraryFn>);
static_assert(std::is_same_v<decltype(&InitSslLibrary), InitSslLibraryFn>);
static_assert(std::is_same_v<decltype(&InitSnmpKeyLibrary), InitSnmpKeyLibraryFn>);
static_assert(std::is_same_v<decltype(&MdBinaryHeapToStringHeap), MdBinaryHeapToStringHeapFn>);
static_assert(std::is_same_v<decltype(&MdHashCramMD5), MdHashCramMD5Fn>);
static_assert(std::is_same_v<decltype(&MdHashPlain), MdHashPlainFn>);
static_assert(std::is_same_v<decltype(&MdBase64EncodeText), MdBase64EncodeTextFn>);
static_assert(std::is_same_v<decltype(&MdBase64EncodeBinary), MdBase64EncodeBinaryFn>);
static_assert(std::is_same_v<decltype(&MdBase64Decode), MdBase64DecodeFn>);
static_assert(std::is_same_v<decltype(&MdQuoPrintEncodeText), MdQuoPrintEncodeTextFn>);
static_assert(std::is_same_v<decltype(&MdQuoPrintEncodeBinary), MdQuoPrintEncodeBinaryFn>);
static_assert(std::is_same_v<decltype(&MdQuoPrintDecode), MdQuoPrintDecodeFn>);
static_assert(std::is_same_v<decltype(&MdUtf8Encode), MdUtf8EncodeFn>);
static_assert(std::is_same_v<decltype(&MdUtf8Decode), MdUtf8DecodeFn>);
static_assert(std::is_same_v<decltype(&CdCryptRC4Data), CdCryptRC4DataFn>);
static_assert(std::is_same_v<decltype(&CdEncryptRC2Data), CdEncryptRC2DataFn>);
static_assert(std::is_same_v<decltype(&CdDecryptRC2Data), CdDecryptRC2DataFn>);
static_assert(std::is_same_v<decltype(&EncryptPW), EncryptPWFn>);
static_assert(std::is_same_v<decltype(&SnmpMakeSalt), SnmpMakeSaltFn>);
static_assert(std::is_same_v<decltype(&SnmpMakeIvParSpec), SnmpMakeIvParSpecFn>);
static_assert(std::is_same_v<decltype(&SnmpMakeLocalizedKey), SnmpMakeLocalizedKeyFn>);
static_assert(std::is_same_v<decltype(&SnmpGetAuthKey), SnmpGetAuthKeyFn>);
static_assert(std::is_same_v<decltype(&SnmpGetPrivKey), SnmpGetPrivKeyFn>);
static_assert(std::is_same_v<decltype(&DecryptPW), DecryptPWFn>);
