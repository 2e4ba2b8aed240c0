// marfel.dll through its exports: tables, result buffers, codecs and authentication strings.
#include <windows.h>

#include <gtest/gtest.h>

#include <climits>
#include <cstring>
#include <string>
#include <vector>

#include "marfel_test_util.h"

using namespace marfel_test;

namespace {

constexpr int kMarker = 0x5A5A5A5A;

class Exports : public testing::Test {
  protected:
    void SetUp() override {
        ASSERT_NE(LoadMarfel(), nullptr) << "marfel.dll did not load, error " << GetLastError();
        ASSERT_TRUE(Bound().ok) << "tables not bound";
    }
    const MsgDigestLibraryTable &md = Bound().digest;
};

template <typename Table> void FillMarker(Table &t) {
    std::memset(&t, 0xA5, sizeof t);
}

template <typename Table> void *Entry(const Table &t, std::size_t i) {
    void *p;
    std::memcpy(&p, reinterpret_cast<const char *>(&t) + i * sizeof(void *), sizeof p);
    return p;
}

void *Address(HMODULE m, const char *name) {
    return reinterpret_cast<void *>(GetProcAddress(m, name));
}

} // namespace

TEST_F(Exports, TablesFromTheStubModule) {
    HMODULE stub = LoadLibraryA("marfelstub.dll");
    ASSERT_NE(stub, nullptr);
    auto initSsl = Export<InitSslLibraryFn>("InitSslLibrary");
    auto initSnmp = Export<InitSnmpKeyLibraryFn>("InitSnmpKeyLibrary");
    auto initCrypt = Export<InitCryptDataLibraryFn>("InitCryptDataLibrary");

    SslLibraryTable ssl;
    FillMarker(ssl);
    EXPECT_EQ(initSsl(stub, &ssl), 1); // the stub has no SslStartTls
    for (std::size_t i = 0; i < 9; ++i) {
        void *want = i < 6 ? Address(stub, marfel_names::kSsl[i]) : nullptr;
        EXPECT_EQ(Entry(ssl, i), want) << marfel_names::kSsl[i];
        if (i < 6) {
            EXPECT_NE(want, nullptr);
        }
    }

    SnmpKeyLibraryTable snmp;
    FillMarker(snmp);
    EXPECT_EQ(initSnmp(stub, &snmp), 0);
    for (std::size_t i = 0; i < 5; ++i)
        EXPECT_EQ(Entry(snmp, i), Address(stub, marfel_names::kSnmpKey[i]));

    CryptDataLibraryTable crypt;
    FillMarker(crypt);
    EXPECT_EQ(initCrypt(stub, &crypt), 1);
    for (std::size_t i = 0; i < 3; ++i)
        EXPECT_EQ(Entry(crypt, i), nullptr);
    FreeLibrary(stub);
}

TEST_F(Exports, TablesFromMarfel) {
    HMODULE dll = LoadMarfel();
    CryptDataLibraryTable crypt;
    MsgDigestLibraryTable digest;
    FillMarker(crypt);
    FillMarker(digest);
    EXPECT_EQ(Export<InitCryptDataLibraryFn>("InitCryptDataLibrary")(dll, &crypt), 0);
    EXPECT_EQ(Export<InitMsgDigestLibraryFn>("InitMsgDigestLibrary")(dll, &digest), 0);
    for (std::size_t i = 0; i < 3; ++i) {
        EXPECT_NE(Entry(crypt, i), nullptr);
        EXPECT_EQ(Entry(crypt, i), Address(dll, marfel_names::kCryptData[i]));
    }
    for (std::size_t i = 0; i < 11; ++i) {
        EXPECT_NE(Entry(digest, i), nullptr);
        EXPECT_EQ(Entry(digest, i), Address(dll, marfel_names::kMsgDigest[i]));
    }
}

