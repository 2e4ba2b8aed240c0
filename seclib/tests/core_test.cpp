// The platform-neutral codecs and layouts. On the host preset each result block is exactly the
// size asked for, so the sanitizers catch any access past it.
#include <gtest/gtest.h>

#include <algorithm>
#include <cctype>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "base64.h"
#include "digest_text.h"
#include "quoprint.h"

#include "net_address.h"
#include "snmp_key.h"

using namespace marfel;

namespace {

void *ExactAlloc(std::size_t n) {
    return std::calloc(n ? n : 1, 1);
}
void *NoAlloc(std::size_t) {
    return nullptr;
}
const ResultAllocator kExact{&ExactAlloc, &std::free};
const ResultAllocator kFailing{&NoAlloc, &std::free};

struct Result {
    bool ok = false;
    std::string bytes;
};

template <typename Codec, typename Fn> Result Run(const std::string &in, Fn fn) {
    std::uint64_t n = in.size();
    void *out = fn(Codec(), in.data(), &n);
    if (!out)
        return {};
    Result r{true, std::string(static_cast<char *>(out), n)};
    std::free(out);
    return r;
}

Result B64Encode(const std::string &in, int mode) {
    return Run<CBase64>(in, [&](const CBase64 &c, const char *d, std::uint64_t *n) {
        return c.Encode(d, n, mode, kUnsignedLimit, kExact);
    });
}
Result B64Decode(const std::string &in) {
    return Run<CBase64>(in, [&](const CBase64 &c, const char *d, std::uint64_t *n) {
        return c.Decode(d, n, kIntLimit, kExact);
    });
}
Result QpEncode(const std::string &in, int mode) {
    return Run<CQuoPrint>(in, [&](const CQuoPrint &c, const char *d, std::uint64_t *n) {
        return c.Encode(d, n, mode, kIntLimit, kExact);
    });
}
Result QpDecode(const std::string &in) {
    return Run<CQuoPrint>(in, [&](const CQuoPrint &c, const char *d, std::uint64_t *n) {
        return c.Decode(d, n, kUnsignedLimit, kExact);
    });
}

const Result kFails{};
Result Ok(const std::string &s) {
    return {true, s};
}

enum Op { kB64Text, kB64Binary, kB64Decode, kQpText, kQpBinary, kQpDecode };

struct Case {
    Op op;
    std::string in;
    Result want;
};

Result Apply(Op op, const std::string &in) {
    switch (op) {
    case kB64Text:
        return B64Encode(in, CBase64::kNoBreaks);
    case kB64Binary:
        return B64Encode(in, CBase64::kLineBreaks);
    case kB64Decode:
        return B64Decode(in);
    case kQpText:
        return QpEncode(in, CQuoPrint::kNoBreaks);
    case kQpBinary:
        return QpEncode(in, CQuoPrint::kSoftBreaks);
    case kQpDecode:
        return QpDecode(in);
    }
    return {};
}

std::string Base64Lines(const std::string &in) {
    // 60 bytes of "x" encode as 20 groups of "eHh4".
    std::string out;
    for (std::size_t i = 0; i < in.size(); i += 60) {
        out += Apply(kB64Text, in.substr(i, 60)).bytes + "\r\n";
    }
    return out;
}

} // namespace

