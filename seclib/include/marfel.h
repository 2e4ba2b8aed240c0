// marfel.dll: codecs, authentication strings, crypto API scrambling, SNMPv3 keys and TLS client
// sockets. Callers load the DLL by name and bind its functions through the four table-filling
// exports; every buffer a function returns is the caller's, freed with
// HeapFree(GetProcessHeap(), 0, buffer).
#pragma once

#include <windows.h>

#include <cstddef>
#include <iterator>

extern "C" {

// Opaque TLS connection made by SslOpenSocket or SslOpenSSLSocket, freed by SslCloseSocket.
struct SslSocketContext;

// Optional settings of SslOpenSSLSocket and SslStartTls.
struct SslSocketOptions {
    const char *storeName;     // system certificate store; NULL means "MY"
    const char *clientSubject; // text searched in certificate subjects, or NULL for none
    DWORD enabledProtocols;    // Schannel protocol mask; 0 leaves it to the system
    DWORD algorithm;           // the one algorithm the cipher suites are restricted to, or 0
};

// Entries of CryptDataLibraryTable.
using CdCryptRC4DataFn = void *(*)(const char *passPhrase, int passPhraseLength, const void *data,
                                   unsigned *length, int mode);
using CdEncryptRC2DataFn = void *(*)(const void *data, unsigned *length);
using CdDecryptRC2DataFn = void *(*)(const void *data, unsigned *length);

// Entries of MsgDigestLibraryTable.
using MdBinaryHeapToStringHeapFn = void *(*)(const void *heapBuffer, unsigned length);
using MdHashCramMD5Fn = void *(*)(const char *user, const char *secret, const char *challenge,
                                  int *length);
using MdHashPlainFn = void *(*)(const char *user, const char *password, int *length);
using MdBase64EncodeTextFn = void *(*)(const void *data, unsigned *length);
using MdBase64EncodeBinaryFn = void *(*)(const void *data, unsigned *length);
using MdBase64DecodeFn = void *(*)(const char *text, int *length);
using MdQuoPrintEncodeTextFn = void *(*)(const void *data, int *length);
using MdQuoPrintEncodeBinaryFn = void *(*)(const void *data, int *length);
using MdQuoPrintDecodeFn = void *(*)(const char *text, unsigned *length);
using MdUtf8EncodeFn = void *(*)(const char *text, int *length);
using MdUtf8DecodeFn = void *(*)(const char *text, int *length);

// Entries of SslLibraryTable.
using SslOpenSocketFn = SslSocketContext *(*)(const char *host, int port);
using SslOpenSSLSocketFn = SslSocketContext *(*)(const char *host, int port,
                                                 const SslSocketOptions *options);
using SslCloseSocketFn = void (*)(SslSocketContext *context);
using SslGetSocketFn = UINT_PTR (*)(SslSocketContext *context);
using SslSendSSLDataStreamFn = int (*)(SslSocketContext *context, const void *data, int *length);
using SslReceiveSSLDataStreamFn = void *(*)(SslSocketContext *context, int timeoutSeconds,
                                            int *length, int unused);
using SslStartTlsFn = int (*)(SslSocketContext *context, const char *host,
                              const SslSocketOptions *options);
using SslSendDataStreamFn = int (*)(SslSocketContext *context, const void *data, int *length);
using SslReceiveDataStreamFn = void *(*)(SslSocketContext *context, int timeoutSeconds, int *length,
                                         int unused);

// Flags of the SNMP key functions: the authentication hash (MD5 wins when both bits are set)
// and the privacy protocol.
enum SnmpKeyFlags {
    SNMPKEY_AUTH_MD5 = 0x01,
    SNMPKEY_AUTH_SHA1 = 0x02,
    SNMPKEY_PRIV_DES = 0x10,
    SNMPKEY_PRIV_REFUSED = 0x20, // a privacy protocol the library refuses
};

// Entries of SnmpKeyLibraryTable.
using SnmpMakeSaltFn = int (*)(int engineBoots, unsigned char *salt, int size);
using SnmpMakeIvParSpecFn = int (*)(unsigned char *iv, const unsigned char *salt, int saltLength,
                                    const char *privKeyHex);
using SnmpMakeLocalizedKeyFn = int (*)(int flags, const char *password, const char *engineIdHex,
                                       unsigned char *key, int keySize);
using SnmpGetAuthKeyFn = int (*)(int flags, const char *keyHex, const void *message,
                                 int messageLength, unsigned char *mac, unsigned macLength);
using SnmpGetPrivKeyFn = int (*)(int flags, const char *privKeyHex, const void *data,
                                 int dataLength, const unsigned char *salt, int saltLength,
                                 int mode, void *out, int outSize);

// The tables, filled in this order. The caller allocates them.
struct CryptDataLibraryTable {
    CdCryptRC4DataFn CdCryptRC4Data;
    CdEncryptRC2DataFn CdEncryptRC2Data;
    CdDecryptRC2DataFn CdDecryptRC2Data;
};

struct MsgDigestLibraryTable {
    MdBinaryHeapToStringHeapFn MdBinaryHeapToStringHeap;
    MdHashCramMD5Fn MdHashCramMD5;
    MdHashPlainFn MdHashPlain;
    MdBase64EncodeTextFn MdBase64EncodeText;
    MdBase64EncodeBinaryFn MdBase64EncodeBinary;
    MdBase64DecodeFn MdBase64Decode;
    MdQuoPrintEncodeTextFn MdQuoPrintEncodeText;
    MdQuoPrintEncodeBinaryFn MdQuoPrintEncodeBinary;
    MdQuoPrintDecodeFn MdQuoPrintDecode;
    MdUtf8EncodeFn MdUtf8Encode;
    MdUtf8DecodeFn MdUtf8Decode;
};

struct SslLibraryTable {
    SslOpenSocketFn SslOpenSocket;
    SslOpenSSLSocketFn SslOpenSSLSocket;
    SslCloseSocketFn SslCloseSocket;
    SslGetSocketFn SslGetSocket;
    SslSendSSLDataStreamFn SslSendSSLDataStream;
    SslReceiveSSLDataStreamFn SslReceiveSSLDataStream;
    SslStartTlsFn SslStartTls;
    SslSendDataStreamFn SslSendDataStream;
    SslReceiveDataStreamFn SslReceiveDataStream;
};

struct SnmpKeyLibraryTable {
    SnmpMakeSaltFn SnmpMakeSalt;
    SnmpMakeIvParSpecFn SnmpMakeIvParSpec;
    SnmpMakeLocalizedKeyFn SnmpMakeLocalizedKey;
    SnmpGetAuthKeyFn SnmpGetAuthKey;
    SnmpGetPrivKeyFn SnmpGetPrivKey;
};

// Fill a table from `module` (any module exporting the names): 0 when every entry was found;
// 1 for a NULL argument (table untouched) or at the first missing name (the entries before it
// filled, the rest zero).
using InitCryptDataLibraryFn = int (*)(HMODULE module, CryptDataLibraryTable *table);
using InitMsgDigestLibraryFn = int (*)(HMODULE module, MsgDigestLibraryTable *table);
using InitSslLibraryFn = int (*)(HMODULE module, SslLibraryTable *table);
using InitSnmpKeyLibraryFn = int (*)(HMODULE module, SnmpKeyLibraryTable *table);

// Outside every table: RC2 wrapping into the caller's buffer. 1 written, 0 not.
using EncryptPWFn = int (*)(const void *data, int length, void *out, unsigned *outLength);
using DecryptPWFn = int (*)(const void *data, int length, void *out, unsigned *outLength);

} // extern "C"