TEST_F(Exports, TablesRefuseNullArguments) {
    HMODULE dll = LoadMarfel();
    CryptDataLibraryTable crypt, marked;
    FillMarker(crypt);
    FillMarker(marked);
    MsgDigestLibraryTable digest;
    FillMarker(digest);
    SslLibraryTable ssl;
    SnmpKeyLibraryTable snmp;
    EXPECT_EQ(Export<InitCryptDataLibraryFn>("InitCryptDataLibrary")(nullptr, &crypt), 1);
    EXPECT_EQ(std::memcmp(&crypt, &marked, sizeof crypt), 0);
    EXPECT_EQ(Export<InitCryptDataLibraryFn>("InitCryptDataLibrary")(dll, nullptr), 1);
    EXPECT_EQ(Export<InitMsgDigestLibraryFn>("InitMsgDigestLibrary")(nullptr, &digest), 1);
    EXPECT_EQ(Entry(digest, 0), Entry(marked, 0));
    EXPECT_EQ(Export<InitMsgDigestLibraryFn>("InitMsgDigestLibrary")(dll, nullptr), 1);
    EXPECT_EQ(Export<InitSslLibraryFn>("InitSslLibrary")(nullptr, &ssl), 1);
    EXPECT_EQ(Export<InitSnmpKeyLibraryFn>("InitSnmpKeyLibrary")(dll, nullptr), 1);
    (void)snmp;
}

TEST_F(Exports, BinaryHeapToStringHeap) {
    HANDLE heap = GetProcessHeap();
    void *in = HeapAlloc(heap, 0, 3);
    std::memcpy(in, "abc", 3);
    void *text = md.MdBinaryHeapToStringHeap(in, 3);
    ASSERT_NE(text, nullptr);
    EXPECT_FALSE(HeapValidate(heap, 0, in)); // the input was released
    EXPECT_EQ(Take(text, 4, 4), std::string("abc\0", 4));

    in = HeapAlloc(heap, 0, 1);
    text = md.MdBinaryHeapToStringHeap(in, 0);
    EXPECT_EQ(Take(text, 1, 1), std::string(1, '\0'));

    EXPECT_EQ(md.MdBinaryHeapToStringHeap(nullptr, 3), nullptr);

    // length + 1 would wrap: refused like a failed allocation, the input kept.
    in = HeapAlloc(heap, 0, 3);
    EXPECT_EQ(md.MdBinaryHeapToStringHeap(in, 0xFFFFFFFFu), nullptr);
    EXPECT_TRUE(HeapValidate(heap, 0, in));
    EXPECT_EQ(HeapSize(heap, 0, in), 3u);
    HeapFree(heap, 0, in);
}

namespace {

enum Codec {
    kB64Text,
    kB64Binary,
    kB64Decode,
    kQpText,
    kQpBinary,
    kQpDecode,
    kUtf8Encode,
    kUtf8Decode
};
const char *const kCodecNames[] = {
    "Base64EncodeText",     "Base64EncodeBinary", "Base64Decode", "QuoPrintEncodeText",
    "QuoPrintEncodeBinary", "QuoPrintDecode",     "Utf8Encode",   "Utf8Decode"};

// One export, with its length argument starting at `length`; the result or nullptr.
void *Call(const MsgDigestLibraryTable &md, Codec c, const void *data, long long length,
           long long *outLength) {
    unsigned u = static_cast<unsigned>(length);
    int i = static_cast<int>(length);
    void *r = nullptr;
    const bool isUnsigned = c == kB64Text || c == kB64Binary || c == kQpDecode;
    switch (c) {
    case kB64Text:
        r = md.MdBase64EncodeText(data, &u);
        break;
    case kB64Binary:
        r = md.MdBase64EncodeBinary(data, &u);
        break;
    case kB64Decode:
        r = md.MdBase64Decode(static_cast<const char *>(data), &i);
        break;
    case kQpText:
        r = md.MdQuoPrintEncodeText(data, &i);
        break;
    case kQpBinary:
        r = md.MdQuoPrintEncodeBinary(data, &i);
        break;
    case kQpDecode:
        r = md.MdQuoPrintDecode(static_cast<const char *>(data), &u);
        break;
    case kUtf8Encode:
        r = md.MdUtf8Encode(static_cast<const char *>(data), &i);
        break;
    case kUtf8Decode:
        r = md.MdUtf8Decode(static_cast<const char *>(data), &i);
        break;
    }
    *outLength = isUnsigned ? static_cast<long long>(u) : i;
    return r;
}

} // namespace