TEST(Codecs, EdgeCases) {
    const std::string a25(25, 'a');
    const std::string x60(60, 'x'), x61(61, 'x');
    const std::vector<Case> cases = {
        // RFC 4648 section 10
        {kB64Text, "f", Ok("Zg==")},
        {kB64Text, "fo", Ok("Zm8=")},
        {kB64Text, "foo", Ok("Zm9v")},
        {kB64Text, "foob", Ok("Zm9vYg==")},
        {kB64Text, "fooba", Ok("Zm9vYmE=")},
        {kB64Text, "foobar", Ok("Zm9vYmFy")},
        {kB64Decode, "Zm9vYmFy", Ok("foobar")},
        {kB64Decode, "Zm9vYg==", Ok("foob")},
        {kB64Text, "abc", Ok("YWJj")},
        {kB64Text, "ab", Ok("YWI=")},
        {kB64Text, "a", Ok("YQ==")},
        {kB64Text, "", kFails},
        {kB64Binary, "abc", Ok("YWJj\r\n")},
        {kB64Binary, x60, Ok(Base64Lines(x60))},
        {kB64Binary, x61, Ok(Base64Lines(x61))},
        {kB64Decode, "YW Jj\r\n", Ok("abc")},
        {kB64Decode, "YQ==xyz", Ok("a")},
        // Unpadded final groups decode in full, inside the block.
        {kB64Decode, "YQ", Ok("a")},
        {kB64Decode, "YWJjZA", Ok("abcd")},
        {kB64Decode, "YWI", Ok("ab")},
        // A lone value, or "=" second, ends without a byte; no data is an empty success.
        {kB64Decode, "Y", Ok("")},
        {kB64Decode, "Y=QQ", Ok("")},
        {kB64Decode, "=", Ok("")},
        {kB64Decode, "\r\n", Ok("")},
        {kB64Decode, "*YQ*=*=", Ok("a")},
        {kB64Decode, "", kFails},
        {kQpText, "a.b", Ok("a=2Eb")},
        {kQpText, "\x05", Ok("\x05")},
        {kQpText, "~", Ok("=7E")},
        {kQpText, "a b=?_\t\r\n}", Ok("a b=3D=3F=5F=09=0D=0A}")},
        {kQpText, std::string("\0\xff", 2), Ok(std::string("\0=FF", 4))},
        {kQpBinary, a25, Ok(a25 + "=\r\n")},
        {kQpBinary, a25 + "a", Ok(a25 + "=\r\na=\r\n")},
        {kQpText, "", kFails},
        {kQpDecode, "a=2e", kFails},
        {kQpDecode, "a=2E", Ok("a.")},
        {kQpDecode, "a=\r\nb", Ok("ab")},
        {kQpDecode, "a=", kFails},
        {kQpDecode, "a=4", kFails},
        {kQpDecode, "a=G1", kFails},
        {kQpDecode, "a= b", kFails},
        // "=" CR at the end is a soft break; before anything but LF only "=" CR goes.
        {kQpDecode, "a=\r", Ok("a")},
        {kQpDecode, "a=\rb", Ok("ab")},
        {kQpDecode, "a=\r=41", Ok("aA")},
        // "=" LF is a soft break that keeps the next character.
        {kQpDecode, "a=\nb", Ok("ab")},
        {kQpDecode, "=\r\n", Ok("")},
        {kQpDecode, "", kFails},
    };
    for (const Case &c : cases) {
        const Result got = Apply(c.op, c.in);
        EXPECT_EQ(got.ok, c.want.ok) << "op " << c.op << " input \"" << c.in << "\"";
        if (got.ok && c.want.ok) {
            EXPECT_EQ(got.bytes, c.want.bytes) << "op " << c.op << " input \"" << c.in << "\"";
        }
    }
}