static_assert(sizeof(CryptDataLibraryTable) == 3 * sizeof(void *));
static_assert(sizeof(MsgDigestLibraryTable) == 11 * sizeof(void *));
static_assert(sizeof(SslLibraryTable) == 9 * sizeof(void *));
static_assert(sizeof(SnmpKeyLibraryTable) == 5 * sizeof(void *));
static_assert(sizeof(void *) != 8 ||
              (sizeof(SslSocketOptions) == 24 && offsetof(SslSocketOptions, clientSubject) == 8 &&
               offsetof(SslSocketOptions, enabledProtocols) == 16 &&
               offsetof(SslSocketOptions, algorithm) == 20));

// The table-filling exports look entries up by these names, in table order.
namespace marfel_names {
inline constexpr const char *kCryptData[] = {"CdCryptRC4Data", "CdEncryptRC2Data",
                                             "CdDecryptRC2Data"};
inline constexpr const char *kMsgDigest[] = {
    "MdBinaryHeapToStringHeap", "MdHashCramMD5",  "MdHashPlain",          "MdBase64EncodeText",
    "MdBase64EncodeBinary",     "MdBase64Decode", "MdQuoPrintEncodeText", "MdQuoPrintEncodeBinary",
    "MdQuoPrintDecode",         "MdUtf8Encode",   "MdUtf8Decode"};
inline constexpr const char *kSsl[] = {
    "SslOpenSocket", "SslOpenSSLSocket",     "SslCloseSocket",
    "SslGetSocket",  "SslSendSSLDataStream", "SslReceiveSSLDataStream",
    "SslStartTls",   "SslSendDataStream",    "SslReceiveDataStream"};
inline constexpr const char *kSnmpKey[] = {"SnmpMakeSalt", "SnmpMakeIvParSpec",
                                           "SnmpMakeLocalizedKey", "SnmpGetAuthKey",
                                           "SnmpGetPrivKey"};
} // namespace marfel_names

static_assert(std::size(marfel_names::kCryptData) * sizeof(void *) ==
              sizeof(CryptDataLibraryTable));
static_assert(std::size(marfel_names::kMsgDigest) * sizeof(void *) ==
              sizeof(MsgDigestLibraryTable));
static_assert(std::size(marfel_names::kSsl) * sizeof(void *) == sizeof(SslLibraryTable));
static_assert(std::size(marfel_names::kSnmpKey) * sizeof(void *) == sizeof(SnmpKeyLibraryTable));