TEST_F(Exports, CodecsThroughTheTable) {
    struct Case {
        Codec codec;
        std::string in;
        std::string out; // empty with ok false: NULL expected
        bool ok;
        std::size_t block; // heap block size of the result
    };
    const std::string a25(25, 'a');
    const std::vector<Case> cases = {
        {kB64Text, "abc", "YWJj", true, 4},
        {kB64Text, "ab", "YWI=", true, 4},
        {kB64Text, "a", "YQ==", true, 4},
        {kB64Binary, std::string(60, 'x'), std::string(80, '\0'), true, 82},
        {kB64Binary, std::string(61, 'x'), std::string(86, '\0'), true, 88},
        {kB64Decode, "YW Jj\r\n", "abc", true, 6},
        {kB64Decode, "YQ==xyz", "a", true, 6},
        {kB64Decode, "YWJjZA", "abcd", true, 6},
        {kB64Decode, "=", "", true, 3},
        {kQpText, "a.b", "a=2Eb", true, 5},
        {kQpText, "\x05", "\x05", true, 1},
        {kQpText, "~", "=7E", true, 3},
        {kQpBinary, a25, a25 + "=\r\n", true, 28},
        {kQpBinary, a25 + "a", a25 + "=\r\na=\r\n", true, 32},
        {kQpDecode, "a=2e", "", false, 0},
        {kQpDecode, "a=\r\nb", "ab", true, 2},
        {kQpDecode, "a=", "", false, 0},
        {kQpDecode, "a=\r", "a", true, 1},
        {kQpDecode, "a=\nb", "ab", true, 2},
    };
    for (const Case &c : cases) {
        long long length = 0;
        void *r = Call(md, c.codec, c.in.data(), static_cast<long long>(c.in.size()), &length);
        SCOPED_TRACE(std::string(kCodecNames[c.codec]) + " \"" + c.in + "\"");
        if (!c.ok) {
            EXPECT_EQ(r, nullptr);
            EXPECT_EQ(length, static_cast<long long>(c.in.size()));
            continue;
        }
        const std::string got = Take(r, static_cast<std::size_t>(length), c.block);
        if (c.codec == kB64Binary) {
            // 80 characters per line of 60 bytes, CR LF after each line.
            EXPECT_EQ(got.size(), c.block);
            EXPECT_EQ(got.substr(80, 2), "\r\n");
            EXPECT_EQ(got.substr(got.size() - 2), "\r\n");
        } else {
            EXPECT_EQ(got, c.out);
        }
    }
}

TEST_F(Exports, CodecsRefuseBadArgumentsAndKeepTheLength) {
    const char text[] = "YWJj";
    for (int c = kB64Text; c <= kUtf8Decode; ++c) {
        SCOPED_TRACE(kCodecNames[c]);
        long long length = 0;
        EXPECT_EQ(Call(md, Codec(c), nullptr, kMarker, &length), nullptr);
        EXPECT_EQ(length, kMarker);
        EXPECT_EQ(Call(md, Codec(c), text, 0, &length), nullptr);
        EXPECT_EQ(length, 0);
    }
    // NULL length pointers.
    EXPECT_EQ(md.MdBase64EncodeText(text, nullptr), nullptr);
    EXPECT_EQ(md.MdBase64EncodeBinary(text, nullptr), nullptr);
    EXPECT_EQ(md.MdBase64Decode(text, nullptr), nullptr);
    EXPECT_EQ(md.MdQuoPrintEncodeText(text, nullptr), nullptr);
    EXPECT_EQ(md.MdQuoPrintEncodeBinary(text, nullptr), nullptr);
    EXPECT_EQ(md.MdQuoPrintDecode(text, nullptr), nullptr);
    EXPECT_EQ(md.MdUtf8Encode(text, nullptr), nullptr);
    EXPECT_EQ(md.MdUtf8Decode(text, nullptr), nullptr);
    // Negative lengths through the int pointers.
    for (Codec c : {kB64Decode, kQpText, kQpBinary, kUtf8Encode, kUtf8Decode}) {
        int n = -4;
        void *r = nullptr;
        switch (c) {
        case kB64Decode:
            r = md.MdBase64Decode(text, &n);
            break;
        case kQpText:
            r = md.MdQuoPrintEncodeText(text, &n);
            break;
        case kQpBinary:
            r = md.MdQuoPrintEncodeBinary(text, &n);
            break;
        case kUtf8Encode:
            r = md.MdUtf8Encode(text, &n);
            break;
        default:
            r = md.MdUtf8Decode(text, &n);
            break;
        }
        EXPECT_EQ(r, nullptr) << kCodecNames[c];
        EXPECT_EQ(n, -4) << kCodecNames[c];
    }
}