// Whole groups of four take a faster way through the decoder than groups that hold a skipped
// character or "=": a character of each kind at every position of a longer text decodes as the
// character-by-character rules say.
TEST(Codecs, Base64DecodeAgreesWithItsRulesAtEveryPosition) {
    // The rules, one character at a time: skip what is neither alphabet nor "="; a "=" (or the
    // end) first or second in a group ends with no byte of it, third or fourth after its bytes.
    auto rules = [](const std::string &text) {
        static const std::string alphabet =
            "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";
        std::vector<int> values;
        for (const char c : text) {
            if (c == '=')
                values.push_back(64);
            else if (const auto at = alphabet.find(c); at != std::string::npos)
                values.push_back(static_cast<int>(at));
        }
        std::string out;
        for (std::size_t i = 0;; i += 4) {
            int v[4];
            for (int k = 0; k < 4; ++k)
                v[k] = i + k < values.size() ? values[i + k] : 64;
            if (v[0] == 64 || v[1] == 64)
                break;
            out += static_cast<char>((v[0] << 2) | (v[1] >> 4));
            if (v[2] == 64)
                break;
            out += static_cast<char>(((v[1] & 15) << 4) | (v[2] >> 2));
            if (v[3] == 64)
                break;
            out += static_cast<char>(((v[2] & 3) << 6) | v[3]);
        }
        return out;
    };
    std::string bytes;
    for (int i = 0; i < 30; ++i)
        bytes += static_cast<char>(i * 37 + 11);
    const std::string text = B64Encode(bytes, CBase64::kNoBreaks).bytes; // 40 characters
    ASSERT_EQ(text.size(), 40u);
    for (const std::string inserted : {"*", "=", "\r\n", "\xff", "==", "A"}) {
        for (std::size_t at = 0; at <= text.size(); ++at) {
            const std::string in = text.substr(0, at) + inserted + text.substr(at);
            const Result got = B64Decode(in);
            ASSERT_TRUE(got.ok) << in;
            EXPECT_EQ(got.bytes, rules(in)) << "\"" << inserted << "\" at " << at;
        }
    }
    EXPECT_EQ(B64Decode(text).bytes, bytes);
}

TEST(Codecs, FailedAllocationAndNullArguments) {
    std::uint64_t n = 3;
    EXPECT_EQ(CBase64().Encode("abc", &n, 1, kUnsignedLimit, kFailing), nullptr);
    EXPECT_EQ(CBase64().Decode("YWJj", &n, kUnsignedLimit, kFailing), nullptr);
    EXPECT_EQ(CQuoPrint().Encode("abc", &n, 1, kUnsignedLimit, kFailing), nullptr);
    EXPECT_EQ(CQuoPrint().Decode("abc", &n, kUnsignedLimit, kFailing), nullptr);
    EXPECT_EQ(n, 3u);
    EXPECT_EQ(CBase64().Encode(nullptr, &n, 1, kUnsignedLimit, kExact), nullptr);
    EXPECT_EQ(CBase64().Decode("YWJj", nullptr, kUnsignedLimit, kExact), nullptr);
    EXPECT_EQ(CQuoPrint().Encode(nullptr, &n, 1, kUnsignedLimit, kExact), nullptr);
    EXPECT_EQ(CQuoPrint().Decode("abc", nullptr, kUnsignedLimit, kExact), nullptr);
}

// Sizes are computed in 64 bits and checked against what the length argument can carry;
// in 32 bits they wrap and the block comes out too small.
TEST(Codecs, OutputSizesDoNotWrap) {
    EXPECT_EQ(CBase64::EncodedSize(0xFFFFFFFFu, CBase64::kNoBreaks, kUnsignedLimit), std::nullopt);
    EXPECT_EQ(CBase64::EncodedSize(0xC0000000u, CBase64::kLineBreaks, kUnsignedLimit),
              std::nullopt);
    EXPECT_EQ(CBase64::EncodedSize(0x60000000u, CBase64::kNoBreaks, kIntLimit), std::nullopt);
    // The largest input whose text still fits 32 bits, with and without breaks.
    EXPECT_EQ(CBase64::EncodedSize(3221225469u, CBase64::kNoBreaks, kUnsignedLimit), 4294967292u);
    EXPECT_EQ(CBase64::EncodedSize(3221225470u, CBase64::kNoBreaks, kUnsignedLimit), std::nullopt);
    EXPECT_EQ(CBase64::EncodedSize(60, CBase64::kLineBreaks, kUnsignedLimit), 82u);
    EXPECT_EQ(CBase64::DecodeCapacity(6), 6u);
    EXPECT_EQ(CBase64::DecodeCapacity(0xFFFFFFFFu), 3221225472u);

    const std::string escaped(10, '=');
    EXPECT_EQ(CQuoPrint::EncodedSize(escaped.data(), 10, CQuoPrint::kNoBreaks, 29), std::nullopt);
    EXPECT_EQ(CQuoPrint::EncodedSize(escaped.data(), 10, CQuoPrint::kNoBreaks, 30), 30u);
    EXPECT_EQ(CQuoPrint::EncodedSize(escaped.data(), 10, CQuoPrint::kSoftBreaks, 32), std::nullopt);
    std::uint64_t n = 10;
    EXPECT_EQ(CQuoPrint().Encode(escaped.data(), &n, CQuoPrint::kNoBreaks, 29, kExact), nullptr);
    EXPECT_EQ(n, 10u);
}

namespace {

// Plain restatements of the decoding rules, used to judge the sweep.
Result ReferenceBase64(const std::string &in) {
    std::vector<int> v;
    for (unsigned char c : in) {
        const char *alphabet = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";
        const char *at = c ? std::strchr(alphabet, c) : nullptr;
        if (c == '=') {
            v.push_back(64);
        } else if (at) {
            v.push_back(static_cast<int>(at - alphabet));
        }
    }
    while (v.size() % 4)
        v.push_back(64);
    std::string out;
    for (std::size_t g = 0; g < v.size(); g += 4) {
        if (v[g] == 64 || v[g + 1] == 64)
            break;
        out += static_cast<char>((v[g] << 2) | (v[g + 1] >> 4));
        if (v[g + 2] == 64)
            break;
        out += static_cast<char>(((v[g + 1] & 15) << 4) | (v[g + 2] >> 2));
        if (v[g + 3] == 64)
            break;
        out += static_cast<char>(((v[g + 2] & 3) << 6) | v[g + 3]);
    }
    return Ok(out);
}

Result ReferenceQp(const std::string &in) {
    std::string out;
    for (std::size_t i = 0; i < in.size();) {
        if (in[i] != '=') {
            out += in[i++];
        } else if (in.compare(i, 3, "=\r\n") == 0) {
            i += 3;
        } else if (in.compare(i, 2, "=\r") == 0 || in.compare(i, 2, "=\n") == 0) {
            i += 2;
        } else if (i + 2 < in.size() && std::isxdigit(static_cast<unsigned char>(in[i + 1])) &&
                   std::isxdigit(static_cast<unsigned char>(in[i + 2])) &&
                   !std::islower(in[i + 1]) && !std::islower(in[i + 2])) {
            out += static_cast<char>(std::stoi(in.substr(i + 1, 2), nullptr, 16));
            i += 3;
        } else {
            return kFails;
        }
    }
    return Ok(out);
}

} // namespace

TEST(Codecs, SweepOfShortTexts) {
    const char symbols[] = {'A', 'Q', '/', '=', '\r', '\n', ' ', '*'};
    std::string text;
    std::size_t checked = 0;
    for (int len = 1; len <= 5; ++len) {
        std::vector<int> digit(len, 0);
        for (;;) {
            text.assign(len, ' ');
            for (int i = 0; i < len; ++i)
                text[i] = symbols[digit[i]];
            const Result b = B64Decode(text), bw = ReferenceBase64(text);
            ASSERT_TRUE(b.ok) << text;
            ASSERT_EQ(b.bytes, bw.bytes) << text;
            const Result q = QpDecode(text), qw = ReferenceQp(text);
            ASSERT_EQ(q.ok, qw.ok) << text;
            ASSERT_EQ(q.bytes, qw.bytes) << text;
            ++checked;
            int i = 0;
            while (i < len && ++digit[i] == 8)
                digit[i++] = 0;
            if (i == len)
                break;
        }
    }
    EXPECT_EQ(checked, 8u + 64 + 512 + 4096 + 32768);
}