// Inputs flush against an inaccessible page: a read past the given length crashes the test.
TEST_F(Exports, NothingIsReadPastTheInput) {
    {
        GuardedInput in("a=\r");
        unsigned n = 3;
        void *r = md.MdQuoPrintDecode(in.data(), &n);
        EXPECT_EQ(Take(r, n, 1), "a");
    }
    {
        GuardedInput in("YQ");
        int n = 2;
        void *r = md.MdBase64Decode(in.data(), &n);
        EXPECT_EQ(Take(r, static_cast<std::size_t>(n), 3), "a");
    }
    {
        GuardedInput in("YWJjZA");
        int n = 6;
        void *r = md.MdBase64Decode(in.data(), &n);
        EXPECT_EQ(Take(r, static_cast<std::size_t>(n), 6), "abcd");
    }
    const CryptDataLibraryTable &cd = Bound().crypt;
    for (unsigned len = 1; len <= 3; ++len) {
        GuardedInput in(std::string(len, '\x08'));
        unsigned n = len;
        EXPECT_EQ(cd.CdDecryptRC2Data(in.data(), &n), nullptr) << len << " bytes";
        EXPECT_EQ(n, len);
    }
    {
        // N = 0xFFFFFFFF: 4 + N wraps to 3, which a check in 32 bits lets through.
        GuardedInput in(std::string("\xff\xff\xff\xff", 4) + std::string(8, 'x'));
        unsigned n = 12;
        EXPECT_EQ(cd.CdDecryptRC2Data(in.data(), &n), nullptr);
        EXPECT_EQ(n, 12u);
    }
}

TEST_F(Exports, Utf8AgainstCodePage1252) {
    ASSERT_EQ(GetACP(), 1252u) << "the test prefix's ANSI code page must be 1252";
    int n = 1;
    void *r = md.MdUtf8Encode("\xe9", &n);
    ASSERT_NE(r, nullptr);
    EXPECT_EQ(n, 2);
    EXPECT_EQ(Take(r, 3, 3), std::string("\xc3\xa9\0", 3));

    n = 2;
    r = md.MdUtf8Decode("\xc3\xa9", &n);
    ASSERT_NE(r, nullptr);
    EXPECT_EQ(n, 1);
    EXPECT_EQ(Take(r, 2, 2), std::string("\xe9\0", 2));

    n = 3; // U+4E2D has no 1252 character
    r = md.MdUtf8Decode("\xe4\xb8\xad", &n);
    ASSERT_NE(r, nullptr);
    EXPECT_EQ(Take(r, static_cast<std::size_t>(n) + 1, static_cast<std::size_t>(n) + 1),
              std::string("?\0", 2));

    // Only the given length is read: "abc" of "abcdef".
    n = 3;
    r = md.MdUtf8Encode("abcdef", &n);
    EXPECT_EQ(n, 3);
    EXPECT_EQ(Take(r, 4, 4), std::string("abc\0", 4));
}