TEST(Codecs, QuotedPrintableRoundTripsEveryByte) {
    std::string all;
    for (int b = 0; b < 256; ++b)
        all += static_cast<char>(b);
    for (int mode : {CQuoPrint::kNoBreaks, CQuoPrint::kSoftBreaks}) {
        for (int b = 0; b < 256; ++b) {
            const std::string one(1, static_cast<char>(b));
            const Result enc = QpEncode(one, mode);
            ASSERT_TRUE(enc.ok);
            EXPECT_EQ(enc.bytes.size(),
                      (CQuoPrint::IsEscaped(static_cast<unsigned char>(b)) ? 3u : 1u) +
                          (mode == CQuoPrint::kSoftBreaks ? 3u : 0u));
            EXPECT_EQ(QpDecode(enc.bytes).bytes, one) << "byte " << b << " mode " << mode;
        }
        const Result enc = QpEncode(all, mode);
        ASSERT_TRUE(enc.ok);
        const Result dec = QpDecode(enc.bytes);
        ASSERT_TRUE(dec.ok);
        EXPECT_EQ(dec.bytes, all) << "mode " << mode;
    }
    // Base64 too, across a line break.
    EXPECT_EQ(B64Decode(B64Encode(all, CBase64::kLineBreaks).bytes).bytes, all);
}

TEST(Digest, BinaryToHex) {
    const unsigned char bytes[] = {0x00, 0x0f, 0x10, 0xab, 0xff};
    std::uint64_t n = sizeof bytes;
    char *hex = static_cast<char *>(BinaryToHex(bytes, &n, kExact));
    ASSERT_NE(hex, nullptr);
    EXPECT_EQ(n, 10u);
    EXPECT_STREQ(hex, "000f10abff");
    std::free(hex);
    n = 0;
    hex = static_cast<char *>(BinaryToHex(bytes, &n, kExact));
    ASSERT_NE(hex, nullptr);
    EXPECT_EQ(n, 0u);
    EXPECT_EQ(hex[0], '\0');
    std::free(hex);
    n = 3;
    EXPECT_EQ(BinaryToHex(nullptr, &n, kExact), nullptr);
    EXPECT_EQ(BinaryToHex(bytes, nullptr, kExact), nullptr);
}

TEST(Digest, HmacPads) {
    const HmacPads pads = MakeHmacPads("\x01\x02", 2);
    EXPECT_EQ(pads.inner[0], 0x37);
    EXPECT_EQ(pads.inner[1], 0x34);
    EXPECT_EQ(pads.inner[2], 0x36);
    EXPECT_EQ(pads.outer[0], 0x5D);
    EXPECT_EQ(pads.outer[63], 0x5C);
}

TEST(Digest, Rc2LayoutIsCheckedWithoutWrapping) {
    // Each input is exactly `length` bytes on the heap: a read past it is caught.
    struct LayoutCase {
        std::vector<unsigned char> bytes;
        bool ok;
        std::uint32_t blob, cipher;
    };
    auto layout = [](std::uint32_t n, std::size_t cipher) {
        std::vector<unsigned char> v = {
            static_cast<unsigned char>(n), static_cast<unsigned char>(n >> 8),
            static_cast<unsigned char>(n >> 16), static_cast<unsigned char>(n >> 24)};
        v.resize(4 + (n < 1000 ? n : 0) + cipher, 0xEE);
        return v;
    };
    const std::vector<LayoutCase> cases = {
        {{}, false, 0, 0},
        {{0x01}, false, 0, 0},
        {{0x01, 0x00}, false, 0, 0},
        {{0x01, 0x00, 0x00}, false, 0, 0},
        {layout(0, 0), false, 0, 0},           // nothing after the length
        {layout(0xFFFFFFFFu, 8), false, 0, 0}, // 4 + N wraps
        {layout(0xFFFFFFFCu, 8), false, 0, 0}, // 4 + N + 4 wraps to within length
        {layout(12, 0), false, 0, 0},          // N = length - 4: no ciphertext
        {layout(12, 7), false, 0, 0},          // ciphertext not whole blocks
        {layout(12, 8), true, 12, 8},
        {layout(140, 16), true, 140, 16},
        {layout(0, 8), true, 0, 8},
    };
    for (const LayoutCase &c : cases) {
        auto *copy = static_cast<unsigned char *>(ExactAlloc(c.bytes.size()));
        std::copy(c.bytes.begin(), c.bytes.end(), copy);
        const auto got = ParseRc2Layout(copy, static_cast<std::uint32_t>(c.bytes.size()));
        EXPECT_EQ(got.has_value(), c.ok) << "length " << c.bytes.size();
        if (got && c.ok) {
            EXPECT_EQ(got->blobLength, c.blob);
            EXPECT_EQ(got->cipherOffset, 4 + c.blob);
            EXPECT_EQ(got->cipherLength, c.cipher);
        }
        std::free(copy);
    }
    EXPECT_EQ(ParseRc2Layout(nullptr, 20), std::nullopt);
}

TEST(SnmpKey, HexToBinary) {
    struct HexCase {
        std::string text;
        std::size_t size;
        std::string want; // empty: 0 expected
    };
    const std::string digits128(128, '7');
    const std::vector<HexCase> cases = {
        {"", 8, ""},
        {"0", 8, ""},
        {"0a", 8, "\x0a"},
        {"0A", 8, "\x0a"},
        {"zz", 8, std::string(1, '\0')},
        {"4a656665", 8, "Jefe"},
        {"4a656665", 3, ""}, // more bytes than room
        {"4a656665", 4, "Jefe"},
        {digits128, 64, std::string(64, '\x77')},
        {digits128 + "77", 64, ""},
    };
    for (const HexCase &c : cases) {
        // The text sits in an exact block with its terminator, so a read past it is caught.
        char *text = static_cast<char *>(ExactAlloc(c.text.size() + 1));
        std::memcpy(text, c.text.c_str(), c.text.size() + 1);
        std::vector<unsigned char> out(c.size + 1, 0xEE);
        const std::size_t n = HexToBinary(text, out.data(), c.size);
        EXPECT_EQ(n, c.want.size()) << "\"" << c.text << "\" into " << c.size;
        EXPECT_EQ(std::string(out.begin(), out.begin() + n), c.want);
        if (n == 0) {
            EXPECT_EQ(out[0], 0xEE) << "nothing written on failure";
        }
        EXPECT_EQ(out[c.size], 0xEE) << "nothing written past the room";
        std::free(text);
    }
    unsigned char out[4];
    EXPECT_EQ(HexToBinary(nullptr, out, 4), 0u);
}

namespace {

struct ScriptedDraws {
    std::vector<std::uint32_t> values;
    std::size_t next = 0;
};

std::uint32_t Scripted(void *state) {
    auto *s = static_cast<ScriptedDraws *>(state);
    const std::uint32_t v = s->values[s->next % s->values.size()];
    ++s->next;
    return v;
}

} // namespace

TEST(SnmpKey, SaltValues) {
    // Even, below 32768, whatever the generator gives.
    ScriptedDraws wide{{0xFFFFFFFFu, 0x12345679u, 1u}};
    EXPECT_EQ(NextSaltValue(&Scripted, &wide, 0), 0x7FFEu);
    EXPECT_EQ(NextSaltValue(&Scripted, &wide, 0), 0x5678u);
    EXPECT_EQ(NextSaltValue(&Scripted, &wide, 0x5678u), 0u);

    // A value equal to the previous one is drawn again.
    ScriptedDraws repeat{{100, 100, 101, 202}};
    EXPECT_EQ(NextSaltValue(&Scripted, &repeat, 100), 202u);
    EXPECT_EQ(repeat.next, 4u);

    // A generator stuck on one value still gives a different, valid value, in bounded time.
    ScriptedDraws stuck{{64}};
    const std::uint32_t v = NextSaltValue(&Scripted, &stuck, 64);
    EXPECT_NE(v, 64u);
    EXPECT_EQ(v % 2, 0u);
    EXPECT_LT(v, 32768u);

    unsigned char salt[8];
    WriteSalt(1, 0x1234, salt);
    EXPECT_EQ(std::string(reinterpret_cast<char *>(salt), 8),
              std::string("\0\0\0\x01\0\0\x12\x34", 8));
    WriteSalt(0x01020304, 0x7FFE, salt);
    EXPECT_EQ(std::string(reinterpret_cast<char *>(salt), 8),
              std::string("\x01\x02\x03\x04\0\0\x7f\xfe", 8));
}