TEST_F(Exports, CramMd5Responses) {
    struct Case {
        std::string user, secret, challenge, response;
    };
    const std::string key64 =
        Unhex("01080f161d242b323940474e555c636a71787f868d949ba2a9b0b7bec5ccd3dae1e8eff6fd040b12"
              "1920272e353c434a51585f666d747b828990979ea5acb3ba");
    const std::string rfc2195 = "PDE4OTYuNjk3MTcwOTUyQHBvc3RvZmZpY2UucmVzdG9uLm1jaS5uZXQ+";
    const std::vector<Case> cases = {
        // RFC 2195
        {"tim", "tanstaaftanstaaf", rfc2195, "dGltIGI5MTNhNjAyYzdlZGE3YTQ5NWI0ZTZlNzMzNGQzODkw"},
        // A secret of one block is used as it is; one byte more and it is hashed first.
        {"joe", key64, rfc2195, "am9lIDM5ZWRjZDA2M2NmMDU2ZTZlZGE1NzMwM2NjZjlmMDQ4"},
        {"joe", key64 + "\xc1", rfc2195, "am9lIDEzNTY1YzBiOWYyMGVjODJiOTYyZWI1ZDdhODU4MDky"},
        // A challenge of only "=" is an empty one.
        {"tim", "tanstaaftanstaaf", "=", "dGltIGJhMDAxNjU5MWQ2MTI2NjIzNDhiMjBiY2Q3ZjQ0Mzlh"},
        // An empty user name: the text starts with the space.
        {"", "k", "eA==", "IDQ0MmJhMDc5ZThlYzYyMDZmN2Y1NTM0ZDQ2NTNkYjBm"},
    };
    for (const Case &c : cases) {
        int n = kMarker;
        void *r = md.MdHashCramMD5(c.user.c_str(), c.secret.c_str(), c.challenge.c_str(), &n);
        ASSERT_NE(r, nullptr) << c.response;
        EXPECT_EQ(static_cast<std::size_t>(n), c.response.size());
        EXPECT_EQ(Take(r, c.response.size(), c.response.size()), c.response);
    }

    // RFC 2202 case 6: an 80-byte key is hashed first.
    int n = 0;
    void *r = md.MdHashCramMD5(
        "u", std::string(80, '\xaa').c_str(),
        "VGVzdCBVc2luZyBMYXJnZXIgVGhhbiBCbG9jay1TaXplIEtleSAtIEhhc2ggS2V5IEZpcnN0", &n);
    ASSERT_NE(r, nullptr);
    int decodedLength = n;
    void *decoded = md.MdBase64Decode(static_cast<const char *>(r), &decodedLength);
    HeapFree(GetProcessHeap(), 0, r);
    EXPECT_EQ(Take(decoded, static_cast<std::size_t>(decodedLength), 36),
              "u 6b1ab7fe4bd7bf8f0b62e6ce61b9d0cd");

    n = kMarker;
    EXPECT_EQ(md.MdHashCramMD5("tim", "tanstaaftanstaaf", "", &n), nullptr);
    EXPECT_EQ(md.MdHashCramMD5(nullptr, "s", "eA==", &n), nullptr);
    EXPECT_EQ(md.MdHashCramMD5("tim", nullptr, "eA==", &n), nullptr);
    EXPECT_EQ(md.MdHashCramMD5("tim", "s", nullptr, &n), nullptr);
    EXPECT_EQ(md.MdHashCramMD5("tim", "s", "eA==", nullptr), nullptr);
    EXPECT_EQ(n, kMarker);
}

TEST_F(Exports, PlainMessages) {
    int n = kMarker;
    void *r = md.MdHashPlain("abc", "", &n);
    ASSERT_NE(r, nullptr);
    EXPECT_EQ(n, 12);
    EXPECT_EQ(Take(r, 12, 12), "YWJjAGFiYwA=");

    r = md.MdHashPlain("", "pw", &n); // NUL NUL p w
    EXPECT_EQ(Take(r, static_cast<std::size_t>(n), 8), "AABwdw==");

    n = kMarker;
    EXPECT_EQ(md.MdHashPlain(nullptr, "p", &n), nullptr);
    EXPECT_EQ(md.MdHashPlain("u", nullptr, &n), nullptr);
    EXPECT_EQ(md.MdHashPlain("u", "p", nullptr), nullptr);
    EXPECT_EQ(n, kMarker);
}