TEST(NetAddress, FormatNumericAddress) {
    struct AddressCase {
        AddressFamily family;
        std::vector<unsigned char> bytes;
        std::uint32_t scope;
        std::string text;
    };
    auto v6 = [](std::initializer_list<unsigned> groups) {
        std::vector<unsigned char> b;
        for (unsigned g : groups) {
            b.push_back(static_cast<unsigned char>(g >> 8));
            b.push_back(static_cast<unsigned char>(g));
        }
        return b;
    };
    const std::vector<AddressCase> cases = {
        {AddressFamily::kIpv6, v6({0xfe80, 0, 0, 0, 0, 0, 0, 1}), 4, "fe80::1%4"},
        {AddressFamily::kIpv6, v6({0xfe80, 0, 0, 0, 0, 0, 0, 1}), 0, "fe80::1"},
        {AddressFamily::kIpv6, v6({1, 0, 0, 0, 0, 0, 0, 0}), 0, "1::"},
        {AddressFamily::kIpv6, v6({0, 0, 0, 0, 0, 0, 0, 1}), 7, "::1"},
        {AddressFamily::kIpv6, v6({0, 0, 0, 0, 0, 0, 0, 0}), 0, "::"},
        {AddressFamily::kIpv6, v6({0x2001, 0xdb8, 0, 1, 0, 0, 0, 0xABCD}), 0,
         "2001:db8::1:0:0:0:abcd"},
        {AddressFamily::kIpv6, v6({1, 2, 3, 4, 5, 6, 7, 8}), 0, "1:2:3:4:5:6:7:8"},
        {AddressFamily::kIpv6, v6({0x2001, 0, 0, 0, 0, 0, 0, 0}), 3, "2001::"},
        {AddressFamily::kIpv4, {127, 0, 0, 1}, 0, "127.0.0.1"},
        {AddressFamily::kIpv4, {255, 255, 255, 255}, 9, "255.255.255.255"},
    };
    for (const AddressCase &c : cases) {
        // The need-size query first: only the length is stored.
        unsigned length = 0;
        char out[80];
        std::memset(out, '#', sizeof out);
        EXPECT_EQ(FormatNumericAddress(c.family, c.bytes.data(), c.scope, out, &length), 1);
        EXPECT_EQ(length, c.text.size() + 1) << c.text;
        EXPECT_EQ(out[0], '#');
        length = static_cast<unsigned>(c.text.size()); // one short
        EXPECT_EQ(FormatNumericAddress(c.family, c.bytes.data(), c.scope, out, &length), 1);
        length = static_cast<unsigned>(c.text.size() + 1);
        EXPECT_EQ(FormatNumericAddress(c.family, c.bytes.data(), c.scope, out, &length), 0);
        EXPECT_EQ(length, c.text.size() + 1);
        EXPECT_EQ(std::string(out, c.text.size()), c.text);
        EXPECT_EQ(out[c.text.size()], '#') << "no zero byte is written";
    }
    unsigned length = 10;
    EXPECT_EQ(FormatNumericAddress(AddressFamily::kIpv4, nullptr, 0, nullptr, &length), 2);
}

TEST(NetAddress, ParseScopeId) {
    EXPECT_EQ(ParseScopeId("fe80::1%4"), 4);
    EXPECT_EQ(ParseScopeId("fe80::1%12%3"), 12);
    EXPECT_EQ(ParseScopeId("fe80::1"), -1);
    EXPECT_EQ(ParseScopeId("fe80::1%"), -1);
    EXPECT_EQ(ParseScopeId("fe80::1%x"), -1);
    EXPECT_EQ(ParseScopeId("%0"), 0);
    EXPECT_EQ(ParseScopeId("%99999999999"), -1);
    EXPECT_EQ(ParseScopeId(nullptr), -1);
}
